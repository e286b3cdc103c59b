// Name operations the component needs on archive and disk names: the folder,
// name and extension parts, and case-insensitive comparison. "\", "/" and
// ":" end a folder part; the second byte of a double-byte character in the
// system code page is never taken for a separator.
#pragma once

#include <string>

namespace quv::names {

// Index just past the last separator (0 when there is none).
std::size_t NameStart(const std::string& path);
// The folder part, with its separator ("" when there is none).
std::string ExtractFilePath(const std::string& path);
std::string ExtractFileName(const std::string& path);
// The extension with its dot ("" when the name has none).
std::string ExtractFileExt(const std::string& path);
// path with its extension replaced by ext (ext includes the dot), or with
// ext appended when it has none.
std::string ChangeFileExt(const std::string& path, const std::string& ext);
// ASCII letters folded; other bytes compared as they are.
bool SameText(const std::string& a, const std::string& b);
std::string UpperCase(const std::string& text);
// Whether the last character (judged in the system code page) is c.
bool LastCharIs(const std::string& text, char c);
// Why Windows would not create a file or folder of this name as it stands
// ("" when it would): a device name (CON, PRN, AUX, NUL, COM0-9, LPT0-9 and
// the superscript-digit forms, with any extension), a colon (an alternate
// data stream) or a trailing dot or space (trimmed away).
std::string WindowsNameFault(const std::string& name);
// Whether two file names name the same file: letter case folded on Windows only.
bool SameFileName(const std::string& a, const std::string& b);
// Decimal n with at least width digits, zero-padded ("%3.3d" for width 3).
std::string ZeroPadded(long n, int width);

}  // namespace quv::names
