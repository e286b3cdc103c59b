// Wildcard matching of entry paths: stars, sets, star sets, malformed
// patterns and the behaviour at the end of the name.
#include <gtest/gtest.h>

#include <string>

#include "zip/Wildcard.h"

namespace {

using quv::WildcardMatches;
using quv::WildMatch;

TEST(Wildcard, StarsCrossFoldersAndFoldCase) {
  EXPECT_TRUE(WildcardMatches("*.txt", "docs\\readme.txt"));
  EXPECT_TRUE(WildcardMatches("*.txt", "README.TXT"));
  EXPECT_FALSE(WildcardMatches("*.txt", "readme.txt.bak"));
  EXPECT_TRUE(WildcardMatches("docs\\*", "docs\\a\\b.c"));
  EXPECT_TRUE(WildcardMatches("*a*b*c", "xxaxxbxxbxc"));
  EXPECT_FALSE(WildcardMatches("*a*b*c", "xxaxxbxxbx"));
  EXPECT_TRUE(WildcardMatches("?b?", "abc"));
  EXPECT_FALSE(WildcardMatches("?b?", "abcd"));
  EXPECT_TRUE(WildcardMatches("[a]*", "[a]b")) << "square brackets are literal";
  EXPECT_TRUE(WildcardMatches("*", ""));
  EXPECT_TRUE(WildcardMatches("", ""));
  EXPECT_FALSE(WildcardMatches("", "a"));
  EXPECT_FALSE(WildcardMatches("a", ""));
}

TEST(Wildcard, ResultCodes) {
  EXPECT_EQ(WildMatch("abc", "abc"), quv::mrMatch);
  EXPECT_EQ(WildMatch("ab", "abc"), quv::mrTextLonger);
  EXPECT_EQ(WildMatch("abc", "ab"), quv::mrTextShorter);
  EXPECT_EQ(WildMatch("abd", "abc"), quv::mrCharMismatch);
  EXPECT_EQ(WildMatch("<xy>", "a"), quv::mrSetMismatch);
  EXPECT_EQ(WildMatch("<>", "a"), quv::mrBadPattern);
  EXPECT_EQ(WildMatch("*<>", "a"), quv::mrTextShorter) << "an empty star set";
}

TEST(Wildcard, EndOfNameTakesOnlyOneFinalStar) {
  EXPECT_TRUE(WildcardMatches("a*", "a"));
  EXPECT_FALSE(WildcardMatches("a**", "a"));
  EXPECT_TRUE(WildcardMatches("a**", "ab"));
  EXPECT_TRUE(WildcardMatches("*?", "ab"));
  EXPECT_TRUE(WildcardMatches("*?", "a")) << "the pattern's end is tested before the text's";
  EXPECT_FALSE(WildcardMatches("*??", "a"));
}

TEST(Wildcard, OneCharacterSets) {
  EXPECT_TRUE(WildcardMatches("<a-c>x", "bx"));
  EXPECT_TRUE(WildcardMatches("<a-c>x", "Bx"));
  EXPECT_FALSE(WildcardMatches("<a-c>x", "dx"));
  EXPECT_TRUE(WildcardMatches("<!a-c>x", "dx"));
  EXPECT_TRUE(WildcardMatches("<^a-c>x", "dx"));
  EXPECT_FALSE(WildcardMatches("<!a-c>x", "bx"));
  EXPECT_FALSE(WildcardMatches("<c-a>x", "bx"));
  EXPECT_FALSE(WildcardMatches("<c-a>x", "ax"));
  EXPECT_TRUE(WildcardMatches("<xyz>1", "y1"));
  EXPECT_TRUE(WildcardMatches("<-a>", "-")) << "a dash first is a member";
  EXPECT_TRUE(WildcardMatches("<\xB0-\xF7>", "\xC4")) << "ranges compare byte values";
  for (const char* bad : {"<>", "<a", "<a->", "<!", "<a-", "<!>"}) {
    EXPECT_EQ(WildMatch(bad, "a"), quv::mrBadPattern) << bad;
    EXPECT_FALSE(WildcardMatches(bad, "")) << bad;
  }
  EXPECT_EQ(WildMatch("<a", "a"), quv::mrBadPattern) << "an accepted member still needs its closing bracket";
}

TEST(Wildcard, StarSets) {
  EXPECT_TRUE(WildcardMatches("*<0-9>", "2024"));
  EXPECT_FALSE(WildcardMatches("*<0-9>", "20a4"));
  EXPECT_FALSE(WildcardMatches("*<0-9>", ""));
  EXPECT_TRUE(WildcardMatches("*<0-9>x", "x"));
  EXPECT_TRUE(WildcardMatches("*<0-9>x", "12x"));
  EXPECT_FALSE(WildcardMatches("*<0-9>x", "1a2x"));
  EXPECT_TRUE(WildcardMatches("*<!.>.zip", "backup.zip"));
  EXPECT_FALSE(WildcardMatches("*<!.>.zip", "a.b.zip"));
  EXPECT_TRUE(WildcardMatches("*<a-c>", "ABBA"));
  EXPECT_FALSE(WildcardMatches("*<a-", "a")) << "an unclosed star set";
  EXPECT_FALSE(WildcardMatches("x*<ab", "xa"));
}

TEST(Wildcard, StarSetParsingAndTheSearchAfterAStar) {
  quv::TStarSet star;
  std::size_t pos = 0;
  quv::ParseStarSet("*<!a-cx>rest", pos, star);
  EXPECT_EQ(pos, 8u);
  EXPECT_TRUE(star.Negated);
  EXPECT_EQ(star.Members.count(), 4u);
  EXPECT_FALSE(star.Accepts('b'));
  EXPECT_TRUE(star.Accepts('r'));

  pos = 0;
  quv::ParseStarSet("*<a-c", pos, star);
  EXPECT_EQ(pos, 5u);
  EXPECT_TRUE(star.Members.none());

  pos = 0;
  quv::ParseStarSet("*<0->x>", pos, star);  // "0->" is a range up to ">"
  EXPECT_EQ(pos, 7u);
  EXPECT_TRUE(star.Members.test('5'));
  EXPECT_TRUE(star.Members.test('>'));
  EXPECT_TRUE(star.Members.test('x'));
  EXPECT_FALSE(star.Members.test('?'));

  quv::TStarSet none;
  EXPECT_EQ(quv::MatchStarRun("*.c", "x.c", none), quv::mrMatch);
  EXPECT_EQ(quv::MatchStarRun("*.c", "x.h", none), quv::mrTextShorter);
  EXPECT_EQ(quv::MatchStarRun("*??", "a", none), quv::mrTextShorter);
}

TEST(Wildcard, LongNamesAndPatternsStayInBounds) {
  const std::string name(4000, 'a');
  EXPECT_TRUE(WildcardMatches("*a", name));
  EXPECT_FALSE(WildcardMatches("*b", name));
  EXPECT_TRUE(WildcardMatches("*<a>", name));
  EXPECT_FALSE(WildcardMatches(name + "a", name));
  EXPECT_TRUE(WildcardMatches(std::string(4000, '?'), name));
}

}  // namespace
