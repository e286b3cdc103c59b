// The wizard's thin wrappers over the service control manager, the registry,
// the process list and the process token. They answer failure by their
// result (0 or false) and never show anything.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace quv {

inline constexpr char kServiceName[] = "ZRQuvSvr";
inline constexpr char kServiceProgram[] = "QuvSvr.exe";

// True on the NT family (platform identifier 2); false on the older family,
// which has no service control manager.
bool IsNtPlatform();

// Current state of the service (1 stopped ... 7 paused), or 0 when it is not
// registered or cannot be queried. An empty machine means this computer.
std::uint32_t QueryServiceState(const std::string& machine, const std::string& name);
// The id of the process a running service lives in, or 0.
std::uint32_t ServiceProcessId(const std::string& name);
// Starts the service; a service that already runs counts as started.
bool StartServiceByName(const std::string& name);
// Sends the stop control (its success is the result) and marks the service
// for deletion whatever the stop gave. Waits for neither.
bool StopAndDeleteService(const std::string& name);
// Writes the string value "Description" under the service's key in
// HKEY_LOCAL_MACHINE.
// Answers 0 or the system error code.
std::uint32_t SetServiceDescription(const std::string& name, const std::string& text);

// One item of a service's registry key tree: a key (keyOnly) or one of its
// values. subkey is relative to the service's key (empty: the key itself).
// Names are UTF-16, so that no code page loses them.
struct ServiceKeyItem {
  std::wstring subkey;
  bool keyOnly = false;
  std::wstring name;
  std::uint32_t type = 0;
  std::string data;
  bool operator==(const ServiceKeyItem&) const = default;
};

// What the manager does when the service fails (SC_ACTION).
struct FailureAction {
  std::uint32_t type = 0, delayMs = 0;
  bool operator==(const FailureAction&) const = default;
};

// A service's whole registration as the manager and the registry keep it,
// and whether it ran.
struct ServiceConfig {
  std::uint32_t type = 0, startType = 0, errorControl = 0;
  std::string binaryPath, loadOrderGroup, startName, displayName, description;
  std::string dependencies;  // names each ended by a zero byte
  bool running = false;
  // SERVICE_CONFIG_FAILURE_ACTIONS.
  std::uint32_t failureResetSeconds = 0;
  std::string failureRebootMessage, failureCommand;
  std::vector<FailureAction> failureActions;
  bool delayedStart = false;  // from Windows Vista; false before
  std::string security;       // the service's own access list, self-relative; empty when unreadable
  std::vector<ServiceKeyItem> registry;  // its key with every subkey and value
  bool operator==(const ServiceConfig&) const = default;
};
// Reads the registration of a registered service; false when it is not.
bool ReadServiceConfig(const std::string& name, ServiceConfig& config);
// Registers name with config, then puts back its failure actions, delayed
// start, access list and registry key tree (an account other than
// LocalSystem gets no password, as none can be read back). Answers 0 or the
// system error code.
std::uint32_t RegisterService(const std::string& name, const ServiceConfig& config);
// Whether the service is still registered but marked for deletion: another
// program holds it open, and it goes once that program lets go.
bool IsMarkedForDeletion(const std::string& name);
// The running programs known to hold services open (the Services console,
// the task manager, ...), by file name, blank-separated; empty when none.
std::string ServiceHoldersRunning();
// Starts the service and waits, through pause, until it has left the start
// pending state (at most timeoutMs). Answers 0 once it runs, otherwise the
// system error code (the service's own exit code when it stopped again).
std::uint32_t StartServiceAndWait(const std::string& name, const std::function<void(unsigned)>& pause,
                                  unsigned timeoutMs);
// Polls, for at most timeoutMs, until the service is known to the manager and
// its registry key exists, or (present == false) until it is gone. Answers
// whether that happened in time.
// The pause between polls is pause's (a plain sleep when empty).
bool WaitForService(const std::string& name, bool present, unsigned timeoutMs,
                    const std::function<void(unsigned)>& pause = {});

// Whether a process with that executable name runs: the file-name part of a
// process's name, or the whole name (the older family stores full paths),
// compared with only a to z folded to upper case. With a folder, only a
// process whose program file lies directly in that folder counts (or whose
// program file cannot be read).
bool IsProcessRunning(const std::string& exeName, const std::string& folder = "");
// Ends every process with that executable name whose program file lies
// directly in folder (copies elsewhere, another installation's or another
// user's, are left alone), taking a fresh look after each pass. Gives up
// after a bounded number of passes with a short pause in between (a process
// of another account may refuse to end). Answers whether none is left.
bool KillProcessByName(const std::string& exeName, const std::string& folder);

bool EnableDebugPrivilege();
// token is a process token handle (HANDLE).
bool SetTokenPrivilege(void* token, const std::string& privilegeName, bool enable);

}  // namespace quv
