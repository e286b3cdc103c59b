// The installation run, the installed-file list, the payload resource and the
// finish action, end to end with the stand-in payload programs.
#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>
#include <cstring>
#include <memory>
#include <vector>

#include "InstallTestSupport.h"
#include "install/Errors.h"
#include "install/Installation.h"
#include "install/Journal.h"
#include "install/SetupOptions.h"
#include "zip/Text.h"
#include "install/Resource.h"
#include "install/ServiceControl.h"
#include "install/Transaction.h"
#include "install/UninstallEntry.h"

#include <sddl.h>  // after windows.h

namespace quv::test {
namespace {

const std::string kServiceKey = std::string("SYSTEM\\CurrentControlSet\\Services\\") + kServiceName;

std::uint32_t Le(const std::string& b, std::size_t at, int size) {
  std::uint32_t v = 0;
  for (int i = size - 1; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(b[at + static_cast<std::size_t>(i)]);
  return v;
}

struct Entry {
  std::string name;
  std::uint32_t method, flags;
};

// The central directory of a small archive without comment.
std::vector<Entry> CentralDirectory(const std::string& zip) {
  std::vector<Entry> entries;
  if (zip.size() < 22 || Le(zip, zip.size() - 22, 4) != 0x06054b50) return entries;
  std::size_t count = Le(zip, zip.size() - 22 + 10, 2);
  std::size_t at = Le(zip, zip.size() - 22 + 16, 4);
  for (std::size_t i = 0; i < count && at + 46 <= zip.size() && Le(zip, at, 4) == 0x02014b50; ++i) {
    std::size_t name_len = Le(zip, at + 28, 2);
    entries.push_back({zip.substr(at + 46, name_len), Le(zip, at + 10, 2), Le(zip, at + 8, 2)});
    at += 46 + name_len + Le(zip, at + 30, 2) + Le(zip, at + 32, 2);
  }
  return entries;
}

TEST(Payload, ResourceHoldsTheDeflatedProgramsInChinesePrc) {
  EXPECT_NE(FindResourceExA(nullptr, "QUV", "QUV", MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED)), nullptr);
  EXPECT_NE(FindResourceA(nullptr, "QUVTEST", MAKEINTRESOURCEA(10)), nullptr) << "both resource objects linked";

  ScratchDir dir(kGbkService);
  const std::string path = dir / "QuvSvr.zip";
  WriteBytes(path, std::string(3000000, 'x'));
  ASSERT_TRUE(SaveResourceToFile("Quv", "Quv", path));
  const std::string zip = ReadBytes(path);
  EXPECT_EQ(zip, ReadBytes(ProgramDir() + "QuvSvr.zip")) << "the whole file is replaced";

  std::vector<Entry> entries = CentralDirectory(zip);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].name, "QuvSvr.exe");
  EXPECT_EQ(entries[1].name, "UnInstall.exe");
  for (const Entry& e : entries) {
    EXPECT_EQ(e.method, 8u) << e.name;
    EXPECT_EQ(e.flags & 1u, 0u) << e.name << " is not encrypted";
  }

  EXPECT_FALSE(SaveResourceToFile("Quv", "Quv", dir / "no\\such\\folder.zip")) << "a file error is passed over";
  try {
    SaveResourceToFile("Nope", "Quv", path);
    ADD_FAILURE() << "a missing resource must raise";
  } catch (const EResNotFound& e) {
    EXPECT_STREQ(e.what(), "Resource Nope not found");
  }
}

