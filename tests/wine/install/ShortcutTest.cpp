// Shortcuts made through the shell-link object and read back through it, in
// folders with blanks and Chinese names.
#include <windows.h>
#include <objidl.h>
#include <shlguid.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <gtest/gtest.h>

#include "InstallTestSupport.h"
#include "install/Errors.h"
#include "install/Shortcut.h"

namespace quv::test {
namespace {

struct Resolved {
  std::string path, working, description;
};

Resolved Resolve(const std::string& lnk) {
  Resolved r;
  IShellLinkA* link = nullptr;
  IPersistFile* file = nullptr;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                              reinterpret_cast<void**>(&link))))
    return r;
  wchar_t wide[MAX_PATH] = {};
  MultiByteToWideChar(CP_ACP, 0, lnk.c_str(), -1, wide, MAX_PATH);
  if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))) &&
      SUCCEEDED(file->Load(wide, STGM_READ))) {
    char text[MAX_PATH] = {};
    if (link->GetPath(text, MAX_PATH, nullptr, SLGP_RAWPATH) == S_OK) r.path = text;
    text[0] = 0;
    if (SUCCEEDED(link->GetWorkingDirectory(text, MAX_PATH))) r.working = text;
    text[0] = 0;
    if (SUCCEEDED(link->GetDescription(text, MAX_PATH))) r.description = text;
  }
  if (file) file->Release();
  link->Release();
  return r;
}

class ShortcutTest : public testing::Test {
 protected:
  ShortcutTest()
      : dir_(std::string("start ") + kGbkService),
        programs_(dir_ / "Programs"),
        app_(dir_ / (std::string("app ") + kGbkService) + "\\"),
        override_("Programs", &programs_) {
    CreateDirectoryA(programs_.c_str(), nullptr);
    CreateDirectoryA(app_.c_str(), nullptr);
    WriteBytes(app_ + "QuvSvr.exe", "MZ");
    WriteBytes(app_ + "UnInstall.exe", "MZ");
  }

  ScratchDir dir_;
  std::string programs_, app_;
  ShellFolderOverride override_;
  InstalledFileList files_;
};

TEST_F(ShortcutTest, TwoShortcutsShareTheirSubfolderAndAreRecorded) {
  const std::string sub = programs_ + "\\" + kGbkServiceProgram;
  ASSERT_TRUE(CreateShortcut(app_ + "QuvSvr.exe", kGbkServiceProgram, kPrograms, kGbkServiceProgram, 5, files_));
  ASSERT_TRUE(CreateShortcut(app_ + "UnInstall.exe", kGbkUninstall, kPrograms, kGbkServiceProgram, 6, files_));

  const std::string first = sub + "\\" + kGbkServiceProgram + ".lnk";
  const std::string second = sub + "\\" + kGbkUninstall + ".lnk";
  ASSERT_EQ(files_.size(), 2u);
  EXPECT_EQ(files_[0], "File5=" + first + "N");
  EXPECT_EQ(files_[1], "File6=" + second + "N");

  Resolved r = Resolve(first);
  EXPECT_EQ(r.path, app_ + "QuvSvr.exe");
  EXPECT_EQ(r.working, app_);
  EXPECT_EQ(r.description, kGbkServiceProgram);
  EXPECT_EQ(Resolve(second).path, app_ + "UnInstall.exe");

  // Again: the files are replaced and the lines added once more.
  ASSERT_TRUE(CreateShortcut(app_ + "QuvSvr.exe", kGbkServiceProgram, kPrograms, kGbkServiceProgram, 5, files_));
  EXPECT_EQ(files_.size(), 3u);
  EXPECT_EQ(Resolve(first).path, app_ + "QuvSvr.exe");
}

TEST_F(ShortcutTest, NamesFollowTheTargetTheDotAndTheEmptyTarget) {
  ASSERT_TRUE(CreateShortcut(app_ + "QuvSvr.exe", "Setup 1.5", kPrograms, "", 1, files_));
  Resolved dotted = Resolve(programs_ + "\\Setup 1.lnk");
  EXPECT_EQ(dotted.description, "Setup 1.5");
  EXPECT_EQ(dotted.path, app_ + "QuvSvr.exe");

  ASSERT_TRUE(CreateShortcut(app_ + "UnInstall.exe", "", kPrograms, "", 2, files_));
  EXPECT_TRUE(Exists(programs_ + "\\UnInstall.lnk"));

  ASSERT_TRUE(CreateShortcut("", "ignored", kPrograms, "", 3, files_));
  const std::string computer = programs_ + "\\" + kGbkMyComputer + ".lnk";
  ASSERT_EQ(files_.back(), "File3=" + computer + "N");
  Resolved empty = Resolve(computer);
  EXPECT_EQ(empty.path, "");
  EXPECT_EQ(empty.working, "");
  EXPECT_EQ(empty.description, kGbkMyComputer);
}

