#include "install/Paths.h"

#include "platform/Platform.h"

namespace quv {

std::string WithTrailingBackslash(const std::string& text) {
  if (text.empty()) return text;
  const std::size_t last = platform::LastCharStart(text);
  if (last == text.size() - 1 && text[last] == '\\') return text;
  return text + '\\';
}

}  // namespace quv

namespace quv::paths {

namespace {
// Index just past the last "\" or ":" standing for itself, or 0.
std::size_t NameStart(const std::string& path) {
  std::size_t start = 0;
  for (std::size_t i = 0; i < path.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(path[i]);
    if (platform::IsLeadByte(c) && i + 1 < path.size()) {
      ++i;
      continue;
    }
    if (c == '\\' || c == ':') start = i + 1;
  }
  return start;
}
}  // namespace

std::string FolderPart(const std::string& path) { return path.substr(0, NameStart(path)); }

std::string FileNamePart(const std::string& path) { return path.substr(NameStart(path)); }

std::string ChangeFileExtension(const std::string& name, const std::string& extension) {
  std::size_t dot = std::string::npos;
  for (std::size_t i = NameStart(name); i < name.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(name[i]);
    if (platform::IsLeadByte(c) && i + 1 < name.size()) {
      ++i;
      continue;
    }
    if (c == '.') dot = i;
  }
  return (dot == std::string::npos ? name : name.substr(0, dot)) + extension;
}

bool IsAbsoluteFolder(const std::string& folder) {
  const auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
  if (folder.size() >= 3 && letter(folder[0]) && folder[1] == ':' && folder[2] == '\\') return true;
  // "\\server\share": a server name and a share name after the two backslashes.
  if (folder.size() < 5 || folder.compare(0, 2, "\\\\") != 0) return false;
  const std::size_t share = folder.find('\\', 2);
  return share != std::string::npos && share > 2 && share + 1 < folder.size() && folder[share + 1] != '\\';
}

std::string UpperAscii(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

}  // namespace quv::paths
