// The service, process and version functions against Wine's real service
// manager, registry and process list.
#include <gtest/gtest.h>

#include "InstallTestSupport.h"
#include "install/Errors.h"
#include "install/ServiceControl.h"

namespace quv::test {
namespace {

const std::string kServiceKey = std::string("SYSTEM\\CurrentControlSet\\Services\\") + kServiceName;

TEST(ServiceControl, UnregisteredServiceAnswersFailureQuietly) {
  RemoveServiceCompletely(kServiceName);
  EXPECT_EQ(QueryServiceState("", kServiceName), 0u);
  EXPECT_FALSE(StartServiceByName(kServiceName));
  EXPECT_FALSE(StopAndDeleteService(kServiceName));
  SetServiceDescription(kServiceName, "text");
  EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, kServiceKey)) << "the description must not create the key";
  EXPECT_TRUE(IsNtPlatform());
}

TEST(ServiceControl, RegistersStartsStopsAndDeletesTheStandInService) {
  ScratchDir dir(std::string("svc ") + kGbkService + " a");
  const std::string program = dir / "QuvSvr.exe";
  ASSERT_TRUE(CopyOne(ProgramDir() + "QuvSvr.exe", program));

  ASSERT_EQ(RunProgram("\"" + program + "\" -install /silent"), 0);
  EXPECT_EQ(QueryServiceState("", kServiceName), static_cast<std::uint32_t>(SERVICE_STOPPED));
  EXPECT_EQ(ServiceBinaryPath(kServiceName), "\"" + program + "\"");

  SetServiceDescription(kServiceName, kGbkDescription);
  std::string description;
  ASSERT_TRUE(ReadRegString(HKEY_LOCAL_MACHINE, kServiceKey, "Description", description));
  EXPECT_EQ(description, kGbkDescription);

  ASSERT_TRUE(StartServiceByName(kServiceName));
  EXPECT_TRUE(WaitUntil([] { return QueryServiceState("", kServiceName) == SERVICE_RUNNING; }, 10000));
  EXPECT_TRUE(StartServiceByName(kServiceName)) << "an already running service counts as started";
  EXPECT_TRUE(IsProcessRunning("QuvSvr.exe"));
  EXPECT_TRUE(IsProcessRunning("quvsvr.EXE"));
  EXPECT_FALSE(IsProcessRunning("QuvSvr"));

  EXPECT_TRUE(StopAndDeleteService(kServiceName));
  EXPECT_TRUE(WaitForService(kServiceName, false, 10000));
  EXPECT_TRUE(WaitUntil([] { return !IsProcessRunning("QuvSvr.exe"); }, 10000)) << "the stop control ends it";
  EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, kServiceKey));
}

TEST(ProcessControl, EndsOnlyTheCopiesStartedFromTheFolder) {
  ScratchDir dir(std::string("kill ") + kGbkService);
  ScratchDir other(std::string("kill ") + kGbkService);
  const std::string program = dir / "QuvSvr.exe";
  ASSERT_TRUE(CopyOne(ProgramDir() + "QuvSvr.exe", program));
  ASSERT_TRUE(CopyOne(ProgramDir() + "QuvSvr.exe", other / "QuvSvr.exe"));
  Program first("\"" + program + "\"");
  Program second("\"" + program + "\"");
  std::string elsewhereLine = "\"";  // in steps: g++ 12 sees a false overlap in one expression
  elsewhereLine += other / "QuvSvr.exe";
  elsewhereLine += "\"";
  Program elsewhere(elsewhereLine);
  ASSERT_TRUE(first.started() && second.started() && elsewhere.started());
  ASSERT_TRUE(WaitUntil([&] { return IsProcessRunning("QuvSvr.exe", dir.path()); }, 10000));
  ASSERT_TRUE(WaitUntil([&] { return IsProcessRunning("QuvSvr.exe", other.path() + "\\"); }, 10000));
  char shortName[MAX_PATH] = {};
  ASSERT_GT(GetShortPathNameA(dir.path().c_str(), shortName, MAX_PATH), 0u);
  ASSERT_NE(std::string(shortName), dir.path()) << "the folder has a distinct 8.3 name";
  EXPECT_TRUE(IsProcessRunning("QuvSvr.exe", shortName)) << "the same folder by its 8.3 name";
  EXPECT_EQ(first.Wait(500), -1) << "without arguments it runs until it is ended";

  EXPECT_TRUE(KillProcessByName("quvsvr.exe", dir.path()));
  EXPECT_FALSE(IsProcessRunning("QuvSvr.exe", dir.path()));
  EXPECT_EQ(first.Wait(5000), 0);
  EXPECT_EQ(second.Wait(5000), 0);
  EXPECT_EQ(elsewhere.Wait(500), -1) << "a copy in another folder is not ended";
  EXPECT_TRUE(KillProcessByName("quvsvr.exe", other.path()));
  EXPECT_EQ(elsewhere.Wait(5000), 0);
}

TEST(ProcessControl, KillGivesUpOnAProcessThatRefusesToEnd) {
  ScratchDir dir("guard");
  const std::string guarded = dir / "Guarded.exe";
  ASSERT_TRUE(CopyOne(ProgramPath(), guarded));
  HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, "QuvTestGuarded");
  HANDLE release = CreateEventA(nullptr, TRUE, FALSE, "QuvTestRelease");
  Program child("\"" + guarded + "\" --role=guarded");
  ASSERT_TRUE(child.started());
  ASSERT_EQ(WaitForSingleObject(ready, 20000), WAIT_OBJECT_0);

  DWORD start = GetTickCount();
  EXPECT_FALSE(KillProcessByName("Guarded.exe", dir.path()));
  DWORD elapsed = GetTickCount() - start;
  EXPECT_GE(elapsed, 1000u) << "it keeps trying for a while";
  EXPECT_LT(elapsed, 10000u);
  EXPECT_TRUE(IsProcessRunning("Guarded.exe"));

  SetEvent(release);
  EXPECT_EQ(child.Wait(10000), 0);
  CloseHandle(ready);
  CloseHandle(release);
}

TEST(ProcessControl, DebugPrivilegeAndUnknownPrivilege) {
  EXPECT_TRUE(EnableDebugPrivilege());
  HANDLE token = nullptr;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token));
  EXPECT_FALSE(SetTokenPrivilege(token, "SeNoSuchPrivilege", true));
  CloseHandle(token);
}

}  // namespace
}  // namespace quv::test
