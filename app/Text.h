// Small text helpers of the wizard. Portable (no window code), so the unit
// tests build them natively as well as for Windows.
#pragma once

#include <string>

namespace quv {

// text with one trailing backslash ensured; an empty text stays empty. The last
// character is judged in the system's multi-byte code page, so the trail byte
// 0x5C of a double-byte character is not taken for a backslash.
std::string WithTrailingBackslash(const std::string& text);

// What the application's error box shows for an error message: the message
// with a full stop appended when its last character sorts after ".".
std::string ErrorBoxText(const std::string& message);

}  // namespace quv