TEST(InstallList, SavedAsCrLfLinesInTheSystemCodePage) {
  ScratchDir dir(std::string("list ") + kGbkService);
  const std::string folder = "C:\\Program Files\\\xb7\xfe\xce\xf1\xb3\xcc\xd0\xf2\\";  // ...\服务程序\ (GBK)
  InstalledFileList files = {InstalledFileLine(0, folder + "QuvSvr.exe"), InstalledFileLine(4, folder + "install.dl")};
  ASSERT_NO_THROW(SaveInstalledFiles(files, dir / "install.dl"));
  EXPECT_EQ(ReadBytes(dir / "install.dl"),
            "File0=C:\\Program Files\\\xb7\xfe\xce\xf1\xb3\xcc\xd0\xf2\\QuvSvr.exeN\r\n"
            "File4=C:\\Program Files\\\xb7\xfe\xce\xf1\xb3\xcc\xd0\xf2\\install.dlN\r\n");

  // A second save truncates.
  ASSERT_NO_THROW(SaveInstalledFiles({InstalledFileLine(12, "x")}, dir / "install.dl"));
  EXPECT_EQ(ReadBytes(dir / "install.dl"), "File12=xN\r\n");
  EXPECT_THROW(SaveInstalledFiles({}, dir / "missing\\install.dl"), EFCreateError);
}

// The finish action on its own, kept as a successful run keeps it.
void Finish(const std::string& folder) {
  InstallTransaction transaction(nullptr);
  FinishAction(folder, transaction, [](unsigned ms) { Sleep(ms); });
  transaction.Commit();
}

TEST(FinishAction, QuotesTheProgramWaitsForItAndStartsTheDescribedService) {
  RemoveServiceCompletely(kServiceName);
  ScratchDir dir("");
  // An older registration of another copy, running: the finish action replaces it.
  const std::string old = dir / "old";
  CreateDirectoryA(old.c_str(), nullptr);
  ASSERT_TRUE(CopyOne(ProgramDir() + "QuvSvr.exe", old + "\\QuvSvr.exe"));
  ASSERT_EQ(RunProgram("\"" + old + "\\QuvSvr.exe\" -install /silent"), 0);
  ASSERT_TRUE(StartServiceByName(kServiceName));

  const std::string folder = dir / (std::string("svc ") + kGbkServiceProgram);
  CreateDirectoryA(folder.c_str(), nullptr);
  ASSERT_TRUE(CopyOne(ProgramDir() + "QuvSvr.exe", folder + "\\QuvSvr.exe"));
  // Unquoted, the launcher would start "<dir>\svc.exe" instead.
  ASSERT_TRUE(CopyOne(ProgramDir() + "Trap.exe", dir / "svc.exe"));

  ASSERT_NO_THROW(Finish(folder));
  std::string description;
  EXPECT_TRUE(ReadRegString(HKEY_LOCAL_MACHINE, kServiceKey, "Description", description))
      << "written once the program had registered the service";
  EXPECT_EQ(description, kGbkDescription);
  EXPECT_EQ(ServiceBinaryPath(kServiceName), "\"" + folder + "\\QuvSvr.exe\"");
  EXPECT_TRUE(WaitUntil([] { return QueryServiceState("", kServiceName) == SERVICE_RUNNING; }, 10000));
  EXPECT_FALSE(Exists(dir / "trap-ran"));
  RemoveServiceCompletely(kServiceName);
}

TEST(FinishAction, WaitsForARegistrationThatComesLate) {
  RemoveServiceCompletely(kServiceName);
  ScratchDir dir(std::string("late ") + kGbkService);
  ASSERT_TRUE(CopyOne(ProgramPath(), dir / "QuvSvr.exe"));
  SetEnvironmentVariableA("QUV_TEST_LATE_REGISTRAR", (ProgramDir() + "QuvSvr.exe").c_str());
  ASSERT_NO_THROW(Finish(dir.path()));
  SetEnvironmentVariableA("QUV_TEST_LATE_REGISTRAR", nullptr);
  std::string description;
  EXPECT_TRUE(ReadRegString(HKEY_LOCAL_MACHINE, kServiceKey, "Description", description));
  EXPECT_EQ(description, kGbkDescription);
  EXPECT_TRUE(WaitUntil([] { return QueryServiceState("", kServiceName) == SERVICE_RUNNING; }, 10000));
  RemoveServiceCompletely(kServiceName);
}

