// Wildcard matching of entry paths: stars, sets, star sets, malformed
// patterns and the behaviour at the end of the name.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <string_view>

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

// The matcher as it was first written: after a star, the rest of the pattern
// tried again at every place (exponential in the stars). Kept as the oracle
// that the table-driven matcher answers the same.
quv::TMatchResult ReferenceMatch(std::string_view pattern, std::string_view text);

quv::TMatchResult ReferenceStarRun(std::string_view pattern, std::string_view text, const quv::TStarSet& star) {
  std::size_t p = 0, t = 0;
  while (p < pattern.size() && t < text.size() && (pattern[p] == '*' || pattern[p] == '?')) t += pattern[p++] == '?';
  if (p >= pattern.size() && star.Members.none()) return quv::mrMatch;
  if (t >= text.size() && p < pattern.size()) return quv::mrTextShorter;
  for (std::size_t k = t; k < text.size(); ++k) {
    if (p < pattern.size() && (pattern[p] == text[k] || pattern[p] == '<') &&
        ReferenceMatch(pattern.substr(p), text.substr(k)) == quv::mrMatch) {
      return quv::mrMatch;
    }
    if (star.Members.any() && !star.Accepts(static_cast<unsigned char>(text[k]))) return quv::mrTextShorter;
  }
  return p >= pattern.size() ? quv::mrMatch : quv::mrTextShorter;
}

quv::TMatchResult ReferenceMatch(std::string_view pattern, std::string_view text) {
  if (pattern == "*") return quv::mrMatch;
  for (std::size_t p = 0, t = 0;; ++t) {
    if (p >= pattern.size()) return t < text.size() ? quv::mrTextLonger : quv::mrMatch;
    if (t >= text.size()) return pattern[p] == '*' && p + 1 == pattern.size() ? quv::mrMatch : quv::mrTextShorter;
    if (pattern[p] == '*') {
      quv::TStarSet star;
      if (p + 1 < pattern.size() && pattern[p + 1] == '<') {
        quv::ParseStarSet(pattern, p, star);
        if (star.Members.none()) return quv::mrTextShorter;
      }
      return ReferenceStarRun(pattern.substr(p), text.substr(t), star);
    }
    if (pattern[p] == '<') {
      // One-character sets: the same walk as the matcher's, answered through it.
      std::size_t close = pattern.find('>', p);
      const quv::TMatchResult one = WildMatch(pattern.substr(p, close == std::string_view::npos ? std::string_view::npos
                                                                                               : close - p + 1),
                                              text.substr(t, 1));
      if (one != quv::mrMatch) return one;
      p = close + 1;
      continue;
    }
    if (pattern[p] != '?' && pattern[p] != text[t]) return quv::mrCharMismatch;
    ++p;
  }
}

TEST(Wildcard, SameAnswersAsTryingEveryPlaceAfterEveryStar) {
  std::mt19937 random(20261208);
  const std::string patternAlphabet = "ab.*?*<a-b><!a>*<b.>";
  int matches = 0;
  for (int round = 0; round < 40000; ++round) {
    std::string pattern, text;
    for (int n = random() % 9; n > 0; --n) pattern += patternAlphabet[random() % patternAlphabet.size()];
    for (int n = random() % 9; n > 0; --n) text += "ab."[random() % 3];
    const quv::TMatchResult expected = ReferenceMatch(pattern, text);
    ASSERT_EQ(WildMatch(pattern, text), expected) << '"' << pattern << "\" against \"" << text << '"';
    matches += expected == quv::mrMatch;
  }
  EXPECT_GT(matches, 1000);
}

// Trying again after every star took seconds to hours on these.
TEST(Wildcard, ManyStarsAgainstLongNamesFinishAtOnce) {
  EXPECT_FALSE(WildcardMatches("*a*a*a*a*a*b", std::string(100, 'a')));
  std::string dots;
  for (int i = 0; i < 4000; ++i) dots += "/.";
  EXPECT_FALSE(WildcardMatches("*/*/*.txt", dots));
  EXPECT_TRUE(WildcardMatches("*/*/*.txt", dots + "a.txt"));
  EXPECT_FALSE(WildcardMatches("*<a/>*<a/>*<a/>*b", std::string(65535, 'a')));
}

}  // namespace
