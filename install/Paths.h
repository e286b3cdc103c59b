// Path text helpers shared by the wizard's installation code. Paths are byte
// strings in the system's multi-byte code page, so every search for "\" or
// ":" walks whole characters: the second byte of a double-byte character may
// have the value of a backslash.
// In a namespace of their own: the wizard window has its own
// WithTrailingBackslash in namespace quv.
#pragma once

#include <string>

namespace quv::paths {

// The text with one trailing backslash ensured; an empty text stays empty.
std::string WithTrailingBackslash(const std::string& text);

// The text up to and including its last "\" or ":" (empty when there is none).
std::string FolderPart(const std::string& path);
// The text after the last "\" or ":".
std::string FileNamePart(const std::string& path);
// name with the extension (from the last dot of its file-name part onward)
// replaced by extension, or extension appended when there is no such dot.
std::string ChangeFileExtension(const std::string& name, const std::string& extension);

// Upper-cases a to z only; every other byte stays as it is.
std::string UpperAscii(std::string text);

}  // namespace quv::paths
