// Whole-text, case-insensitive wildcard matching of entry paths: "?" one
// character, "*" any run, "<...>" a one-character set (negated with "!" or
// "^", ranges x-y), "*<...>" a run of characters from a set.
#pragma once

#include <bitset>
#include <cstddef>
#include <string>
#include <string_view>

namespace quv {

enum TMatchResult : int {
  mrMatch = 1,
  mrTextLonger = 2,
  mrTextShorter = 3,
  mrSetMismatch = 4,
  mrCharMismatch = 5,
  mrBadPattern = 6,
};

// The set that restricts a star; empty Members means the star has none.
struct TStarSet {
  std::bitset<256> Members;
  bool Negated = false;
  bool Accepts(unsigned char c) const { return Members.test(c) != Negated; }
};

// WildMatch(pattern, name) == mrMatch.
bool WildcardMatches(const std::string& pattern, const std::string& name);
// The main matcher (folds A-Z in both texts first).
TMatchResult WildMatch(std::string_view pattern, std::string_view text);
// The search after a star: pattern is the rest of the pattern (from the star
// itself when the star has no set), text the rest of the text; both already
// lower-cased.
TMatchResult MatchStarRun(std::string_view pattern, std::string_view text, const TStarSet& star);
// Reads the set after the star at pattern[pos] ("*<...>"); pos moves past the
// closing ">" (or to the end). A set that runs past the pattern's end is
// discarded and star.Members left empty.
void ParseStarSet(std::string_view pattern, std::size_t& pos, TStarSet& star);

}  // namespace quv
