#include "install/UninstallEntry.h"

#include <windows.h>

#include "install/Paths.h"
#include "zip/Text.h"

namespace quv {

namespace {

struct KeyCloser {
  HKEY key = nullptr;
  ~KeyCloser() {
    if (key) RegCloseKey(key);
  }
};

LONG SetString(HKEY key, const char* name, const std::string& text) {
  return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                        static_cast<DWORD>(text.size() + 1));
}

LONG SetNumber(HKEY key, const char* name, DWORD number) {
  return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number);
}

LONG DeleteEntry() {
  const LONG result = RegDeleteKeyA(HKEY_LOCAL_MACHINE, kUninstallKey);
  return result == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : result;
}

}  // namespace

UninstallEntrySnapshot ReadUninstallEntry() {
  UninstallEntrySnapshot snapshot;
  KeyCloser k;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kUninstallKey, 0, KEY_READ, &k.key) != ERROR_SUCCESS) return snapshot;
  snapshot.existed = true;
  for (DWORD index = 0;; ++index) {
    char name[16384];
    DWORD nameSize = sizeof name;
    DWORD type = 0, dataSize = 0;
    if (RegEnumValueA(k.key, index, name, &nameSize, nullptr, &type, nullptr, &dataSize) != ERROR_SUCCESS) break;
    std::string data(dataSize, '\0');
    nameSize = sizeof name;
    if (RegEnumValueA(k.key, index, name, &nameSize, nullptr, &type, reinterpret_cast<BYTE*>(data.data()),
                      &dataSize) != ERROR_SUCCESS)
      break;
    data.resize(dataSize);
    snapshot.values.push_back(RegistryValue{std::string(name, nameSize), type, data});
  }
  return snapshot;
}

InstalledVersion ReadInstalledVersion() {
  InstalledVersion installed;
  for (const RegistryValue& value : ReadUninstallEntry().values) {
    if (value.type != REG_SZ && value.type != REG_EXPAND_SZ) continue;
    const std::string text(value.data.c_str());
    if (value.name == "DisplayVersion") installed.version = text;
    if (value.name == "InstallLocation") installed.folder = text;
  }
  // "C:\Quv" names the folder "C:\Quv"; a drive's root keeps its backslash.
  while (installed.folder.size() > 3 && text::LastCharIs(installed.folder, '\\')) installed.folder.pop_back();
  return installed;
}

std::uint32_t WriteUninstallEntry(const UninstallEntry& entry) {
  if (const LONG result = DeleteEntry()) return static_cast<std::uint32_t>(result);
  KeyCloser k;
  LONG result = RegCreateKeyExA(HKEY_LOCAL_MACHINE, kUninstallKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &k.key,
                                nullptr);
  if (result != ERROR_SUCCESS) return static_cast<std::uint32_t>(result);
  const std::string folder = WithTrailingBackslash(entry.folder);
  const std::string uninstaller = "\"" + folder + "UnInstall.exe\"";
  const LONG results[] = {
      SetString(k.key, "DisplayName", entry.displayName),
      SetString(k.key, "DisplayVersion", entry.version),
      SetString(k.key, "Publisher", entry.publisher),
      SetString(k.key, "InstallLocation", folder),
      SetString(k.key, "DisplayIcon", folder + "QuvSvr.exe,0"),
      SetString(k.key, "UninstallString", uninstaller),
      SetString(k.key, "QuietUninstallString", uninstaller + " /SILENT"),
      SetNumber(k.key, "EstimatedSize", entry.estimatedSizeKb),
      SetNumber(k.key, "NoModify", 1),
      SetNumber(k.key, "NoRepair", 1),
  };
  for (LONG r : results) {
    if (r != ERROR_SUCCESS) return static_cast<std::uint32_t>(r);
  }
  return 0;
}

std::uint32_t RestoreUninstallEntry(const UninstallEntrySnapshot& snapshot) {
  if (const LONG result = DeleteEntry()) return static_cast<std::uint32_t>(result);
  if (!snapshot.existed) return 0;
  KeyCloser k;
  LONG result = RegCreateKeyExA(HKEY_LOCAL_MACHINE, kUninstallKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &k.key,
                                nullptr);
  for (const RegistryValue& v : snapshot.values) {
    if (result != ERROR_SUCCESS) break;
    result = RegSetValueExA(k.key, v.name.c_str(), 0, v.type, reinterpret_cast<const BYTE*>(v.data.data()),
                            static_cast<DWORD>(v.data.size()));
  }
  return static_cast<std::uint32_t>(result);
}

}  // namespace quv