TEST(FinishAction, OlderFamilyStartsTheProgramWithoutRegisteringIt) {
  RemoveServiceCompletely(kServiceName);
  ScratchDir dir(std::string("old ") + kGbkService);
  ASSERT_TRUE(CopyOne(ProgramDir() + "QuvSvr.exe", dir / "QuvSvr.exe"));
  const std::string setup = dir / "QuvSetup.exe";
  ASSERT_TRUE(CopyOne(ProgramPath(), setup));
  const std::string app_key = "Software\\Wine\\AppDefaults\\QuvSetup.exe";
  WriteRegString(HKEY_CURRENT_USER, app_key, "Version", "win98");
  long code = RunProgram("\"" + setup + "\" --role=older-family \"" + dir.path() + "\"");
  RegDeleteKeyA(HKEY_CURRENT_USER, app_key.c_str());

  EXPECT_NE(code, 10) << "Wine reported the NT family to QuvSetup.exe";
  EXPECT_EQ(code, 0);
  EXPECT_TRUE(WaitUntil([] { return IsProcessRunning("QuvSvr.exe"); }, 10000));
  EXPECT_EQ(QueryServiceState("", kServiceName), 0u);
  EXPECT_TRUE(KillProcessByName("QuvSvr.exe", dir.path()));
}

// The names in a folder, sorted, blank-separated.
std::string ListNames(const std::string& folder) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA found;
  HANDLE h = FindFirstFileA((folder + "\\*").c_str(), &found);
  if (h == INVALID_HANDLE_VALUE) return "";
  do {
    const std::string name = found.cFileName;
    if (name != "." && name != "..") names.push_back(name);
  } while (FindNextFileA(h, &found));
  FindClose(h);
  std::sort(names.begin(), names.end());
  std::string list;
  for (const std::string& name : names) list += (list.empty() ? "" : " ") + name;
  return list;
}

class InstallationTest : public testing::Test {
 protected:
  InstallationTest()
      : dir_(std::string("inst ") + kGbkService), programs_(dir_ / "Programs"), override_("Programs", &programs_) {
    CreateDirectoryA(programs_.c_str(), nullptr);
    steps_.SetStatus = [this](const std::string& s) { statuses_.push_back(s); };
    steps_.ProcessMessages = [this] { ++pumps_; };
    // In place of the unzip component: check the archive and put the two
    // programs where the extraction would, through the transaction.
    steps_.UnZip = [this](const std::string& zip, const std::string& dest) {
      EXPECT_EQ(ReadBytes(zip), ReadBytes(ProgramDir() + "QuvSvr.zip"));
      // Checked against the resource and held: no one swaps it before it is read.
      HANDLE writer = CreateFileA(zip.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, 0, nullptr);
      EXPECT_EQ(writer, INVALID_HANDLE_VALUE) << "the archive can be written between its check and its use";
      if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
      zips_.push_back(zip);
      for (const char* name : {"QuvSvr.exe", "UnInstall.exe"}) {
        if (name == failAt_) throw CodeFailure("test", name, ERROR_ACCESS_DENIED);
        transaction_->PrepareFile(dest + name);
        EXPECT_TRUE(CopyOne(ProgramDir() + name, dest + name));
      }
    };
  }

  // A run in its own transaction, kept (and the service started) when finish.
  void Install(const std::string& folder, InstalledFileList& files, bool finish) {
    transaction_ = std::make_unique<InstallTransaction>(nullptr);
    RunInstallation(folder, files, steps_, *transaction_);
    if (finish) FinishAction(folder, *transaction_, [](unsigned ms) { Sleep(ms); });
    transaction_->Commit();
  }

  ScratchDir dir_;
  std::string programs_;
  ShellFolderOverride override_;
  InstallationSteps steps_;
  std::unique_ptr<InstallTransaction> transaction_;
  std::vector<std::string> statuses_, zips_;
  std::string failAt_;
  int pumps_ = 0;
};

