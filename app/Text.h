// Small text helpers of the wizard. Portable (no window code), so the unit
// tests build them natively as well as for Windows.
#pragma once

#include <string>

namespace quv {

// What the application's error box shows for an error message: the message
// with a full stop appended when its last character sorts after ".".
std::string ErrorBoxText(const std::string& message);

}  // namespace quv
