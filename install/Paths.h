// Path text helpers shared by the wizard and its installation code. Paths
// are byte strings in the system's multi-byte code page, so every search for
// "\" or ":" walks whole characters: the second byte of a double-byte
// character may have the value of a backslash. Portable (no Windows calls),
// so the unit tests build them natively as well.
#pragma once

#include <string>

namespace quv {

// text with one trailing backslash ensured; an empty text stays empty. The last
// character is judged in the system's multi-byte code page, so the trail byte
// 0x5C of a double-byte character is not taken for a backslash.
std::string WithTrailingBackslash(const std::string& text);

}  // namespace quv

namespace quv::paths {

// The text up to and including its last "\" or ":" (empty when there is none).
std::string FolderPart(const std::string& path);
// The text after the last "\" or ":".
std::string FileNamePart(const std::string& path);
// name with the extension (from the last dot of its file-name part onward)
// replaced by extension, or extension appended when there is no such dot.
std::string ChangeFileExtension(const std::string& name, const std::string& extension);

// Whether folder names its place fully: a drive letter, ":" and "\", or a
// network share "\\server\share". Anything else would depend on the
// current folder or drive.
bool IsAbsoluteFolder(const std::string& folder);

// Upper-cases a to z only; every other byte stays as it is.
std::string UpperAscii(std::string text);

}  // namespace quv::paths