TEST_F(InstallationTest, InstallsRecordsFinishesAndUninstalls) {
  RemoveServiceCompletely(kServiceName);
  const std::string folder = dir_ / (std::string("Program Files\\") + kGbkServiceProgram);
  const std::string f = folder + "\\";
  const std::string links = programs_ + "\\" + kGbkServiceProgram + "\\";
  const InstalledFileList expected = {
      "File0=" + f + "QuvSvr.exeN",     "File1=" + f + "UnInstall.exeN",
      "File2=" + f + "pelnu.dllN",      "File3=" + f + "install.inN",
      "File4=" + f + "install.dlN",     "File5=" + links + kGbkServiceProgram + ".lnkN",
      "File6=" + links + kGbkUninstall + ".lnkN"};

  InstalledFileList files = {"stale"};
  Install(folder, files, false);
  EXPECT_EQ(statuses_, std::vector<std::string>{kGbkCreatingFolder});
  EXPECT_EQ(pumps_, 1);
  ASSERT_EQ(zips_.size(), 1u);
  EXPECT_EQ(text::FolderPart(zips_[0]), f) << "the archive is written into the folder";
  EXPECT_FALSE(Exists(zips_[0])) << "the temporary archive is deleted";
  EXPECT_EQ(files, expected);
  std::string list;
  for (const std::string& line : expected) list += line + "\r\n";
  EXPECT_EQ(ReadBytes(f + "install.dl"), list);

  // Again, over a running copy and with a trailing backslash: same list, a
  // fresh archive name, no old files left beside the new ones, nor the
  // archive an interrupted run left (other files are not the run's).
  WriteBytes(f + "Quv1a2.tmp", "left by an interrupted run");
  WriteBytes(f + "Quvx.tmp", "not an archive's name");
  Program running("\"" + f + "QuvSvr.exe\"");
  ASSERT_TRUE(WaitUntil([] { return IsProcessRunning("QuvSvr.exe"); }, 10000));
  statuses_.clear();
  Install(f, files, true);
  EXPECT_TRUE(statuses_.empty()) << "the folder exists now";
  EXPECT_EQ(files, expected);
  ASSERT_EQ(zips_.size(), 2u);
  EXPECT_NE(zips_[0], zips_[1]);
  EXPECT_EQ(ListNames(folder), "QuvSvr.exe Quvx.tmp UnInstall.exe install.dl");
  DeleteFileA((f + "Quvx.tmp").c_str());
  EXPECT_TRUE(WaitUntil([] { return QueryServiceState("", kServiceName) == SERVICE_RUNNING; }, 10000));

  EXPECT_EQ(RunProgram("\"" + f + "UnInstall.exe\" /silent"), 0);
  EXPECT_EQ(QueryServiceState("", kServiceName), 0u);
  EXPECT_FALSE(IsProcessRunning("QuvSvr.exe"));
  for (const char* name : {"QuvSvr.exe", "install.dl"}) EXPECT_FALSE(Exists(f + name)) << name;
  EXPECT_FALSE(Exists(links)) << "the emptied shortcut folder goes too";
  EXPECT_TRUE(Exists(programs_));
  // A running program cannot delete itself: its copy does once it has ended.
  EXPECT_TRUE(WaitUntil([&] { return !Exists(f + "UnInstall.exe"); }, 10000));
}

