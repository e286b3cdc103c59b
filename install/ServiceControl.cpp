#include "install/ServiceControl.h"

#include <windows.h>
#include <tlhelp32.h>

#include <cstring>
#include <vector>

#include "install/Errors.h"
#include "install/Paths.h"
#include "platform/Platform.h"
#include "zip/Text.h"

namespace quv {

using namespace text;

namespace {

constexpr char kServicesKey[] = "SYSTEM\\CurrentControlSet\\Services\\";
constexpr unsigned kPollMs = 100;
// About two seconds for processes that do not go away at once.
constexpr int kKillPasses = 20;

// Closes a service manager or service handle when it leaves scope; declared in
// opening order, they close in reverse.
class ServiceHandle {
 public:
  explicit ServiceHandle(SC_HANDLE h) : h_(h) {}
  ~ServiceHandle() {
    if (h_) CloseServiceHandle(h_);
  }
  ServiceHandle(const ServiceHandle&) = delete;
  ServiceHandle& operator=(const ServiceHandle&) = delete;
  SC_HANDLE get() const { return h_; }
  explicit operator bool() const { return h_ != nullptr; }

 private:
  SC_HANDLE h_;
};

class RegKey {
 public:
  RegKey() = default;
  ~RegKey() {
    if (h_) RegCloseKey(h_);
  }
  RegKey(const RegKey&) = delete;
  RegKey& operator=(const RegKey&) = delete;
  HKEY* out() { return &h_; }
  HKEY get() const { return h_; }

 private:
  HKEY h_ = nullptr;
};

// SERVICE_CONFIG_DELAYED_AUTO_START_INFO and its structure, from Windows
// Vista: XP answers the level with an error, taken as "not delayed".
constexpr DWORD kDelayedAutoStartInfo = 3;
struct DelayedAutoStartInfo {
  BOOL delayed;
};

std::wstring Widen(const std::string& ansi) {
  const int n = MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), wide.data(), n);
  return wide;
}

// One QueryServiceConfig2A level into a buffer of its own; empty on failure.
std::vector<char> QueryConfig2(SC_HANDLE service, DWORD level) {
  DWORD needed = 0;
  QueryServiceConfig2A(service, level, nullptr, 0, &needed);
  if (!needed) return {};
  std::vector<char> buffer(needed);
  if (!QueryServiceConfig2A(service, level, reinterpret_cast<BYTE*>(buffer.data()), needed, &needed)) return {};
  return buffer;
}

void ReadFailureActions(SC_HANDLE service, ServiceConfig& config) {
  const std::vector<char> buffer = QueryConfig2(service, SERVICE_CONFIG_FAILURE_ACTIONS);
  if (buffer.size() < sizeof(SERVICE_FAILURE_ACTIONSA)) return;
  const auto* f = reinterpret_cast<const SERVICE_FAILURE_ACTIONSA*>(buffer.data());
  config.failureResetSeconds = f->dwResetPeriod;
  config.failureRebootMessage = f->lpRebootMsg ? f->lpRebootMsg : "";
  config.failureCommand = f->lpCommand ? f->lpCommand : "";
  for (DWORD i = 0; f->lpsaActions && i < f->cActions; ++i)
    config.failureActions.push_back({static_cast<std::uint32_t>(f->lpsaActions[i].Type), f->lpsaActions[i].Delay});
}

bool ReadDelayedStart(SC_HANDLE service) {
  const std::vector<char> buffer = QueryConfig2(service, kDelayedAutoStartInfo);
  return buffer.size() >= sizeof(DelayedAutoStartInfo) &&
         reinterpret_cast<const DelayedAutoStartInfo*>(buffer.data())->delayed;
}

