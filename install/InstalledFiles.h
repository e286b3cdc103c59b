// The installed-file list: lines "File<index>=<full path>N" in the system code
// page, saved as "install.dl" in the install folder for the uninstaller.
#pragma once

#include <string>
#include <vector>

namespace quv {

using InstalledFileList = std::vector<std::string>;

inline constexpr char kInstallListName[] = "install.dl";

// "File" + index + "=" + path + "N"
std::string InstalledFileLine(int index, const std::string& path);

// Writes the lines, each followed by CR LF, to path (created or truncated).
// Raises EFCreateError ("Cannot create file <path>") or EWriteError; the
// system's last error tells why.
void SaveInstalledFiles(const InstalledFileList& files, const std::string& path);

}  // namespace quv
