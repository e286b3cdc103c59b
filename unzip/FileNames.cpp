#include "unzip/FileNames.h"

#include <cstdio>

#include "platform/Platform.h"

namespace quv::names {

namespace {

// Calls f(index, byte) for the first byte of every character.
template <class F>
void ForEachChar(const std::string& text, F f) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    f(i, c);
    if (platform::IsLeadByte(c) && i + 1 < text.size()) ++i;
  }
}

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

std::size_t NameStart(const std::string& path) {
  std::size_t start = 0;
  ForEachChar(path, [&](std::size_t i, unsigned char c) {
    if (c == '\\' || c == '/' || c == ':') start = i + 1;
  });
  return start;
}

std::string ExtractFilePath(const std::string& path) { return path.substr(0, NameStart(path)); }

std::string ExtractFileName(const std::string& path) { return path.substr(NameStart(path)); }

std::string ExtractFileExt(const std::string& path) {
  const std::size_t start = NameStart(path);
  std::size_t dot = std::string::npos;
  ForEachChar(path, [&](std::size_t i, unsigned char c) {
    if (i >= start && c == '.') dot = i;
  });
  return dot == std::string::npos ? std::string() : path.substr(dot);
}

std::string ChangeFileExt(const std::string& path, const std::string& ext) {
  return path.substr(0, path.size() - ExtractFileExt(path).size()) + ext;
}

bool SameText(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

std::string UpperCase(const std::string& text) {
  std::string out = text;
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

bool LastCharIs(const std::string& text, char c) {
  if (text.empty()) return false;
  const std::size_t last = platform::LastCharStart(text);
  return last == text.size() - 1 && text[last] == c;
}

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
  std::string stem = UpperCase(name.substr(0, name.find('.')));
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

bool SameFileName(const std::string& a, const std::string& b) { return platform::kIsWindows ? SameText(a, b) : a == b; }

std::string ZeroPadded(long n, int width) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.*ld", width, n);
  return buf;
}

}  // namespace quv::names
