#include "unzip/FileNames.h"


#include "platform/Platform.h"
#include "zip/Text.h"

namespace quv::names {

namespace {

// The superscript digits 1, 2 and 3, which Windows takes as COM and LPT
// numbers too: in UTF-8 and as single bytes of the Western code pages.
bool IsDeviceDigit(const std::string& rest) {
  if (rest.size() == 1) {
    const auto c = static_cast<unsigned char>(rest[0]);
    return (c >= '0' && c <= '9') || c == 0xB9 || c == 0xB2 || c == 0xB3;
  }
  return rest == "\xC2\xB9" || rest == "\xC2\xB2" || rest == "\xC2\xB3";
}

bool IsDeviceName(const std::string& name) {
  std::string stem = text::UpperAscii(name.substr(0, name.find('.')));
  while (!stem.empty() && stem.back() == ' ') stem.pop_back();
  if (stem == "CON" || stem == "PRN" || stem == "AUX" || stem == "NUL" || stem == "CONIN$" || stem == "CONOUT$")
    return true;
  return stem.size() > 3 && (stem.compare(0, 3, "COM") == 0 || stem.compare(0, 3, "LPT") == 0) &&
         IsDeviceDigit(stem.substr(3));
}

}  // namespace

std::string WindowsNameFault(const std::string& name) {
  if (IsDeviceName(name)) return "\"" + name + "\" is a device name on Windows";
  if (name.find(':') != std::string::npos) return "\"" + name + "\" holds a colon (a stream name on Windows)";
  if (!name.empty() && (name.back() == '.' || name.back() == ' ')) return "\"" + name + "\" ends in a dot or space, which Windows drops";
  return std::string();
}

bool SameFileName(const std::string& a, const std::string& b) { return platform::kIsWindows ? text::SameText(a, b) : a == b; }

}  // namespace quv::names