// Gives the registered service what an administrator or the program itself
// may have set beyond the basic registration: failure actions, delayed
// start, its own access list, and keys and values of every kind below its key.
void DressTheService() {
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  SC_HANDLE service = OpenServiceA(manager, kServiceName, SERVICE_ALL_ACCESS);
  ASSERT_NE(service, nullptr);
  SC_ACTION actions[] = {{SC_ACTION_RESTART, 60000}, {SC_ACTION_RUN_COMMAND, 5000}, {SC_ACTION_NONE, 0}};
  char command[] = "cmd /c echo failed";
  char reboot[] = "";
  SERVICE_FAILURE_ACTIONSA failure{86400, reboot, command, 3, actions};
  EXPECT_TRUE(ChangeServiceConfig2A(service, SERVICE_CONFIG_FAILURE_ACTIONS, &failure));
  // Wine refuses this level and keeps no failure actions: there, the
  // comparison below covers the access list and the key tree.
  BOOL delayed = TRUE;
  ChangeServiceConfig2A(service, 3 /* SERVICE_CONFIG_DELAYED_AUTO_START_INFO */, &delayed);
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA("D:P(A;;GA;;;SY)(A;;GA;;;BA)(A;;GR;;;IU)",
                                                                   SDDL_REVISION_1, &descriptor, nullptr));
  EXPECT_TRUE(SetServiceObjectSecurity(service, DACL_SECURITY_INFORMATION, descriptor));
  LocalFree(descriptor);
  CloseServiceHandle(service);
  CloseServiceHandle(manager);
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, (kServiceKey + "\\Parameters\\Store").c_str(), 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  const DWORD port = 8080;
  RegSetValueExA(key, "Port", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&port), sizeof port);
  RegSetValueExA(key, "Hosts", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>("a\0b\0"), 5);
  RegSetValueExA(key, "Blob", 0, REG_BINARY, reinterpret_cast<const BYTE*>("\0\1\xff"), 3);
  RegSetValueExA(key, "", 0, REG_SZ, reinterpret_cast<const BYTE*>(kGbkService), sizeof kGbkService);
  RegCloseKey(key);
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, (kServiceKey + "\\Parameters\\Empty").c_str(), 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(key);
}

// The registration as the run saves it, its key tree in a fixed order.
ServiceConfig WholeRegistration() {
  ServiceConfig config;
  EXPECT_TRUE(ReadServiceConfig(kServiceName, config));
  std::sort(config.registry.begin(), config.registry.end(), [](const ServiceKeyItem& a, const ServiceKeyItem& b) {
    return std::tie(a.subkey, a.keyOnly, a.name) < std::tie(b.subkey, b.keyOnly, b.name);
  });
  return config;
}

TEST_F(InstallationTest, AFailedRunPutsThePreviousInstallationBack) {
  RemoveServiceCompletely(kServiceName);
  const std::string folder = dir_ / "prev";
  const std::string f = folder + "\\";
  const std::string links = programs_ + "\\" + kGbkServiceProgram;
  InstalledFileList files;
  Install(folder, files, false);
  // The previous programs differ from the payload's (bytes after the image
  // leave them working); the service runs from there.
  for (const char* name : {"QuvSvr.exe", "UnInstall.exe"}) WriteBytes(f + name, ReadBytes(f + name) + "previous");
  ASSERT_EQ(RunProgram("\"" + f + "QuvSvr.exe\" -install /silent"), 0);
  DressTheService();
  ASSERT_TRUE(StartServiceByName(kServiceName));
  ASSERT_TRUE(WaitUntil([] { return QueryServiceState("", kServiceName) == SERVICE_RUNNING; }, 10000));
  files.clear();
  const std::string before = ListNames(folder) + "|" + ReadBytes(f + "install.dl") + "|" + ListNames(links);
  const std::string program = ReadBytes(f + "QuvSvr.exe");
  const ServiceConfig registration = WholeRegistration();
  // What the comparison below covers at least, as read back here.
  EXPECT_FALSE(registration.security.empty());
  EXPECT_NE(std::find_if(registration.registry.begin(), registration.registry.end(),
                         [](const ServiceKeyItem& item) { return item.name == L"Hosts"; }),
            registration.registry.end());

  for (const char* failAt : {"UnInstall.exe", ""}) {
    SCOPED_TRACE(*failAt ? "the second file fails" : "the finish action fails");
    failAt_ = failAt;
    transaction_ = std::make_unique<InstallTransaction>(nullptr);
    if (!*failAt) SetEnvironmentVariableA("QUV_STANDIN_FAIL", "start");
    try {
      RunInstallation(folder, files, steps_, *transaction_);
      FinishAction(folder, *transaction_, [](unsigned ms) { Sleep(ms); });
      ADD_FAILURE() << "the run must fail";
    } catch (const InstallFailure& e) {
      EXPECT_EQ(e.Failure().object, *failAt ? failAt : kServiceName);
      // Wine's start reports the service's early stop as a timeout.
      if (*failAt) {
        EXPECT_EQ(e.Failure().code, static_cast<std::uint32_t>(ERROR_ACCESS_DENIED));
      }
      EXPECT_NE(e.Failure().code, 0u);
    }
    SetEnvironmentVariableA("QUV_STANDIN_FAIL", nullptr);
    EXPECT_EQ(transaction_->Rollback(), std::vector<std::string>{});
    EXPECT_EQ(ListNames(folder) + "|" + ReadBytes(f + "install.dl") + "|" + ListNames(links), before);
    EXPECT_EQ(ReadBytes(f + "QuvSvr.exe"), program) << "the previous program is back";
    EXPECT_TRUE(WaitUntil([] { return QueryServiceState("", kServiceName) == SERVICE_RUNNING; }, 10000));
    EXPECT_EQ(ServiceBinaryPath(kServiceName), "\"" + f + "QuvSvr.exe\"");
    EXPECT_TRUE(WholeRegistration() == registration) << "the whole registration is back";
  }
  RemoveServiceCompletely(kServiceName);
}