// The service's own access list (only administrators may change it; the
// owner and audit parts need privileges the run may not have).
std::string ReadSecurity(SC_HANDLE service) {
  DWORD needed = 0;
  QueryServiceObjectSecurity(service, DACL_SECURITY_INFORMATION, nullptr, 0, &needed);
  if (!needed) return "";
  std::string descriptor(needed, '\0');
  if (!QueryServiceObjectSecurity(service, DACL_SECURITY_INFORMATION, descriptor.data(), needed, &needed)) return "";
  descriptor.resize(needed);
  return descriptor;
}

// "Enum" below a service's key is the system's own (volatile, remade while
// the service runs): not ours to write back.
bool IsSystemSubkey(const std::wstring& subkey) { return _wcsicmp(subkey.c_str(), L"Enum") == 0; }

void ReadKeyTree(HKEY key, const std::wstring& subkey, std::vector<ServiceKeyItem>& items) {
  items.push_back(ServiceKeyItem{subkey, true, L"", 0, ""});
  DWORD subkeys = 0, maxSubkey = 0, values = 0, maxName = 0, maxData = 0;
  if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, &maxSubkey, nullptr, &values, &maxName, &maxData,
                       nullptr, nullptr) != ERROR_SUCCESS)
    return;
  for (DWORD i = 0; i < values; ++i) {
    std::wstring name(maxName + 1, L'\0');
    std::string data(maxData, '\0');
    DWORD nameLength = maxName + 1, size = maxData, type = 0;
    if (RegEnumValueW(key, i, name.data(), &nameLength, nullptr, &type, reinterpret_cast<BYTE*>(data.data()),
                      &size) != ERROR_SUCCESS)
      continue;
    name.resize(nameLength);
    data.resize(size);
    items.push_back(ServiceKeyItem{subkey, false, std::move(name), type, std::move(data)});
  }
  for (DWORD i = 0; i < subkeys; ++i) {
    std::wstring name(maxSubkey + 1, L'\0');
    DWORD nameLength = maxSubkey + 1;
    if (RegEnumKeyExW(key, i, name.data(), &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) continue;
    name.resize(nameLength);
    if (subkey.empty() && IsSystemSubkey(name)) continue;
    HKEY child = nullptr;
    if (RegOpenKeyExW(key, name.c_str(), 0, KEY_READ, &child) != ERROR_SUCCESS) continue;
    ReadKeyTree(child, subkey.empty() ? name : subkey + L"\\" + name, items);
    RegCloseKey(child);
  }
}

LONG WriteKeyTree(const std::string& name, const std::vector<ServiceKeyItem>& items) {
  const std::wstring root = Widen(kServicesKey + name);
  for (const ServiceKeyItem& item : items) {
    RegKey key;
    const std::wstring path = item.subkey.empty() ? root : root + L"\\" + item.subkey;
    LONG result = RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.out(),
                                  nullptr);
    if (result == ERROR_SUCCESS && !item.keyOnly)
      result = RegSetValueExW(key.get(), item.name.c_str(), 0, item.type,
                              reinterpret_cast<const BYTE*>(item.data.data()), static_cast<DWORD>(item.data.size()));
    if (result != ERROR_SUCCESS) return result;
  }
  return ERROR_SUCCESS;
}

// What ChangeServiceConfig2 and SetServiceObjectSecurity keep beyond the
// basic registration. Answers 0 or the system error code.
DWORD ApplyExtendedConfig(SC_HANDLE service, const ServiceConfig& config) {
  const bool hasFailureActions = config.failureResetSeconds || !config.failureRebootMessage.empty() ||
                                 !config.failureCommand.empty() || !config.failureActions.empty();
  if (hasFailureActions) {
    std::vector<SC_ACTION> actions;
    for (const FailureAction& a : config.failureActions) actions.push_back({static_cast<SC_ACTION_TYPE>(a.type), a.delayMs});
    std::string reboot = config.failureRebootMessage, command = config.failureCommand;
    SERVICE_FAILURE_ACTIONSA f{config.failureResetSeconds, reboot.data(), command.data(),
                               static_cast<DWORD>(actions.size()), actions.empty() ? nullptr : actions.data()};
    if (!ChangeServiceConfig2A(service, SERVICE_CONFIG_FAILURE_ACTIONS, &f)) return GetLastError();
  }
  if (config.delayedStart) {
    DelayedAutoStartInfo delayed{TRUE};
    if (!ChangeServiceConfig2A(service, kDelayedAutoStartInfo, &delayed)) return GetLastError();
  }
  if (!config.security.empty()) {
    std::string descriptor = config.security;
    if (!SetServiceObjectSecurity(service, DACL_SECURITY_INFORMATION, descriptor.data())) return GetLastError();
  }
  return 0;
}

