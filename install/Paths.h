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

}  // namespace quv::paths