TEST_F(InstallationTest, AFolderThatCannotBeMadeEndsTheRunWithItsError) {
  WriteBytes(dir_ / "file", "x");
  InstalledFileList files;
  InstallTransaction transaction(nullptr);
  try {
    RunInstallation(dir_ / "file\\sub", files, steps_, transaction);
    ADD_FAILURE() << "must raise";
  } catch (const InstallFailure& e) {
    EXPECT_EQ(e.Failure().object, dir_ / "file");
    EXPECT_NE(e.Failure().code, 0u);
  }
  EXPECT_TRUE(zips_.empty());
  EXPECT_EQ(transaction.Rollback(), std::vector<std::string>{});
}

}  // namespace
}  // namespace quv::test

namespace quv::test {
namespace {

// Names in folder (not "." and "..") that match the pattern, e.g. "*.exe".
std::vector<std::string> Names(const std::string& folder, const char* pattern) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA found;
  HANDLE h = FindFirstFileA((folder + "\\" + pattern).c_str(), &found);
  if (h == INVALID_HANDLE_VALUE) return names;
  do {
    if (std::strcmp(found.cFileName, ".") && std::strcmp(found.cFileName, "..")) names.push_back(found.cFileName);
  } while (FindNextFileA(h, &found));
  FindClose(h);
  return names;
}

// The temporary folder of the programs this one starts, for a scope.
class TemporaryFolder {
 public:
  explicit TemporaryFolder(const std::string& folder) {
    for (int i = 0; i < 2; ++i) {
      char value[MAX_PATH + 1] = {};
      GetEnvironmentVariableA(kNames[i], value, MAX_PATH);
      saved_[i] = value;
      SetEnvironmentVariableA(kNames[i], folder.c_str());
    }
  }
  ~TemporaryFolder() {
    for (int i = 0; i < 2; ++i) SetEnvironmentVariableA(kNames[i], saved_[i].c_str());
  }
  TemporaryFolder(const TemporaryFolder&) = delete;
  TemporaryFolder& operator=(const TemporaryFolder&) = delete;

 private:
  static constexpr const char* kNames[2] = {"TEMP", "TMP"};
  std::string saved_[2];
};

std::string PendingDeletions() {
  HKEY key = nullptr;
  std::string data(65536, '\0');
  DWORD size = static_cast<DWORD>(data.size()), type = 0;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Session Manager", 0, KEY_QUERY_VALUE,
                    &key) != ERROR_SUCCESS)
    return "";
  if (RegQueryValueExA(key, "PendingFileRenameOperations", nullptr, &type, reinterpret_cast<BYTE*>(data.data()),
                       &size) != ERROR_SUCCESS)
    size = 0;
  RegCloseKey(key);
  data.resize(size);
  return data;
}

