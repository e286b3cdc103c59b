#include "zip/Utils.h"

#include <limits>

namespace quv {

namespace {

// floor(a * b / d) and the remainder for a < d, small b, d > 0, exactly,
// without a 128-bit type (the i686 compiler has none).
void MulDiv(std::uint64_t a, std::uint32_t b, std::uint64_t d, std::uint64_t& quotient, std::uint64_t& remainder) {
  // a * b as a 128-bit value in (hi, lo).
  const std::uint64_t aLo = a & 0xFFFFFFFFu;
  const std::uint64_t aHi = a >> 32;
  const std::uint64_t pLo = aLo * b;
  const std::uint64_t pHi = aHi * b + (pLo >> 32);
  std::uint64_t hi = pHi >> 32;
  std::uint64_t lo = (pHi << 32) | (pLo & 0xFFFFFFFFu);
  // Shift-subtract division of (hi, lo) by d.
  std::uint64_t q = 0;
  std::uint64_t r = 0;
  for (int bit = 127; bit >= 0; --bit) {
    const bool carry = (r >> 63) != 0;
    r <<= 1;
    r |= bit >= 64 ? (hi >> (bit - 64)) & 1u : (lo >> bit) & 1u;
    if (carry || r >= d) {
      r -= d;
      if (bit < 64) q |= std::uint64_t{1} << bit;
    }
  }
  quotient = q;
  remainder = r;
}

// Rounds |part| * 100 / total half to even; total > 0.
std::int32_t PercentageOf(std::int64_t total, std::int64_t part) {
  const bool negative = part < 0;
  const std::uint64_t magnitude = negative ? 0 - static_cast<std::uint64_t>(part) : static_cast<std::uint64_t>(part);
  const auto d = static_cast<std::uint64_t>(total);
  if (!negative && magnitude >= d) return 100;
  const std::uint64_t whole = magnitude / d;
  if (whole > 21474836) return std::numeric_limits<std::int32_t>::min();
  std::uint64_t q = 0;
  std::uint64_t r = 0;
  MulDiv(magnitude % d, 100, d, q, r);
  q += whole * 100;
  // Compare the remainder with half the divisor without overflowing.
  const std::uint64_t rest = d - r;
  if (r > rest || (r == rest && (q & 1u) != 0)) ++q;
  const auto value = static_cast<std::int64_t>(q);
  if (!negative) return static_cast<std::int32_t>(value > 100 ? 100 : value);
  return value > 2147483648LL ? std::numeric_limits<std::int32_t>::min() : static_cast<std::int32_t>(-value);
}

}  // namespace

std::int32_t Percentage(std::int32_t total, std::int32_t part) {
  if (total <= 0) return 0;
  return PercentageOf(total, part);
}

std::int32_t Percentage(std::int64_t total, std::int64_t part) {
  if (total <= 0) return 0;
  return PercentageOf(total, part);
}

std::string& SlashesToBackslashes(std::string& text) {
  for (char& c : text) {
    if (c == '/') c = '\\';
  }
  return text;
}

std::string RightStr(const std::string& text, std::int32_t n) {
  if (n <= 0) return std::string();
  const auto count = static_cast<std::size_t>(n);
  return count >= text.size() ? text : text.substr(text.size() - count);
}

std::string LeftStr(const std::string& text, std::int32_t n) {
  if (n <= 0) return std::string();
  return text.substr(0, static_cast<std::size_t>(n));
}

}  // namespace quv
