#include "zip/Wildcard.h"

#include <memory>
#include <vector>

#include "zip/Text.h"

namespace quv {

namespace {

unsigned char Byte(std::string_view s, std::size_t i) { return static_cast<unsigned char>(s[i]); }

// The matcher over one lower-cased pattern and text. Every attempt after a
// star is the main walk from some (pattern, text) position, so its answer is
// a function of those two positions: each star's answers for every text
// position are worked out once, from the end of the text backwards, and
// looked up after that. A match therefore costs about the text's length
// times the pattern's, where trying every place after every star again
// would grow exponentially with the stars.
class Matcher {
 public:
  Matcher(std::string_view pattern, std::string_view text) : pattern_(pattern), text_(text) {}

  // The main walk from pattern position p and text position t.
  TMatchResult Walk(std::size_t p, std::size_t t);
  // The search after a star whose rest of the pattern starts at restPos.
  TMatchResult StarRun(std::size_t restPos, const TStarSet& star, std::size_t t);

 private:
  // One star: where its rest of the pattern starts, its set, and for every
  // text position k whether the search from k on finds a place to end.
  struct StarAnswers {
    std::size_t restPos;
    TStarSet star;
    std::size_t afterSkip;  // first rest position that is neither "*" nor "?"
    std::vector<TMatchResult> fromPosition;
  };
  const StarAnswers& AnswersFor(std::size_t restPos, const TStarSet& star);
  TMatchResult WalkOneCharSet(std::size_t& p, std::size_t& t);

