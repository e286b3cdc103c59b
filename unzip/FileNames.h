// File-name rules the component needs beyond zip/Text.h: names Windows would
// not create, and when two names name the same file.
#pragma once

#include <string>

namespace quv::names {

// Why Windows would not create a file or folder of this name as it stands
// ("" when it would): a device name (CON, PRN, AUX, NUL, COM0-9, LPT0-9 and
// the superscript-digit forms, with any extension), a colon (an alternate
// data stream) or a trailing dot or space (trimmed away).
std::string WindowsNameFault(const std::string& name);
// Whether two file names name the same file: letter case folded on Windows only.
bool SameFileName(const std::string& a, const std::string& b);

}  // namespace quv::names
