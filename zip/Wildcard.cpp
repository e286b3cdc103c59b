#include "zip/Wildcard.h"

namespace quv {

namespace {

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + ('a' - 'A'));
  }
  return out;
}

unsigned char Byte(std::string_view s, std::size_t i) { return static_cast<unsigned char>(s[i]); }

// The main matcher on texts that are already lower-cased.
TMatchResult Match(std::string_view pattern, std::string_view text) {
  if (pattern == "*") return mrMatch;
  const std::size_t plen = pattern.size();
  const std::size_t tlen = text.size();
  std::size_t p = 0;
  std::size_t t = 0;
  while (p < plen) {
    if (t >= tlen) return (pattern[p] == '*' && p == plen - 1) ? mrMatch : mrTextShorter;
    const char c = pattern[p];
    if (c == '*') {
      TStarSet star;
      if (p + 1 < plen && pattern[p + 1] == '<') {
        std::size_t q = p;
        ParseStarSet(pattern, q, star);
        if (star.Members.none()) return mrTextShorter;
        return MatchStarRun(pattern.substr(q), text.substr(t), star);
      }
      return MatchStarRun(pattern.substr(p), text.substr(t), star);
    }
    if (c == '<') {
      ++p;
      bool negated = false;
      if (p < plen && (pattern[p] == '!' || pattern[p] == '^')) {
        negated = true;
        ++p;
      }
      if (p >= plen || pattern[p] == '>') return mrBadPattern;
      const unsigned char tc = Byte(text, t);
      bool accepted = false;
      while (!accepted) {
        if (p >= plen) return mrBadPattern;
        if (pattern[p] == '>') break;
        const unsigned char first = Byte(pattern, p);
        if (p + 1 < plen && pattern[p + 1] == '-') {
          if (p + 2 >= plen || pattern[p + 2] == '>') return mrBadPattern;
          accepted = first <= tc && tc <= Byte(pattern, p + 2);
          p += 3;
        } else {
          accepted = first == tc;
          ++p;
        }
      }
      if (accepted == negated) return mrSetMismatch;
      while (p < plen && pattern[p] != '>') ++p;
      if (p >= plen) return mrBadPattern;
      ++p;
      ++t;
      continue;
    }
    if (c == '?') {
      ++p;
      ++t;
      continue;
    }
    if (c != text[t]) return mrCharMismatch;
    ++p;
    ++t;
  }
  return t < tlen ? mrTextLonger : mrMatch;
}

}  // namespace

bool WildcardMatches(const std::string& pattern, const std::string& name) { return WildMatch(pattern, name) == mrMatch; }

TMatchResult WildMatch(std::string_view pattern, std::string_view text) { return Match(Lower(pattern), Lower(text)); }

TMatchResult MatchStarRun(std::string_view pattern, std::string_view text, const TStarSet& star) {
  const std::size_t plen = pattern.size();
  const std::size_t tlen = text.size();
  const bool hasSet = star.Members.any();
  std::size_t p = 0;
  std::size_t t = 0;
  while (p < plen && t < tlen && (pattern[p] == '*' || pattern[p] == '?')) {
    if (pattern[p] == '?') ++t;
    ++p;
  }
  // The end of the pattern is tested first, so that "*?" matches a
  // one-character name just as "?*" does.
  if (p >= plen && !hasSet) return mrMatch;
  if (t >= tlen && p < plen) return mrTextShorter;
  for (std::size_t k = t; k < tlen; ++k) {
    if (p < plen && (pattern[p] == text[k] || pattern[p] == '<')) {
      if (Match(pattern.substr(p), text.substr(k)) == mrMatch) return mrMatch;
    }
    // A set star must be able to take this character before trying further on.
    if (hasSet && !star.Accepts(Byte(text, k))) return mrTextShorter;
  }
  return p >= plen ? mrMatch : mrTextShorter;
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