// The uninstaller takes install.dl as a list, not as orders: lines outside
// its folder, another installation's service and entry are left alone; what
// is locked waits for the next start and keeps the uninstall repeatable; its
// copy runs from a private folder, whatever was planted in the temporary one.
TEST_F(InstallationTest, TheUninstallerRemovesOnlyItsOwnInstallation) {
  RemoveServiceCompletely(kServiceName);
  const std::string folder = dir_ / "own";
  const std::string f = folder + "\\";
  InstalledFileList files;
  Install(folder, files, false);
  const std::string victim = dir_ / "victim.txt";
  const std::string otherLink = dir_ / (std::string("other\\") + kGbkServiceProgram + ".lnk");
  CreateDirectoryA((dir_ / "other").c_str(), nullptr);
  for (const std::string& path : {victim, otherLink, f + "locked.dat"}) WriteBytes(path, "x");
  WriteBytes(f + "install.dl", ReadBytes(f + "install.dl") + "File7=" + victim + "N\r\nFile5=" + otherLink +
                                   "N\r\nFile8=" + f + "..\\victim.txtN\r\nFile9=" + f + "locked.datN\r\n");
  // The service and entry of an installation elsewhere.
  const std::string other = dir_ / "elsewhere";
  CreateDirectoryA(other.c_str(), nullptr);
  ASSERT_TRUE(CopyOne(ProgramDir() + "QuvSvr.exe", other + "\\QuvSvr.exe"));
  ASSERT_EQ(RunProgram("\"" + other + "\\QuvSvr.exe\" -install /silent"), 0);
  ASSERT_EQ(WriteUninstallEntry({"Quv", "1.0.0", "Quv", other, 1}), 0u);

  ScratchDir temp("temp");
  ASSERT_TRUE(CopyOne(ProgramDir() + "Trap.exe", temp / "UnInstall.exe"));
  ASSERT_TRUE(CopyOne(ProgramDir() + "Trap.exe", temp / "Quv1.tmp.exe"));
  const TemporaryFolder tempForChildren(temp.path());
  const std::string log = dir_ / "uninstall.log";
  {
    SCOPED_TRACE("a file in use");
    HANDLE held = CreateFileA((f + "locked.dat").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_EQ(RunProgram("\"" + f + "UnInstall.exe\" /silent \"/LOG=" + log + "\""), 3);
    CloseHandle(held);
    for (const std::string& kept : {victim, otherLink}) EXPECT_TRUE(Exists(kept)) << kept;
    EXPECT_EQ(ServiceBinaryPath(kServiceName), "\"" + other + "\\QuvSvr.exe\"") << "not this installation's";
    EXPECT_TRUE(RegKeyExists(HKEY_LOCAL_MACHINE, kUninstallKey));
    EXPECT_NE(PendingDeletions().find(f + "locked.dat"), std::string::npos) << "goes at the next start";
    EXPECT_EQ(ListNames(folder), "UnInstall.exe install.dl locked.dat") << "kept for another try";
    EXPECT_NE(ReadBytes(log).find("victim.txt"), std::string::npos) << "the ignored lines are logged";
  }
  {
    SCOPED_TRACE("again, with this installation's service and entry");
    RemoveServiceCompletely(kServiceName);
    ASSERT_TRUE(CopyOne(ProgramDir() + "QuvSvr.exe", f + "QuvSvr.exe"));
    InstallTransaction transaction(nullptr);
    FinishAction(folder, transaction, [](unsigned ms) { Sleep(ms); });
    transaction.Commit();
    EXPECT_EQ(RunProgram("\"" + f + "UnInstall.exe\" /silent"), 0);
    EXPECT_EQ(QueryServiceState("", kServiceName), 0u);
    EXPECT_FALSE(RegKeyExists(HKEY_LOCAL_MACHINE, kUninstallKey));
    EXPECT_TRUE(WaitUntil([&] { return !Exists(folder); }, 10000)) << ListNames(folder);
    for (const std::string& kept : {victim, otherLink}) EXPECT_TRUE(Exists(kept)) << kept;
  }
  EXPECT_FALSE(Exists(temp / "trap-ran")) << "a planted program ran";
  const std::vector<std::string> planted = {"Quv1.tmp.exe", "UnInstall.exe"};
  EXPECT_EQ(Names(temp.path(), "*.exe"), planted) << "the copy lies in a folder of its own";
  const std::vector<std::string> copies = Names(temp.path(), "QuvUninstall-*");
  ASSERT_EQ(copies.size(), 2u) << "a private folder for the copy, and the log";
  RemoveServiceCompletely(kServiceName);
}

}  // namespace
}  // namespace quv::test