  std::string_view pattern_;
  std::string_view text_;
  std::vector<std::unique_ptr<StarAnswers>> stars_;
};

TMatchResult Matcher::Walk(std::size_t p, std::size_t t) {
  const std::size_t plen = pattern_.size();
  const std::size_t tlen = text_.size();
  while (p < plen) {
    if (t >= tlen) return (pattern_[p] == '*' && p == plen - 1) ? mrMatch : mrTextShorter;
    const char c = pattern_[p];
    if (c == '*') {
      TStarSet star;
      if (p + 1 < plen && pattern_[p + 1] == '<') {
        std::size_t q = p;
        ParseStarSet(pattern_, q, star);
        if (star.Members.none()) return mrTextShorter;
        return StarRun(q, star, t);
      }
      return StarRun(p, star, t);
    }
    if (c == '<') {
      const TMatchResult result = WalkOneCharSet(p, t);
      if (result != mrMatch) return result;
      continue;
    }
    if (c != '?' && c != text_[t]) return mrCharMismatch;
    ++p;
    ++t;
  }
  return t < tlen ? mrTextLonger : mrMatch;
}

// A one-character set at p against the text character at t; on acceptance
// both positions move past it and the answer is mrMatch.
TMatchResult Matcher::WalkOneCharSet(std::size_t& p, std::size_t& t) {
  const std::size_t plen = pattern_.size();
  ++p;
  bool negated = false;
  if (p < plen && (pattern_[p] == '!' || pattern_[p] == '^')) {
    negated = true;
    ++p;
  }
  if (p >= plen || pattern_[p] == '>') return mrBadPattern;
  const unsigned char tc = Byte(text_, t);
  bool accepted = false;
  while (!accepted) {
    if (p >= plen) return mrBadPattern;
    if (pattern_[p] == '>') break;
    const unsigned char first = Byte(pattern_, p);
    if (p + 1 < plen && pattern_[p + 1] == '-') {
      if (p + 2 >= plen || pattern_[p + 2] == '>') return mrBadPattern;
      accepted = first <= tc && tc <= Byte(pattern_, p + 2);
      p += 3;
    } else {
      accepted = first == tc;
      ++p;
    }
  }
  if (accepted == negated) return mrSetMismatch;
  while (p < plen && pattern_[p] != '>') ++p;
  if (p >= plen) return mrBadPattern;
  ++p;
  ++t;
  return mrMatch;
}

TMatchResult Matcher::StarRun(std::size_t restPos, const TStarSet& star, std::size_t t) {
  const std::size_t plen = pattern_.size();
  const std::size_t tlen = text_.size();
  const bool hasSet = star.Members.any();
  // Stars and question marks right after the star, while text remains.
  std::size_t p = restPos;
  while (p < plen && t < tlen && (pattern_[p] == '*' || pattern_[p] == '?')) {
    if (pattern_[p] == '?') ++t;
    ++p;
  }
  // The end of the pattern is tested first, so that "*?" matches a
  // one-character name just as "?*" does.
  if (p >= plen && !hasSet) return mrMatch;
  if (t >= tlen && p < plen) return mrTextShorter;
  return AnswersFor(restPos, star).fromPosition[t];
}

const Matcher::StarAnswers& Matcher::AnswersFor(std::size_t restPos, const TStarSet& star) {
  for (const auto& known : stars_) {
    if (known->restPos == restPos) return *known;
  }
  const std::size_t plen = pattern_.size();
  const std::size_t tlen = text_.size();
  auto answers = std::make_unique<StarAnswers>();
  answers->restPos = restPos;
  answers->star = star;
  std::size_t rest = restPos;
  while (rest < plen && (pattern_[rest] == '*' || pattern_[rest] == '?')) ++rest;
  answers->afterSkip = rest;
  // From position k the star either ends there (the rest of the pattern
  // matches from k), refuses the character (a set star), or takes it and
  // goes on; past the text's end only a used-up pattern is a match.
  std::vector<TMatchResult>& from = answers->fromPosition;
  from.assign(tlen + 1, rest >= plen ? mrMatch : mrTextShorter);
  const bool hasSet = star.Members.any();
  for (std::size_t k = tlen; k-- > 0;) {
    const bool candidate = rest < plen && (pattern_[rest] == text_[k] || pattern_[rest] == '<');
    if (candidate && Walk(rest, k) == mrMatch) {
      from[k] = mrMatch;
    } else if (hasSet && !star.Accepts(Byte(text_, k))) {
      from[k] = mrTextShorter;
    } else {
      from[k] = from[k + 1];
    }
  }
  stars_.push_back(std::move(answers));
  return *stars_.back();
}

}  // namespace

bool WildcardMatches(const std::string& pattern, const std::string& name) { return WildMatch(pattern, name) == mrMatch; }

TMatchResult WildMatch(std::string_view pattern, std::string_view name) {
  const std::string lowerPattern = text::LowerAscii(std::string(pattern));
  const std::string lowerText = text::LowerAscii(std::string(name));
  if (lowerPattern == "*") return mrMatch;
  return Matcher(lowerPattern, lowerText).Walk(0, 0);
}

TMatchResult MatchStarRun(std::string_view pattern, std::string_view text, const TStarSet& star) {
  return Matcher(pattern, text).StarRun(0, star, 0);
}

void ParseStarSet(std::string_view pattern, std::size_t& pos, TStarSet& star) {
  const std::size_t plen = pattern.size();
  star.Members.reset();
  star.Negated = false;
  pos += 2;  // the star and "<"
  if (pos < plen && (pattern[pos] == '!' || pattern[pos] == '^')) {
    star.Negated = true;
    ++pos;
  }
  bool closed = false;
  while (pos < plen) {
    if (pattern[pos] == '>') {
      closed = true;
      break;
    }
    if (pos + 1 < plen && pattern[pos + 1] == '-') {
      if (pos + 2 >= plen) break;  // the range runs past the end
      const unsigned char lo = Byte(pattern, pos);
      const unsigned char hi = Byte(pattern, pos + 2);
      for (unsigned v = lo; v <= hi; ++v) star.Members.set(v);
      pos += 3;
    } else {
      star.Members.set(Byte(pattern, pos));
      ++pos;
    }
  }
  if (!closed) {
    // Not closed: the set is discarded.
    star.Members.reset();
    pos = plen;
    return;
  }
  ++pos;
}

}  // namespace quv
