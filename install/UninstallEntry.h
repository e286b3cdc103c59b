// The installation's entry in Programs and Features (Add or Remove Programs):
// the key "ZRQuvSvr" under HKEY_LOCAL_MACHINE
// "Software\Microsoft\Windows\CurrentVersion\Uninstall" (for a 32-bit
// program on 64-bit Windows the system files it in the 32-bit view, where
// the list looks for 32-bit programs).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quv {

inline constexpr char kUninstallKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ZRQuvSvr";

struct RegistryValue {
  std::string name;
  std::uint32_t type = 0;
  std::string data;
};
// The entry as it was, to put back when an installation fails.
struct UninstallEntrySnapshot {
  bool existed = false;
  std::vector<RegistryValue> values;
};

struct UninstallEntry {
  std::string displayName, version, publisher;
  std::string folder;  // the install folder, no trailing backslash needed
  std::uint32_t estimatedSizeKb = 0;
};

UninstallEntrySnapshot ReadUninstallEntry();
// The version ("DisplayVersion") and folder ("InstallLocation", without a
// trailing backslash) of the installation the entry names; empty when none.
struct InstalledVersion {
  std::string version, folder;
};
InstalledVersion ReadInstalledVersion();
// Replaces the entry (values of an older installation go) with the display
// name, version, publisher, install location, size, icon (the service
// program), the uninstaller's command lines, plain and quiet ("/SILENT"),
// and no modify or repair. Answers 0 or the system error code.
std::uint32_t WriteUninstallEntry(const UninstallEntry& entry);
// Puts the snapshot back: the key deleted when it did not exist. Answers 0
// or the system error code.
std::uint32_t RestoreUninstallEntry(const UninstallEntrySnapshot& snapshot);

}  // namespace quv
