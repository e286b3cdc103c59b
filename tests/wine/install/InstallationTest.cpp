// The installation run, the installed-file list, the payload resource and the
// finish action, end to end with the stand-in payload programs.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "InstallTestSupport.h"
#include "install/Errors.h"
#include "install/Installation.h"
#include "install/Resource.h"
#include "install/ServiceControl.h"
#include "platform/Ui.h"

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

class RecordingUi final : public platform::UserInterface {
 public:
  platform::Answer ShowMessage(const std::string& text, const std::string& caption, platform::Buttons) override {
    shown.push_back(caption + "|" + text);
    return platform::Answer::Ok;
  }
  bool PickFile(const std::string&, const std::string&, const std::string&, std::string&) override { return false; }
  bool PickFolder(const std::string&, std::string&) override { return false; }
  platform::Cursor SetCursor(platform::Cursor c) override { return c; }
  void ProcessMessages() override {}
  std::vector<std::string> shown;
};

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
  ASSERT_TRUE(SaveInstallList(files, dir.path()));
  EXPECT_EQ(ReadBytes(dir / "install.dl"),
            "File0=C:\\Program Files\\\xb7\xfe\xce\xf1\xb3\xcc\xd0\xf2\\QuvSvr.exeN\r\n"
            "File4=C:\\Program Files\\\xb7\xfe\xce\xf1\xb3\xcc\xd0\xf2\\install.dlN\r\n");

  // A second save truncates; a trailing backslash on the folder changes nothing.
  ASSERT_TRUE(SaveInstallList({InstalledFileLine(12, "x")}, dir.path() + "\\"));
  EXPECT_EQ(ReadBytes(dir / "install.dl"), "File12=xN\r\n");
}

TEST(InstallList, FailureToSaveIsShownInAMessageBox) {
  RecordingUi ui;
  platform::SetUi(&ui);
  ScratchDir dir("fail");
  const std::string folder = dir / "missing";
  bool saved = SaveInstallList({InstalledFileLine(0, "x")}, folder);
  platform::SetUi(nullptr);
  EXPECT_FALSE(saved);
  ASSERT_EQ(ui.shown.size(), 1u);
  EXPECT_EQ(ui.shown[0], std::string(kGbkWizardTitle) + "|Cannot create file " + folder + "\\install.dl");
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

  EXPECT_TRUE(FinishAction(folder));
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
  EXPECT_TRUE(FinishAction(dir.path()));
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
  EXPECT_TRUE(KillProcessByName("QuvSvr.exe"));
}

class InstallationTest : public testing::Test {
 protected:
  InstallationTest()
      : dir_(std::string("inst ") + kGbkService), programs_(dir_ / "Programs"), override_("Programs", &programs_) {
    CreateDirectoryA(programs_.c_str(), nullptr);
    steps_.SetStatus = [this](const std::string& s) { statuses_.push_back(s); };
    steps_.ProcessMessages = [this] { ++pumps_; };
    // Until the unzip component lands: check the archive and put the two
    // programs where the extraction would.
    steps_.UnZip = [this](const std::string& zip, const std::string& dest) {
      EXPECT_EQ(ReadBytes(zip), ReadBytes(ProgramDir() + "QuvSvr.zip"));
      zips_.push_back(zip + "|" + dest);
      EXPECT_TRUE(CopyOne(ProgramDir() + "QuvSvr.exe", dest + "QuvSvr.exe"));
      EXPECT_TRUE(CopyOne(ProgramDir() + "UnInstall.exe", dest + "UnInstall.exe"));
    };
  }

  ScratchDir dir_;
  std::string programs_;
  ShellFolderOverride override_;
  InstallationSteps steps_;
  std::vector<std::string> statuses_, zips_;
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
  ClearOldInstallation();
  RunInstallation(folder, files, steps_);
  EXPECT_EQ(statuses_, std::vector<std::string>{kGbkCreatingFolder});
  EXPECT_EQ(pumps_, 1);
  EXPECT_EQ(zips_, std::vector<std::string>{f + "QuvSvr.zip|" + f});
  EXPECT_FALSE(Exists(f + "QuvSvr.zip")) << "the temporary archive is deleted";
  EXPECT_EQ(files, expected);

  // Again, over a running copy and with a trailing backslash: same list.
  Program running("\"" + f + "QuvSvr.exe\"");
  ASSERT_TRUE(WaitUntil([] { return IsProcessRunning("QuvSvr.exe"); }, 10000));
  ClearOldInstallation();
  EXPECT_FALSE(IsProcessRunning("QuvSvr.exe"));
  statuses_.clear();
  RunInstallation(f, files, steps_);
  EXPECT_TRUE(statuses_.empty()) << "the folder exists now";
  EXPECT_EQ(files, expected);
  ASSERT_TRUE(SaveInstallList(files, folder));

  ASSERT_TRUE(FinishAction(folder));
  EXPECT_TRUE(WaitUntil([] { return QueryServiceState("", kServiceName) == SERVICE_RUNNING; }, 10000));

  EXPECT_EQ(RunProgram("\"" + f + "UnInstall.exe\" /silent"), 0);
  EXPECT_EQ(QueryServiceState("", kServiceName), 0u);
  EXPECT_FALSE(IsProcessRunning("QuvSvr.exe"));
  for (const char* name : {"QuvSvr.exe", "install.dl"}) EXPECT_FALSE(Exists(f + name)) << name;
  EXPECT_FALSE(Exists(links)) << "the emptied shortcut folder goes too";
  EXPECT_TRUE(Exists(programs_));
  EXPECT_TRUE(Exists(f + "UnInstall.exe")) << "a running program cannot delete itself";
}

TEST_F(InstallationTest, EmptyFolderTextEndsTheRun) {
  InstalledFileList files;
  try {
    RunInstallation("", files, steps_);
    ADD_FAILURE() << "an empty folder text must raise";
  } catch (const EInOutError& e) {
    EXPECT_STREQ(e.what(), "Unable to create directory");
  }
  EXPECT_EQ(statuses_, std::vector<std::string>{kGbkCreatingFolder});
  EXPECT_TRUE(zips_.empty());
  EXPECT_TRUE(files.empty());
}

}  // namespace
}  // namespace quv::test
