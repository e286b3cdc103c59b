#include "Installed.h"

#include <objbase.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

namespace quv::wizardtest {

using namespace std::chrono_literals;

std::wstring Wide(const std::string& utf8) {
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
  return wide;
}

namespace {
std::string Narrow(UINT codePage, const std::wstring& wide) {
  const int n =
      WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()), text.data(), n, nullptr, nullptr);
  return text;
}
}  // namespace

std::string Utf8(const std::wstring& wide) { return Narrow(CP_UTF8, wide); }
std::string Cp936(const std::string& utf8) { return Narrow(936, Wide(utf8)); }

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

// ---- files ------------------------------------------------------------------

std::string ReadFileBytes(const std::string& path, bool* missing) {
  std::string bytes;
  HANDLE h = CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, 0, nullptr);
  if (missing) *missing = h == INVALID_HANDLE_VALUE;
  if (h == INVALID_HANDLE_VALUE) return bytes;
  char buffer[65536];
  DWORD got = 0;
  while (ReadFile(h, buffer, sizeof buffer, &got, nullptr) && got > 0) bytes.append(buffer, got);
  CloseHandle(h);
  return bytes;
}

DWORD Attributes(const std::string& path) { return GetFileAttributesW(Wide(path).c_str()); }

bool FileThere(const std::string& path) {
  const DWORD a = Attributes(path);
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool FolderThere(const std::string& path) {
  const DWORD a = Attributes(path);
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

namespace {
std::vector<std::string> Names(const std::string& folder) {
  std::vector<std::string> names;
  WIN32_FIND_DATAW found;
  HANDLE h = FindFirstFileW(Wide(folder + "\\*").c_str(), &found);
  if (h == INVALID_HANDLE_VALUE) return names;
  do {
    const std::wstring name = found.cFileName;
    if (name != L"." && name != L"..") names.push_back(Utf8(name));
  } while (FindNextFileW(h, &found));
  FindClose(h);
  std::sort(names.begin(), names.end());
  return names;
}
}  // namespace

void RemoveTree(const std::string& path) {
  const DWORD a = Attributes(path);
  if (a == INVALID_FILE_ATTRIBUTES) return;
  const std::wstring wide = Wide(path);
  if (a & FILE_ATTRIBUTE_READONLY) SetFileAttributesW(wide.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (!(a & FILE_ATTRIBUTE_DIRECTORY)) {
    DeleteFileW(wide.c_str());
    return;
  }
  for (const std::string& name : Names(path)) RemoveTree(path + "\\" + name);
  RemoveDirectoryW(wide.c_str());
}

std::string ListFolder(const std::string& folder) {
  std::string list;
  for (const std::string& name : Names(folder)) list += (list.empty() ? "" : " ") + name;
  return list;
}

// ---- shortcuts --------------------------------------------------------------

std::string ProgramsFolder() {
  wchar_t path[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_PROGRAMS, nullptr, SHGFP_TYPE_CURRENT, path))) return "";
  return Utf8(path);
}

std::string LinkFolder() { return ProgramsFolder() + "\\" + kLinkFolder + "\\"; }

Shortcut ReadShortcut(const std::string& lnkPath) {
  Shortcut s;
  // COM for this call only; the driver's thread may not have it.
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  IShellLinkW* link = nullptr;
  IPersistFile* file = nullptr;
  if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                 reinterpret_cast<void**>(&link))) &&
      SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))) &&
      SUCCEEDED(file->Load(Wide(lnkPath).c_str(), STGM_READ))) {
    wchar_t text[MAX_PATH * 2] = {};
    s.loaded = true;
    if (SUCCEEDED(link->GetPath(text, MAX_PATH, nullptr, SLGP_RAWPATH))) s.target = Utf8(text);
    text[0] = 0;
    if (SUCCEEDED(link->GetWorkingDirectory(text, MAX_PATH))) s.workingDir = Utf8(text);
    text[0] = 0;
    if (SUCCEEDED(link->GetDescription(text, MAX_PATH))) s.description = Utf8(text);
  }
  if (file) file->Release();
  if (link) link->Release();
  if (SUCCEEDED(com)) CoUninitialize();
  return s;
}

