#include "install/Paths.h"

#include "zip/Text.h"

namespace quv {

std::string WithTrailingBackslash(const std::string& folder) {
  if (folder.empty() || text::LastCharIs(folder, '\\')) return folder;
  return folder + '\\';
}

}  // namespace quv

namespace quv::paths {

bool IsAbsoluteFolder(const std::string& folder) {
  const auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
  if (folder.size() >= 3 && letter(folder[0]) && folder[1] == ':' && folder[2] == '\\') return true;
  // "\\server\share": a server name and a share name after the two backslashes.
  if (folder.size() < 5 || folder.compare(0, 2, "\\\\") != 0) return false;
  const std::size_t share = folder.find('\\', 2);
  return share != std::string::npos && share > 2 && share + 1 < folder.size() && folder[share + 1] != '\\';
}

bool IsNetworkFolder(const std::string& folder) { return folder.compare(0, 2, "\\\\") == 0; }

bool IsDriveRoot(const std::string& folder) {
  return folder.size() >= 3 && folder[1] == ':' && folder.find_first_not_of('\\', 2) == std::string::npos;
}

bool HasDotPart(const std::string& path) {
  // Split at slashes and backslashes that are characters of their own (a
  // trail byte may have the value of one); the system takes both.
  bool found = false;
  std::size_t start = 0;
  const auto check = [&](std::size_t end) {
    const std::string_view part(path.data() + start, end - start);
    found = found || part == "." || part == "..";
  };
  text::ForEachChar(path, [&](std::size_t at, unsigned char c) {
    if (c != '\\' && c != '/') return;
    check(at);
    start = at + 1;
  });
  check(path.size());
  return found;
}

bool IsInsideFolder(const std::string& path, const std::string& folder) {
  const std::string prefix = WithTrailingBackslash(folder);
  if (prefix.empty() || HasDotPart(path) || HasDotPart(folder) || path.size() <= prefix.size()) return false;
  // The same bytes split into the same characters: path's prefix ends in a
  // backslash of its own as folder's does.
  return text::SameText(std::string_view(path).substr(0, prefix.size()), prefix);
}

}  // namespace quv::paths
