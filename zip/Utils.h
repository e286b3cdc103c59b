// Small operations shared by the records, the lists, the component and the
// decoders' progress reports.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace quv {

std::int64_t Min64(std::int64_t a, std::int64_t b);
std::int64_t Max64(std::int64_t a, std::int64_t b);

// 0 when total <= 0; otherwise part * 100 / total rounded to the nearest
// integer (halves to even), at most 100.
std::int32_t Percentage(std::int32_t total, std::int32_t part);
std::int32_t Percentage(std::int64_t total, std::int64_t part);

// Replaces every "/" by "\" in place; answers text.
std::string& SlashesToBackslashes(std::string& text);
// The last / first n characters (the whole text when shorter; empty for n <= 0).
std::string RightStr(const std::string& text, std::int32_t n);
std::string LeftStr(const std::string& text, std::int32_t n);

bool DirExists(const std::string& path);
bool ForceDirs(const std::string& path);
bool FileExists(const std::string& path);
// Current directory of a drive (0 = current drive).
std::string GetDriveDir(std::uint8_t drive);
// Volume label of the drive whose root ("A:\") is given; empty on failure.
std::string GetVolumeLabel(const std::string& rootPath);

// A copy of a zero-terminated text; null gives the empty string.
std::string PCharToStr(const char* text);
// A new zero-terminated copy; the empty text gives null.
std::unique_ptr<char[]> StrToPChar(const std::string& text);

}  // namespace quv