bool ServiceKeyExists(const std::string& name) {
  RegKey key;
  return RegOpenKeyExA(HKEY_LOCAL_MACHINE, (kServicesKey + name).c_str(), 0, KEY_QUERY_VALUE, key.out()) ==
         ERROR_SUCCESS;
}

// The snapshot functions are looked up at first use: systems without them
// simply show no processes.
struct ToolHelp {
  decltype(&CreateToolhelp32Snapshot) snapshot = nullptr;
  decltype(&Process32First) first = nullptr;
  decltype(&Process32Next) next = nullptr;
  decltype(&Module32First) firstModule = nullptr;
  // From Windows Vista; the module list answers on older systems.
  BOOL(WINAPI* imageName)(HANDLE, DWORD, LPSTR, PDWORD) = nullptr;
};

template <typename F>
F Lookup(HMODULE module, const char* name) {
  // Through a plain function pointer type: a direct cast between unrelated
  // function types draws a warning.
  return reinterpret_cast<F>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

const ToolHelp& Tools() {
  static const ToolHelp tools = [] {
    ToolHelp t;
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    if (!kernel) return t;
    t.snapshot = Lookup<decltype(t.snapshot)>(kernel, "CreateToolhelp32Snapshot");
    t.first = Lookup<decltype(t.first)>(kernel, "Process32First");
    t.next = Lookup<decltype(t.next)>(kernel, "Process32Next");
    t.firstModule = Lookup<decltype(t.firstModule)>(kernel, "Module32First");
    t.imageName = Lookup<decltype(t.imageName)>(kernel, "QueryFullProcessImageNameA");
    return t;
  }();
  return tools;
}

bool Matches(const PROCESSENTRY32& entry, const std::string& wanted) {
  std::string name(entry.szExeFile, strnlen(entry.szExeFile, sizeof entry.szExeFile));
  return UpperAscii(FileNamePart(name)) == wanted || UpperAscii(name) == wanted;
}

// The full path of a process's program file, or empty when it cannot be read.
std::string ImagePath(DWORD id) {
  const ToolHelp& tools = Tools();
  constexpr DWORD kQueryLimited = 0x1000;  // PROCESS_QUERY_LIMITED_INFORMATION, from Windows Vista
  if (tools.imageName) {
    HANDLE process = OpenProcess(kQueryLimited, FALSE, id);
    if (!process) process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, id);
    if (process) {
      char path[MAX_PATH * 2] = {};
      DWORD size = sizeof path;
      const bool ok = tools.imageName(process, 0, path, &size);
      CloseHandle(process);
      if (ok) return std::string(path, size);
    }
  }
  if (!tools.snapshot || !tools.firstModule) return "";
  HANDLE snapshot = tools.snapshot(TH32CS_SNAPMODULE, id);
  if (snapshot == INVALID_HANDLE_VALUE) return "";
  MODULEENTRY32 module{};
  module.dwSize = sizeof module;
  std::string path;
  if (tools.firstModule(snapshot, &module)) path = module.szExePath;
  CloseHandle(snapshot);
  return path;
}

// The long form of a path (8.3 short names expanded), so that two spellings
// of one folder compare equal; the path itself when it cannot be had.
std::string LongPath(const std::string& path) {
  char buffer[MAX_PATH * 2] = {};
  const DWORD n = GetLongPathNameA(path.c_str(), buffer, sizeof buffer);
  return n > 0 && n < sizeof buffer ? std::string(buffer, n) : path;
}