namespace quv::test {
namespace {

TEST(FreeSpace, TooLittleIsRefusedWithBothFiguresBeforeAnythingIsMade) {
  ScratchDir dir("space");
  const std::string folder = dir / "not yet\\deeper";
  EXPECT_NO_THROW(CheckFreeSpace(folder, 1)) << "measured on the nearest folder that exists";
  try {
    CheckFreeSpace(folder, 1ull << 62);
    ADD_FAILURE() << "must raise";
  } catch (const InstallFailure& e) {
    EXPECT_EQ(e.Failure().code, static_cast<std::uint32_t>(ERROR_DISK_FULL));
    EXPECT_EQ(ExitCodeOf(e.Failure()), kExitDiskFull);
    EXPECT_NE(e.Failure().systemText.find(std::to_string((1ull << 62) / 1024) + " KB"), std::string::npos)
        << e.Failure().systemText;
  }
  EXPECT_FALSE(Exists(dir / "not yet"));
}

// A record torn by a crash, and all after it, never took effect: the
// journal gives back the whole records before it, with every field.
TEST(Journal, GivesBackTheWholeRecordsBeforeATornOne) {
  JournalRecord replaced{JournalRecord::Kind::FileReplaced, "C:\\a\\QuvSvr.exe", "C:\\a\\QuvSvr.exe.quvold", {}, {}};
  JournalRecord removed{JournalRecord::Kind::ServiceRemoved, kServiceName, "", {}, {}};
  removed.service.binaryPath = "\"C:\\a\\QuvSvr.exe\"";
  removed.service.dependencies = std::string("Tcpip\0", 6);
  removed.service.failureActions = {{1, 60000}, {0, 0}};
  removed.service.security = std::string("\1\0\4\x80", 4);
  removed.service.registry = {{L"", true, L"", 0, ""}, {L"Parameters", false, L"Port", REG_DWORD, std::string("\x90\x1f\0\0", 4)}};
  JournalRecord entry{JournalRecord::Kind::UninstallEntryWritten, "key", "", {}, {true, {{"DisplayName", REG_SZ, "x"}}}};
  const std::string whole = EncodeJournalRecord(replaced) + EncodeJournalRecord(removed) + EncodeJournalRecord(entry);
  const std::vector<JournalRecord> back = DecodeJournal(whole);
  ASSERT_EQ(back.size(), 3u);
  EXPECT_EQ(back[0].backup, replaced.backup);
  EXPECT_TRUE(back[1].service == removed.service);
  EXPECT_EQ(back[2].entry.values.size(), 1u);

  const std::string two = EncodeJournalRecord(replaced) + EncodeJournalRecord(removed);
  EXPECT_EQ(DecodeJournal(two.substr(0, two.size() - 1)).size(), 1u) << "cut short";
  std::string flipped = two;
  flipped[flipped.size() - 20] ^= 1;
  EXPECT_EQ(DecodeJournal(flipped).size(), 1u) << "damaged";
  EXPECT_EQ(DecodeJournal(flipped + EncodeJournalRecord(entry)).size(), 1u) << "nothing after a damaged record";
}

}  // namespace
}  // namespace quv::test