TEST_F(ShortcutTest, MissingFoldersAndUnknownLocationsMakeNothing) {
  EXPECT_FALSE(CreateShortcut(app_ + "QuvSvr.exe", "x", 7, "", 1, files_));
  {
    ShellFolderOverride no_desktop("Desktop", nullptr);
    EXPECT_FALSE(CreateShortcut(app_ + "QuvSvr.exe", "x", kDesktop, "", 1, files_));
  }
  const std::string missing = dir_ / "missing";
  ShellFolderOverride gone("Programs", &missing);
  EXPECT_FALSE(CreateShortcut(app_ + "QuvSvr.exe", "x", kPrograms, "sub", 1, files_));
  EXPECT_FALSE(Exists(missing)) << "no parent folder is created";
  EXPECT_TRUE(files_.empty());
}

TEST_F(ShortcutTest, QuickLaunchLiesUnderAppDataAndOtherValueTypesAreRefused) {
  const std::string appdata = dir_ / "AppData";
  const std::string quick = appdata + "\\Microsoft\\Internet Explorer\\Quick Launch";
  CreateDirectoryA(appdata.c_str(), nullptr);
  CreateDirectoryA((appdata + "\\Microsoft").c_str(), nullptr);
  CreateDirectoryA((appdata + "\\Microsoft\\Internet Explorer").c_str(), nullptr);
  CreateDirectoryA(quick.c_str(), nullptr);
  ShellFolderOverride data("AppData", &appdata);
  ASSERT_TRUE(CreateShortcut(app_ + "QuvSvr.exe", "Q", kQuickLaunch, "", 4, files_));
  EXPECT_EQ(files_.back(), "File4=" + quick + "\\Q.lnkN");

  const std::string unused = dir_ / "Startup";
  ShellFolderOverride startup("Startup", &unused);
  HKEY key;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kShellFoldersKey, 0, KEY_SET_VALUE, &key), ERROR_SUCCESS);
  DWORD number = 1;
  RegSetValueExA(key, "Startup", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number);
  RegCloseKey(key);
  EXPECT_THROW(CreateShortcut(app_ + "QuvSvr.exe", "S", kStartup, "", 1, files_), ERegistryException);
  EXPECT_EQ(files_.size(), 1u);
}

}  // namespace
}  // namespace quv::test

namespace quv::test {
namespace {

// Run as LocalSystem (a deployment tool), the shortcuts go to all users'
// Programs folder; any other account keeps its own. Wine cannot start a
// program as SYSTEM, so the choice is tested on the token user's SID.
TEST_F(ShortcutTest, LocalSystemsShortcutsGoToAllUsersPrograms) {
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  PSID system = nullptr, admins = nullptr;
  ASSERT_TRUE(AllocateAndInitializeSid(&nt, 1, SECURITY_LOCAL_SYSTEM_RID, 0, 0, 0, 0, 0, 0, 0, &system));
  ASSERT_TRUE(AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0,
                                       0, &admins));
  EXPECT_EQ(ProgramsLocationFor(system), kCommonPrograms);
  EXPECT_EQ(ProgramsLocationFor(admins), kPrograms);
  EXPECT_EQ(ProgramsLocationFor(nullptr), kPrograms);
  EXPECT_EQ(ProgramsLocation(), kPrograms) << "the test runs as an interactive user";
  FreeSid(system);
  FreeSid(admins);

  char common[MAX_PATH] = {};
  ASSERT_TRUE(SUCCEEDED(SHGetFolderPathA(nullptr, CSIDL_COMMON_PROGRAMS, nullptr, SHGFP_TYPE_CURRENT, common)));
  const std::string sub = std::string("all ") + kGbkService;
  ASSERT_TRUE(CreateShortcut(app_ + "QuvSvr.exe", "", kCommonPrograms, sub, 5, files_));
  const std::string lnk = std::string(common) + "\\" + sub + "\\QuvSvr.lnk";
  EXPECT_EQ(files_, InstalledFileList{"File5=" + lnk + "N"});
  EXPECT_EQ(Resolve(lnk).path, app_ + "QuvSvr.exe");
  RemoveTree(std::string(common) + "\\" + sub);
}

}  // namespace
}  // namespace quv::test