// Calls visit(process id) for every process whose name matches and, with a
// folder, whose program file lies directly in it; answers whether any did.
// The whole list is always walked.
template <typename Visit>
bool ForEachMatchingProcess(const std::string& exeName, const std::string& folder, Visit visit) {
  const ToolHelp& tools = Tools();
  if (!tools.snapshot || !tools.first || !tools.next) return false;
  HANDLE snapshot = tools.snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return false;
  const std::string wanted = UpperAscii(exeName);
  const std::string wantedFolder = WithTrailingBackslash(folder.empty() ? folder : LongPath(folder));
  bool found = false;
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = tools.first(snapshot, &entry); more; more = tools.next(snapshot, &entry)) {
    if (!Matches(entry, wanted)) continue;
    // A copy whose program file cannot be read (closed to us) may be one of
    // the folder's and hold its files: it counts.
    const std::string image = folder.empty() ? "" : ImagePath(entry.th32ProcessID);
    if (!image.empty() && !SameText(FolderPart(LongPath(image)), wantedFolder)) continue;
    found = true;
    visit(entry.th32ProcessID);
  }
  CloseHandle(snapshot);
  return found;
}

}  // namespace

bool IsNtPlatform() {
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = sizeof info;
  return GetVersionExA(&info) && info.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

std::uint32_t QueryServiceState(const std::string& machine, const std::string& name) {
  ServiceHandle manager(OpenSCManagerA(machine.empty() ? nullptr : machine.c_str(), nullptr, SC_MANAGER_CONNECT));
  if (!manager) return 0;
  ServiceHandle service(OpenServiceA(manager.get(), name.c_str(), SERVICE_QUERY_STATUS));
  if (!service) return 0;
  SERVICE_STATUS status{};
  return QueryServiceStatus(service.get(), &status) ? status.dwCurrentState : 0;
}

std::uint32_t ServiceProcessId(const std::string& name) {
  ServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) return 0;
  ServiceHandle service(OpenServiceA(manager.get(), name.c_str(), SERVICE_QUERY_STATUS));
  if (!service) return 0;
  SERVICE_STATUS_PROCESS status{};
  DWORD needed = 0;
  if (!QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof status,
                            &needed))
    return 0;
  return status.dwProcessId;
}

bool StartServiceByName(const std::string& name) {
  ServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!manager) return false;
  ServiceHandle service(OpenServiceA(manager.get(), name.c_str(), SERVICE_ALL_ACCESS));
  if (!service) return false;
  return StartServiceA(service.get(), 0, nullptr) || GetLastError() == ERROR_SERVICE_ALREADY_RUNNING;
}

bool StopAndDeleteService(const std::string& name) {
  ServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!manager) return false;
  ServiceHandle service(OpenServiceA(manager.get(), name.c_str(), SERVICE_ALL_ACCESS));
  if (!service) return false;
  SERVICE_STATUS status{};
  bool stopped = ControlService(service.get(), SERVICE_CONTROL_STOP, &status) != 0;
  DeleteService(service.get());
  return stopped;
}

std::uint32_t SetServiceDescription(const std::string& name, const std::string& text) {
  RegKey key;
  LONG result = RegOpenKeyExA(HKEY_LOCAL_MACHINE, (kServicesKey + name).c_str(), 0, KEY_SET_VALUE, key.out());
  if (result == ERROR_SUCCESS) {
    result = RegSetValueExA(key.get(), "Description", 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                            static_cast<DWORD>(text.size() + 1));
  }
  return static_cast<std::uint32_t>(result);
}

