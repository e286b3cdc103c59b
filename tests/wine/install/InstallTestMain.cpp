// The installation tests' program. Besides running the tests it plays two
// parts for them when started with --role:
//   guarded     a process that refuses to be ended (its own access list denies
//               termination) until the event "QuvTestRelease" is set;
//   older-family  run as "QuvSetup.exe" with Wine told to report Windows 98:
//               checks that the version query says so and runs FinishAction
//               for the folder given.
// Copied as "QuvSvr.exe" and started with "-install", it is a registration
// that comes late: it shows itself idle at once (so a launcher that waits for
// that goes on) and only after a while has the real stand-in named by
// QUV_TEST_LATE_REGISTRAR register itself.
#include <windows.h>
#include <aclapi.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "install/Installation.h"
#include "install/ServiceControl.h"

namespace {

int RunGuarded() {
  HANDLE release = CreateEventA(nullptr, TRUE, FALSE, "QuvTestRelease");
  HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, "QuvTestGuarded");
  EXPLICIT_ACCESSA deny{};
  deny.grfAccessPermissions = PROCESS_TERMINATE;
  deny.grfAccessMode = DENY_ACCESS;
  deny.grfInheritance = NO_INHERITANCE;
  deny.Trustee.TrusteeForm = TRUSTEE_IS_NAME;
  deny.Trustee.ptstrName = const_cast<char*>("EVERYONE");
  PACL acl = nullptr;
  if (SetEntriesInAclA(1, &deny, nullptr, &acl) != ERROR_SUCCESS) return 2;
  if (SetSecurityInfo(GetCurrentProcess(), SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, acl,
                      nullptr) != ERROR_SUCCESS)
    return 3;
  LocalFree(acl);
  SetEvent(ready);
  WaitForSingleObject(release, 60000);
  return 0;
}

int RunOlderFamily(const char* folder) {
  if (quv::IsNtPlatform()) return 10;
  quv::InstallTransaction transaction(nullptr);
  try {
    quv::FinishAction(folder, transaction, [](unsigned ms) { Sleep(ms); });
  } catch (const quv::InstallFailure&) {
    return 11;
  }
  transaction.Commit();
  return 0;
}

int RunLateRegistration() {
  MSG msg;
  PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);
  Sleep(1500);
  char program[MAX_PATH] = {};
  GetEnvironmentVariableA("QUV_TEST_LATE_REGISTRAR", program, MAX_PATH);
  std::string line = std::string("\"") + program + "\" -install /silent";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) return 1;
  WaitForSingleObject(info.hProcess, 30000);
  CloseHandle(info.hProcess);
  CloseHandle(info.hThread);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "--role=guarded") == 0) return RunGuarded();
  if (argc >= 3 && std::strcmp(argv[1], "--role=older-family") == 0) return RunOlderFamily(argv[2]);
  if (argc >= 2 && std::strcmp(argv[1], "-install") == 0) return RunLateRegistration();

  // Shell links need COM on this thread, as the wizard has it.
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  testing::InitGoogleTest(&argc, argv);
  // A registration left behind by an interrupted run would disturb the tests.
  quv::StopAndDeleteService(quv::kServiceName);
  int result = RUN_ALL_TESTS();
  CoUninitialize();
  return result;
}
