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

}  // namespace quv::paths