bool ReadServiceConfig(const std::string& name, ServiceConfig& config) {
  ServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) return false;
  ServiceHandle service(
      OpenServiceA(manager.get(), name.c_str(), SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS | READ_CONTROL));
  if (!service) return false;
  config = ServiceConfig{};
  DWORD needed = 0;
  QueryServiceConfigA(service.get(), nullptr, 0, &needed);
  std::vector<char> buffer(needed ? needed : sizeof(QUERY_SERVICE_CONFIGA));
  auto* q = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer.data());
  if (!QueryServiceConfigA(service.get(), q, static_cast<DWORD>(buffer.size()), &needed)) return false;
  auto text = [](const char* s) { return std::string(s ? s : ""); };
  config.type = q->dwServiceType;
  config.startType = q->dwStartType;
  config.errorControl = q->dwErrorControl;
  config.binaryPath = text(q->lpBinaryPathName);
  config.loadOrderGroup = text(q->lpLoadOrderGroup);
  config.startName = text(q->lpServiceStartName);
  config.displayName = text(q->lpDisplayName);
  config.dependencies.clear();
  for (const char* d = q->lpDependencies; d && *d; d += std::strlen(d) + 1) config.dependencies += std::string(d) + '\0';
  ReadFailureActions(service.get(), config);
  config.delayedStart = ReadDelayedStart(service.get());
  config.security = ReadSecurity(service.get());
  RegKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, (kServicesKey + name).c_str(), 0, KEY_READ, key.out()) == ERROR_SUCCESS) {
    ReadKeyTree(key.get(), L"", config.registry);
    char value[1024] = {};
    DWORD size = sizeof value - 1, type = 0;
    if (RegQueryValueExA(key.get(), "Description", nullptr, &type, reinterpret_cast<BYTE*>(value), &size) ==
            ERROR_SUCCESS &&
        type == REG_SZ)
      config.description = value;
  }
  SERVICE_STATUS status{};
  config.running = QueryServiceStatus(service.get(), &status) && status.dwCurrentState != SERVICE_STOPPED;
  return true;
}

std::uint32_t RegisterService(const std::string& name, const ServiceConfig& config) {
  ServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE | SC_MANAGER_CONNECT));
  if (!manager) return GetLastError();
  const std::string dependencies = config.dependencies + '\0';
  auto orNull = [](const std::string& s) { return s.empty() ? nullptr : s.c_str(); };
  ServiceHandle service(CreateServiceA(manager.get(), name.c_str(), orNull(config.displayName), SERVICE_ALL_ACCESS,
                                       config.type, config.startType, config.errorControl, config.binaryPath.c_str(),
                                       orNull(config.loadOrderGroup), nullptr, dependencies.c_str(),
                                       orNull(config.startName), nullptr));
  if (!service) return GetLastError();
  if (const DWORD code = ApplyExtendedConfig(service.get(), config)) return code;
  // The key tree last: it holds the description and what the program keeps
  // there (its Parameters), byte for byte as it was.
  if (config.registry.empty()) return config.description.empty() ? 0 : SetServiceDescription(name, config.description);
  return static_cast<std::uint32_t>(WriteKeyTree(name, config.registry));
}

bool IsMarkedForDeletion(const std::string& name) {
  ServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) return false;
  ServiceHandle service(OpenServiceA(manager.get(), name.c_str(), SERVICE_CHANGE_CONFIG));
  if (!service) return GetLastError() == ERROR_SERVICE_MARKED_FOR_DELETE;
  // A change that changes nothing is refused only for a marked service.
  return !ChangeServiceConfigA(service.get(), SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, nullptr,
                               nullptr, nullptr, nullptr, nullptr, nullptr, nullptr) &&
         GetLastError() == ERROR_SERVICE_MARKED_FOR_DELETE;
}

std::string ServiceHoldersRunning() {
  std::string running;
  for (const char* program : {"mmc.exe", "taskmgr.exe", "perfmon.exe", "procexp.exe", "procexp64.exe", "sc.exe"}) {
    if (!IsProcessRunning(program)) continue;
    if (!running.empty()) running += ' ';
    running += program;
  }
  return running;
}

