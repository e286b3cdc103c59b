#include "install/Shortcut.h"

#include <windows.h>
#include <objidl.h>
#include <shlguid.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <cstdio>
#include <vector>

#include "install/Errors.h"
#include "install/Installation.h"
#include "platform/Platform.h"
#include "zip/Text.h"

namespace quv {

using namespace text;

namespace {

constexpr char kShellFoldersKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

// Releases a COM interface when it leaves scope.
template <typename T>
class ComRef {
 public:
  ComRef() = default;
  ~ComRef() {
    if (p_) p_->Release();
  }
  ComRef(const ComRef&) = delete;
  ComRef& operator=(const ComRef&) = delete;
  T* operator->() const { return p_; }
  void** out() { return reinterpret_cast<void**>(&p_); }

 private:
  T* p_ = nullptr;
};

class RegKey {
 public:
  ~RegKey() {
    if (h_) RegCloseKey(h_);
  }
  HKEY* out() { return &h_; }
  HKEY get() const { return h_; }

 private:
  HKEY h_ = nullptr;
};

[[noreturn]] void RaiseOle(HRESULT hr) {
  char text[64];
  std::snprintf(text, sizeof text, "OLE error %08lX", static_cast<unsigned long>(hr));
  throw EOleSysError(text);
}

// A string value as stored (expandable strings are not expanded); empty
// when missing. Other value types are refused like the registry wrapper does.
std::string ReadString(HKEY key, const std::string& value) {
  DWORD type = 0, size = 0;
  if (RegQueryValueExA(key, value.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return std::string();
  if (type != REG_SZ && type != REG_EXPAND_SZ) throw ERegistryException("Invalid data type for '" + value + "'");
  std::string data(size, '\0');
  if (size && RegQueryValueExA(key, value.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size) !=
                  ERROR_SUCCESS)
    return std::string();
  data.resize(size);
  while (!data.empty() && data.back() == '\0') data.pop_back();
  return data;
}

// The folder of a location code, or empty.
std::string LocationFolder(HKEY key, std::uint8_t location) {
  switch (location) {
    case kDesktop: return ReadString(key, "Desktop");
    case kStartMenu: return ReadString(key, "Start Menu");
    case kPrograms: return ReadString(key, "Programs");
    case kStartup: return ReadString(key, "Startup");
    case kQuickLaunch: return ReadString(key, "AppData") + "\\Microsoft\\Internet Explorer\\Quick Launch";
    default: return std::string();
  }
}

std::string CommonPrograms() {
  char folder[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathA(nullptr, CSIDL_COMMON_PROGRAMS, nullptr, SHGFP_TYPE_CURRENT, folder))) return "";
  return folder;
}

// The folder of a location code from the user's Shell Folders, or empty.
std::string UserLocationFolder(std::uint8_t location) {
  RegKey key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kShellFoldersKey, 0, KEY_READ, key.out()) != ERROR_SUCCESS) return "";
  return LocationFolder(key.get(), location);
}

std::wstring Widen(const std::string& text) {
  int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  if (n > 0) MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
  return wide;
}

}  // namespace

std::uint8_t ProgramsLocationFor(void* userSid) {
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  PSID localSystem = nullptr;
  if (!AllocateAndInitializeSid(&nt, 1, SECURITY_LOCAL_SYSTEM_RID, 0, 0, 0, 0, 0, 0, 0, &localSystem)) return kPrograms;
  const bool isSystem = userSid && IsValidSid(userSid) && EqualSid(userSid, localSystem);
  FreeSid(localSystem);
  return isSystem ? kCommonPrograms : kPrograms;
}

std::uint8_t ProgramsLocation() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return kPrograms;
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::vector<BYTE> buffer(size ? size : sizeof(TOKEN_USER));
  const bool read = GetTokenInformation(token, TokenUser, buffer.data(), static_cast<DWORD>(buffer.size()), &size);
  CloseHandle(token);
  return read ? ProgramsLocationFor(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid) : kPrograms;
}

bool CreateShortcut(const std::string& target, const std::string& name, std::uint8_t location,
                    const std::string& subfolder, int index, InstalledFileList& files,
                    InstallTransaction* transaction) {
  ComRef<IShellLinkA> link;
  ComRef<IPersistFile> file;
  HRESULT hr = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                                IID_IShellLinkA, link.out());
  if (FAILED(hr)) RaiseOle(hr);
  hr = link->QueryInterface(IID_IPersistFile, file.out());
  if (FAILED(hr)) RaiseOle(hr);
  link->SetPath(target.c_str());
  link->SetWorkingDirectory(FolderPart(target).c_str());

  std::string link_name = target.empty() ? std::string(kMyComputer) : !name.empty() ? name : FileNamePart(target);
  link->SetDescription(link_name.c_str());
  link_name = ChangeFileExtension(link_name, ".lnk");

  const std::string folder = location == kCommonPrograms ? CommonPrograms() : UserLocationFolder(location);
  if (folder.empty()) return false;
  std::string path;
  if (!subfolder.empty()) {
    const std::string sub = folder + "\\" + subfolder;
    if (transaction) {
      transaction->CreateFolder(sub);
    } else if (!platform::DirExists(sub) && !platform::CreateDir(sub)) {
      return false;
    }
    path = sub + "\\" + link_name;
  } else {
    path = folder + "\\" + link_name;
  }

  if (transaction) transaction->PrepareFile(path);
  hr = file->Save(Widen(path).c_str(), TRUE);
  if (hr != S_OK) {
    SetLastError(HRESULT_FACILITY(hr) == FACILITY_WIN32 ? HRESULT_CODE(hr) : static_cast<DWORD>(hr));
    return false;
  }
  files.push_back(InstalledFileLine(index, path));
  return true;
}

}  // namespace quv
