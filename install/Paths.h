// Path rules of the wizard and its installation code. Portable (no Windows
// calls), so the unit tests build them natively as well. The name parts and
// case folding are zip/Text.h's.
#pragma once

#include <string>

namespace quv {

// text with one trailing backslash ensured; an empty text stays empty. The last
// character is judged in the system's multi-byte code page, so the trail byte
// 0x5C of a double-byte character is not taken for a backslash.
std::string WithTrailingBackslash(const std::string& text);

}  // namespace quv

namespace quv::paths {

// Whether folder names its place fully: a drive letter, ":" and "\", or a
// network share "\\server\share". Anything else would depend on the
// current folder or drive.
bool IsAbsoluteFolder(const std::string& folder);
// "\\server\share...": a folder on another machine.
bool IsNetworkFolder(const std::string& folder);
// A drive's root ("C:\", with any number of trailing backslashes).
bool IsDriveRoot(const std::string& folder);
// Whether a part of the path between (back)slashes is "." or "..": such a
// path names another folder than it seems to.
bool HasDotPart(const std::string& path);
// Whether path lies inside folder (a full path, trailing backslash or not),
// compared with only a to z folded; folder itself is not inside. Paths with
// a "." or ".." part are never inside.
bool IsInsideFolder(const std::string& path, const std::string& folder);

}  // namespace quv::paths