// ---- the service --------------------------------------------------------------

namespace {
// The service opened with access, closed with its manager at the end of scope.
class OpenedService {
 public:
  OpenedService(const char* name, DWORD access) {
    manager_ = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (manager_) service_ = OpenServiceW(manager_, Wide(name).c_str(), access);
  }
  ~OpenedService() {
    if (service_) CloseServiceHandle(service_);
    if (manager_) CloseServiceHandle(manager_);
  }
  OpenedService(const OpenedService&) = delete;
  OpenedService& operator=(const OpenedService&) = delete;
  SC_HANDLE get() const { return service_; }

 private:
  SC_HANDLE manager_ = nullptr;
  SC_HANDLE service_ = nullptr;
};
}  // namespace

DWORD ServiceState(const char* name) {
  OpenedService service(name, SERVICE_QUERY_STATUS);
  SERVICE_STATUS status{};
  if (!service.get() || !QueryServiceStatus(service.get(), &status)) return 0;
  return status.dwCurrentState;
}

std::string ServiceDescription(const char* name) {
  const std::wstring key = L"SYSTEM\\CurrentControlSet\\Services\\" + Wide(name);
  wchar_t value[512] = {};
  DWORD size = sizeof value - sizeof(wchar_t);
  DWORD type = 0;
  if (RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), L"Description", RRF_RT_REG_SZ, &type, value, &size) !=
      ERROR_SUCCESS)
    return "";
  return Utf8(value);
}

std::string ServiceProgram(const char* name) {
  OpenedService service(name, SERVICE_QUERY_CONFIG);
  if (!service.get()) return "";
  DWORD needed = 0;
  QueryServiceConfigW(service.get(), nullptr, 0, &needed);
  std::vector<unsigned char> buffer(needed + sizeof(QUERY_SERVICE_CONFIGW));
  auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
  if (!QueryServiceConfigW(service.get(), config, static_cast<DWORD>(buffer.size()), &needed)) return "";
  return config->lpBinaryPathName ? Utf8(config->lpBinaryPathName) : "";
}

bool StartServiceNamed(const char* name) {
  OpenedService service(name, SERVICE_START);
  return service.get() && StartServiceW(service.get(), 0, nullptr);
}

void RemoveService(const char* name) {
  {
    OpenedService service(name, SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE);
    if (!service.get()) return;
    SERVICE_STATUS status{};
    ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
    for (int i = 0; i < 100 && QueryServiceStatus(service.get(), &status) && status.dwCurrentState != SERVICE_STOPPED;
         ++i)
      std::this_thread::sleep_for(100ms);
    DeleteService(service.get());
  }
  for (int i = 0; i < 100 && ServiceState(name) != 0; ++i) std::this_thread::sleep_for(100ms);
}

// ---- processes ----------------------------------------------------------------

namespace {
std::vector<DWORD> ProcessIds(const char* exeName) {
  std::vector<DWORD> ids;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return ids;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  const std::wstring wanted = Wide(exeName);
  for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
    if (lstrcmpiW(entry.szExeFile, wanted.c_str()) == 0) ids.push_back(entry.th32ProcessID);
  }
  CloseHandle(snapshot);
  return ids;
}
}  // namespace

int ProcessCount(const char* exeName) { return static_cast<int>(ProcessIds(exeName).size()); }

void KillProcesses(const char* exeName) {
  for (int pass = 0; pass < 20 && ProcessCount(exeName) > 0; ++pass) {
    for (DWORD id : ProcessIds(exeName)) {
      if (HANDLE h = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id)) {
        TerminateProcess(h, 1);
        WaitForSingleObject(h, 5000);
        CloseHandle(h);
      }
    }
    std::this_thread::sleep_for(100ms);
  }
}

