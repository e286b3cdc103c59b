// Small operations shared by the records, the lists, the component and the
// decoders' progress reports.
#pragma once

#include <cstdint>
#include <string>

namespace quv {

// 0 when total <= 0; otherwise part * 100 / total rounded to the nearest
// integer (halves to even), at most 100.
std::int32_t Percentage(std::int32_t total, std::int32_t part);
std::int32_t Percentage(std::int64_t total, std::int64_t part);

// Replaces every "/" by "\" in place; answers text.
std::string& SlashesToBackslashes(std::string& text);
// The last / first n characters (the whole text when shorter; empty for n <= 0).
std::string RightStr(const std::string& text, std::int32_t n);
std::string LeftStr(const std::string& text, std::int32_t n);

}  // namespace quv