std::uint32_t StartServiceAndWait(const std::string& name, const std::function<void(unsigned)>& pause,
                                  unsigned timeoutMs) {
  {
    ServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) return GetLastError();
    ServiceHandle service(OpenServiceA(manager.get(), name.c_str(), SERVICE_START));
    if (!service) return GetLastError();
    if (!StartServiceA(service.get(), 0, nullptr) && GetLastError() != ERROR_SERVICE_ALREADY_RUNNING)
      return GetLastError();
  }
  for (unsigned waited = 0;; waited += kPollMs) {
    ServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    ServiceHandle service(manager ? OpenServiceA(manager.get(), name.c_str(), SERVICE_QUERY_STATUS) : nullptr);
    SERVICE_STATUS status{};
    if (!service || !QueryServiceStatus(service.get(), &status)) return GetLastError();
    if (status.dwCurrentState == SERVICE_RUNNING) return 0;
    if (status.dwCurrentState == SERVICE_STOPPED) {
      if (status.dwWin32ExitCode == ERROR_SERVICE_SPECIFIC_ERROR) return status.dwServiceSpecificExitCode;
      return status.dwWin32ExitCode ? status.dwWin32ExitCode : ERROR_SERVICE_NOT_ACTIVE;
    }
    if (waited >= timeoutMs) return ERROR_SERVICE_REQUEST_TIMEOUT;
    if (pause) pause(kPollMs); else platform::SleepMs(kPollMs);
  }
}

namespace {
// Whether the manager no longer knows the name at all: a service marked for
// deletion may refuse to be opened, and yet still holds the name.
bool ServiceGone(const std::string& name) {
  ServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) return true;
  ServiceHandle service(OpenServiceA(manager.get(), name.c_str(), SERVICE_QUERY_STATUS));
  return !service && GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST;
}
}  // namespace

bool WaitForService(const std::string& name, bool present, unsigned timeoutMs,
                    const std::function<void(unsigned)>& pause) {
  for (unsigned waited = 0;; waited += kPollMs) {
    if (present ? QueryServiceState("", name) != 0 && ServiceKeyExists(name) : ServiceGone(name)) return true;
    if (waited >= timeoutMs) return false;
    if (pause) pause(kPollMs); else platform::SleepMs(kPollMs);
  }
}

bool IsProcessRunning(const std::string& exeName, const std::string& folder) {
  return ForEachMatchingProcess(exeName, folder, [](DWORD) {});
}

bool KillProcessByName(const std::string& exeName, const std::string& folder) {
  if (folder.empty()) return !IsProcessRunning(exeName);
  for (int pass = 0; pass < kKillPasses; ++pass) {
    if (pass > 0) platform::SleepMs(kPollMs);
    EnableDebugPrivilege();
    ForEachMatchingProcess(exeName, folder, [](DWORD id) {
      if (HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, id)) {
        TerminateProcess(process, 0);
        CloseHandle(process);
      }
    });
    if (!IsProcessRunning(exeName, folder)) return true;
  }
  return false;
}

bool EnableDebugPrivilege() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token)) return false;
  bool ok = SetTokenPrivilege(token, "SeDebugPrivilege", true);
  CloseHandle(token);
  return ok;
}

bool SetTokenPrivilege(void* token, const std::string& privilegeName, bool enable) {
  TOKEN_PRIVILEGES privileges{};
  if (!LookupPrivilegeValueA(nullptr, privilegeName.c_str(), &privileges.Privileges[0].Luid)) return false;
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = enable ? SE_PRIVILEGE_ENABLED : 0;
  // A privilege the account does not hold is "adjusted" with the error
  // ERROR_NOT_ALL_ASSIGNED; only a clean zero counts.
  AdjustTokenPrivileges(static_cast<HANDLE>(token), FALSE, &privileges, sizeof privileges, nullptr, nullptr);
  return GetLastError() == ERROR_SUCCESS;
}

}  // namespace quv
