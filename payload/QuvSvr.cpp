// Stand-in for the Quv service program. It does what the setup wizard relies
// on and nothing more:
//   QuvSvr.exe -install [/silent]   registers the service "ZRQuvSvr" (its own
//                                   path quoted), started automatically;
//   started by the service manager  runs as that service until told to stop;
//   QuvSvr.exe                      runs as an ordinary program until ended.
// For the wizard's tests, the environment variable QUV_STANDIN_FAIL makes it
// fail on purpose: "register" refuses "-install" (access denied), "start"
// registers a service that stops at once with an error when started.
#include <windows.h>

#include <cstring>
#include <string>

namespace {

constexpr char kServiceName[] = "ZRQuvSvr";

SERVICE_STATUS_HANDLE g_status_handle = nullptr;
SERVICE_STATUS g_status{};
HANDLE g_stop_event = nullptr;

void Report(DWORD state) {
  g_status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  g_status.dwCurrentState = state;
  g_status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
  g_status.dwWin32ExitCode = NO_ERROR;
  g_status.dwWaitHint = state == SERVICE_RUNNING || state == SERVICE_STOPPED ? 0 : 3000;
  SetServiceStatus(g_status_handle, &g_status);
}

DWORD WINAPI ControlHandler(DWORD control, DWORD, void*, void*) {
  switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
      Report(SERVICE_STOP_PENDING);
      SetEvent(g_stop_event);
      return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
      return NO_ERROR;
    default:
      return ERROR_CALL_NOT_IMPLEMENTED;
  }
}

bool g_fail_start = false;

void WINAPI ServiceMain(DWORD, char**) {
  g_status_handle = RegisterServiceCtrlHandlerExA(kServiceName, ControlHandler, nullptr);
  if (!g_status_handle) return;
  if (g_fail_start) {
    g_status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    g_status.dwCurrentState = SERVICE_STOPPED;
    g_status.dwWin32ExitCode = ERROR_FILE_CORRUPT;
    SetServiceStatus(g_status_handle, &g_status);
    return;
  }
  g_stop_event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (!g_stop_event) {
    Report(SERVICE_STOPPED);
    return;
  }
  Report(SERVICE_RUNNING);
  WaitForSingleObject(g_stop_event, INFINITE);
  CloseHandle(g_stop_event);
  Report(SERVICE_STOPPED);
}

std::string OwnPath() {
  char path[MAX_PATH + 1] = {};
  DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  return std::string(path, n < MAX_PATH ? n : MAX_PATH);
}

constexpr char kFailStartArg[] = "--fail-start";

std::string FailureAsked() {
  char value[32] = {};
  const DWORD n = GetEnvironmentVariableA("QUV_STANDIN_FAIL", value, sizeof value);
  return n < sizeof value ? std::string(value, n) : std::string();
}

// Creates the service, or points an existing registration at this copy.
// Answers 0 or the system error code.
DWORD Register() {
  const std::string failure = FailureAsked();
  if (failure == "register") return ERROR_ACCESS_DENIED;
  // Quoted: unquoted, a folder with blanks ("C:\Program Files\...") would
  // make the manager try "C:\Program.exe" first.
  std::string command = "\"" + OwnPath() + "\"";
  if (failure == "start") command += std::string(" ") + kFailStartArg;
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE | SC_MANAGER_CONNECT);
  if (!manager) return GetLastError();
  DWORD result = NO_ERROR;
  SC_HANDLE service = CreateServiceA(manager, kServiceName, kServiceName, SERVICE_ALL_ACCESS,
                                     SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                                     command.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
  if (!service && GetLastError() == ERROR_SERVICE_EXISTS) {
    service = OpenServiceA(manager, kServiceName, SERVICE_CHANGE_CONFIG);
    if (service && !ChangeServiceConfigA(service, SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START,
                                         SERVICE_ERROR_NORMAL, command.c_str(), nullptr, nullptr, nullptr,
                                         nullptr, nullptr, nullptr))
      result = GetLastError();
  }
  if (!service) result = GetLastError();
  if (service) CloseServiceHandle(service);
  CloseServiceHandle(manager);
  return result;
}

// The ordinary program: waits for WM_QUIT (or for being ended).
int RunAsProgram() {
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
  return 0;
}

bool HasArg(int argc, char** argv, const char* wanted) {
  for (int i = 1; i < argc; ++i) {
    if (lstrcmpiA(argv[i], wanted) == 0) return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (HasArg(argc, argv, "-install")) {
    DWORD error = Register();
    if (!HasArg(argc, argv, "/silent")) {
      std::string text = error ? "ZRQuvSvr: registration failed, error " + std::to_string(error)
                               : std::string("ZRQuvSvr: registered");
      MessageBoxA(nullptr, text.c_str(), kServiceName, error ? MB_ICONERROR : MB_ICONINFORMATION);
    }
    return static_cast<int>(error);
  }
  g_fail_start = HasArg(argc, argv, kFailStartArg);
  if (argc > 1 && !g_fail_start) return static_cast<int>(ERROR_INVALID_PARAMETER);

  // The service manager starts the program without arguments, like a user
  // does; only the dispatcher can tell the two apart.
  SERVICE_TABLE_ENTRYA table[] = {{const_cast<char*>(kServiceName), ServiceMain}, {nullptr, nullptr}};
  if (StartServiceCtrlDispatcherA(table)) return 0;
  if (GetLastError() == ERROR_FAILED_SERVICE_CONTROLLER_CONNECT) return RunAsProgram();
  return static_cast<int>(GetLastError());
}