long RunAndWait(const std::string& commandLine, DWORD timeoutMs) {
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION info{};
  std::wstring line = Wide(commandLine);
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &info)) return -1;
  DWORD code = static_cast<DWORD>(-1);
  if (WaitForSingleObject(info.hProcess, timeoutMs) == WAIT_OBJECT_0) GetExitCodeProcess(info.hProcess, &code);
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  return static_cast<long>(code);
}

void RemoveInstallation(const std::string& folder) {
  RemoveService(kServiceName);
  KillProcesses("QuvSvr.exe");
  KillProcesses("UnInstall.exe");
  RemoveTree(folder);
  RemoveTree(LinkFolder());
}

// ---- make run's account ---------------------------------------------------------

namespace {
const char* StateName(DWORD state) {
  switch (state) {
    case 0: return "not registered";
    case SERVICE_STOPPED: return "stopped";
    case SERVICE_START_PENDING: return "starting";
    case SERVICE_STOP_PENDING: return "stopping";
    case SERVICE_RUNNING: return "running";
    case SERVICE_CONTINUE_PENDING: return "continuing";
    case SERVICE_PAUSE_PENDING: return "pausing";
    case SERVICE_PAUSED: return "paused";
    default: return "unknown";
  }
}

std::string Indented(const std::string& text) {
  std::string out;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    out += "    " + line + "\n";
    pos = end + 1;
  }
  return out;
}
}  // namespace

std::string Report() {
  std::string r;
  const std::string links = LinkFolder();
  const Shortcut service = ReadShortcut(links + kServiceLink);
  const Shortcut uninstall = ReadShortcut(links + kUninstallLink);
  // The uninstaller's shortcut starts in the install folder.
  std::string folder = uninstall.loaded ? uninstall.workingDir : service.workingDir;
  if (!folder.empty() && folder.back() == '\\') folder.pop_back();

  if (folder.empty()) {
    r += "No installation found (no shortcuts in " + links + ")\n";
  } else {
    r += "Install folder: " + folder + "\n";
    for (const std::string& name : Names(folder)) {
      const std::string bytes = ReadFileBytes(folder + "\\" + name);
      r += "    " + name + "  (" + std::to_string(bytes.size()) + " bytes)\n";
    }
    bool missing = false;
    const std::string list = ReadFileBytes(folder + "\\install.dl", &missing);
    if (missing) {
      r += "install.dl: missing\n";
    } else {
      const int n = MultiByteToWideChar(936, 0, list.data(), static_cast<int>(list.size()), nullptr, 0);
      std::wstring wide(static_cast<std::size_t>(n), L'\0');
      MultiByteToWideChar(936, 0, list.data(), static_cast<int>(list.size()), wide.data(), n);
      const bool crlf = list.size() >= 2 && list.compare(list.size() - 2, 2, "\r\n") == 0;
      r += "install.dl (code page 936" + std::string(crlf ? ", CR LF" : "") + "):\n" + Indented(Utf8(wide));
    }
  }
  const DWORD state = ServiceState(kServiceName);
  r += std::string("Service ") + kServiceName + ": " + StateName(state) + "\n";
  if (state != 0) {
    r += "    program: " + ServiceProgram(kServiceName) + "\n";
    r += "    description: " + ServiceDescription(kServiceName) + "\n";
  }
  r += "Shortcuts in " + links + "\n";
  for (const char* name : {kServiceLink, kUninstallLink}) {
    const Shortcut& s = name == kServiceLink ? service : uninstall;
    r += std::string("    ") + name + ": " +
         (s.loaded ? s.target + "  (starts in " + s.workingDir + ")" : std::string("missing")) + "\n";
  }
  return r;
}

}  // namespace quv::wizardtest
