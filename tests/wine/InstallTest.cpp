// Whole installations through the wizard, driven as a person would, and what
// they leave on the machine: the two programs, no temporary archive,
// "install.dl" (code page 936, CR LF), the two Start-menu shortcuts, the
// service "ZRQuvSvr" running with its description once the finish button is
// pressed; installing again over a running service and read-only files; the
// older family; runs that fail; the uninstaller.
//
// Each scenario starts from a machine without the service, its programs
// running, its folder or its shortcuts; the prefix is left that way as well.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <vector>
#include <iostream>
#include <string>
#include <thread>

#include "Installed.h"
#include "Wizard.h"

namespace {

using namespace quv::wizardtest;

constexpr const char* kCustomFolder = "C:\\Quv 安装\\收银 服务 誠";  // 誠 ends in the byte 0x5C in code page 936

// Leaves the prefix without the service and its programs when the scenarios
// are done (make run keeps its installation to report it).
class CleanPrefix : public testing::Environment {
 public:
  void TearDown() override {
    if (!Env("QUV_KEEP_INSTALLATION").empty()) return;
    RemoveInstallation(kDefaultFolder);
  }
};
const auto* const kCleanPrefix = testing::AddGlobalTestEnvironment(new CleanPrefix);

// The held wizard is built beside the tests and carries that build's own
// programs, which differ from the shipped ones the other runs install.
std::string PayloadFile(const char* name, bool held = false) {
  const std::string dir = Env(held ? "QUV_HELD_PAYLOAD_DIR" : "QUV_PAYLOAD_DIR");
  return dir.empty() ? "" : dir + "\\" + name;
}

// The control of that class whose place in panel is (left, top).
HWND ControlAt(HWND panel, const char* cls, int left, int top) {
  for (HWND c : d::FindAll(panel, cls)) {
    RECT r = d::RectInParent(c);
    if (r.left == left && r.top == top) return c;
  }
  return nullptr;
}

struct InstallingPage {
  HWND status, fileInfo, bar;
};

InstallingPage InstallingPageOf(Wizard& w) {
  HWND panel = w.Panel("Panel12");
  return {ControlAt(panel, "Static", 24, 70), ControlAt(panel, "Static", 32, 96),
          d::Find(panel, "msctls_progress32")};
}

// Welcome page, folder page (with folder typed when given), Next: the run.
void StartInstallation(Wizard& w, const char* folder = nullptr) {
  w.GoToFolderPage();
  if (folder) {
    HWND box = d::Find(w.window, "Edit");
    ASSERT_NE(box, nullptr);
    d::TypeInto(box, folder);
    if (!*folder) d::PressKey(VK_DELETE);
    ASSERT_EQ(d::TextOf(box), folder);
  }
  d::Click(w.BNext);
}

// A folder listing without the old files a run keeps beside the new ones
// until the finish button ("<name>.quvold").
std::string WithoutKept(const std::string& list) {
  std::string kept, name;
  for (std::size_t at = 0; at <= list.size(); ++at) {
    if (at < list.size() && list[at] != ' ') {
      name += list[at];
      continue;
    }
    if (!name.empty() && name.find(".quvold") == std::string::npos) kept += (kept.empty() ? "" : " ") + name;
    name.clear();
  }
  return kept;
}

void ReachFinishPage(Wizard& w) {
  ASSERT_TRUE(w.WaitForPage("Panel15")) << w.ShownPage();
  EXPECT_TRUE(d::WaitUntil([&] { return d::Focused(w.window) == w.BNext; }));
  EXPECT_BUTTON(w.BNext, kFinish, true, true);
  EXPECT_FALSE(d::Visible(w.BPre));
  EXPECT_FALSE(d::Visible(w.BCancel));
}

// The files and shortcuts of a finished run into folder (no trailing
// backslash), before the finish button.
void ExpectInstalled(const std::string& folder, bool held = false) {
  const std::string f = folder + "\\";
  for (const char* name : {"QuvSvr.exe", "UnInstall.exe"}) {
    SCOPED_TRACE(name);
    bool missing = true;
    const std::string bytes = ReadFileBytes(f + name, &missing);
    ASSERT_FALSE(missing);
    EXPECT_TRUE(bytes == ReadFileBytes(PayloadFile(name, held))) << "not the payload's program (" << bytes.size() << " bytes)";
    EXPECT_FALSE(Attributes(f + name) & FILE_ATTRIBUTE_READONLY);
  }
  EXPECT_FALSE(FileThere(f + "QuvSvr.zip")) << "the temporary archive is deleted";
  EXPECT_EQ(WithoutKept(ListFolder(folder)), "QuvSvr.exe UnInstall.exe install.dl");

  const std::string links = LinkFolder();
  const std::string expected = Cp936("File0=" + f + "QuvSvr.exeN\r\n" +     //
                                     "File1=" + f + "UnInstall.exeN\r\n" +  //
                                     "File2=" + f + "pelnu.dllN\r\n" +      //
                                     "File3=" + f + "install.inN\r\n" +     //
                                     "File4=" + f + "install.dlN\r\n" +     //
                                     "File5=" + links + kServiceLink + "N\r\n" +
                                     "File6=" + links + kUninstallLink + "N\r\n");
  EXPECT_EQ(ReadFileBytes(f + "install.dl"), expected);

  EXPECT_EQ(WithoutKept(ListFolder(links)), std::string(kServiceLink) + " " + kUninstallLink);
  const Shortcut service = ReadShortcut(links + kServiceLink);
  ASSERT_TRUE(service.loaded);
  EXPECT_EQ(Lower(service.target), Lower(f + "QuvSvr.exe"));
  EXPECT_EQ(service.workingDir, f);
  EXPECT_EQ(service.description, kLinkFolder);
  const Shortcut uninstall = ReadShortcut(links + kUninstallLink);
  ASSERT_TRUE(uninstall.loaded);
  EXPECT_EQ(uninstall.target, f + "UnInstall.exe");
  EXPECT_EQ(uninstall.workingDir, f);
  EXPECT_EQ(uninstall.description, "卸载Quv服务程序");
}

// The finish button on the NT family: the program ends, and the service runs
// from folder with its description.
void FinishAndExpectTheService(Wizard& w, const std::string& folder) {
  EXPECT_EQ(ServiceState(kServiceName), 0u) << "registered only by the finish button";
  d::Click(w.BNext);
  EXPECT_TRUE(w.program().WaitForExit(20000ms));
  EXPECT_TRUE(d::WaitUntil([] { return ServiceState(kServiceName) == SERVICE_RUNNING; }));
  EXPECT_EQ(ServiceDescription(kServiceName), kServiceDescription);
  EXPECT_EQ(Lower(ServiceProgram(kServiceName)), Lower("\"" + folder + "\\QuvSvr.exe\""));
  EXPECT_TRUE(d::WaitUntil([] { return ProcessCount("QuvSvr.exe") == 1; })) << "the service's process only";
  // Kept, the installation drops the old files.
  EXPECT_EQ(ListFolder(folder), "QuvSvr.exe UnInstall.exe install.dl");
  EXPECT_EQ(ListFolder(LinkFolder()), std::string(kServiceLink) + " " + kUninstallLink);
}

// The application's error box of a failed run: titled with the application
// title, an error icon, an OK button, modal to the window, its text holding
// each of pieces. Answers it and expects the wizard to say that the
// installation did not complete, with only its close button left.
void ExpectFailedRun(Wizard& w, const std::vector<std::string>& pieces) {
  HWND box = w.program().WaitForTopWindow("#32770", kTitle, 30000ms);
  ASSERT_NE(box, nullptr) << "no error box";
  std::string text;
  bool icon = false;
  for (HWND s : d::FindAll(box, "Static")) {
    icon = icon || (GetWindowLongA(s, GWL_STYLE) & SS_TYPEMASK) == SS_ICON;
    text += d::TextOf(s);
  }
  for (const std::string& piece : pieces) EXPECT_NE(text.find(piece), std::string::npos) << piece << " in " << text;
  EXPECT_EQ(text.find("成功"), std::string::npos) << text;
  EXPECT_TRUE(icon);
  EXPECT_FALSE(d::Enabled(w.window));
  HWND ok = GetDlgItem(box, IDOK);
  ASSERT_NE(ok, nullptr);
  d::Click(ok);
  ASSERT_TRUE(d::WaitUntil([&] { return !IsWindow(box); }));
  EXPECT_TRUE(d::WaitUntil([&] { return d::Enabled(w.window); }));
  EXPECT_TRUE(d::Visible(w.window));
  EXPECT_EQ(w.ShownPage(), "Panel12");
  EXPECT_NE(d::Find(w.Panel("Panel12"), "Static", "安装未完成"), nullptr);
  EXPECT_FALSE(d::Visible(w.BPre));
  EXPECT_FALSE(d::Visible(w.BNext));
  EXPECT_BUTTON(w.BCancel, "关闭(&C)", true, true);
  w.Screenshot("install-failed");
  d::Click(w.BCancel);
  EXPECT_TRUE(w.program().WaitForExit());
}

// Everything of an installation into folder a person could tell apart:
// files with their contents, install.dl, the shortcuts, the service's
// program, description and state.
std::string Account(const std::string& folder) {
  const std::string f = folder + "\\";
  std::string account = ListFolder(folder) + "\n";
  for (const char* name : {"QuvSvr.exe", "UnInstall.exe", "install.dl"})
    account += std::string(name) + " " + std::to_string(std::hash<std::string>{}(ReadFileBytes(f + name))) + "\n";
  const std::string links = LinkFolder();
  account += ListFolder(links) + "\n";
  for (const char* link : {kServiceLink, kUninstallLink}) account += ReadShortcut(links + link).target + "\n";
  account += ServiceProgram(kServiceName) + " " + ServiceDescription(kServiceName) + " " +
             std::to_string(ServiceState(kServiceName));
  return account;
}

TEST(Install, DefaultFolderThenAgainOverTheRunningServiceAndReadOnlyFiles) {
  ASSERT_FALSE(PayloadFile("QuvSvr.exe").empty()) << "QUV_PAYLOAD_DIR not set";
  const std::string folder = kDefaultFolder;
  const std::string f = folder + "\\";
  RemoveInstallation(folder);
  {
    SCOPED_TRACE("first installation, held after the first file");
    InstallGate gate;
    Wizard w(Env("QUV_WIZARD_HELD_EXE"));
    StartInstallation(w);
    ASSERT_TRUE(w.WaitForPage("Panel12")) << w.ShownPage();
    const InstallingPage page = InstallingPageOf(w);
    ASSERT_TRUE(page.status && page.fileInfo && page.bar);
    // The page names the file being written and shows how far the archive is.
    ASSERT_TRUE(d::WaitUntil([&] { return !d::TextOf(page.fileInfo).empty(); })) << "no file shown";
    EXPECT_EQ(d::TextOf(page.fileInfo), f + "QuvSvr.exe");
    EXPECT_EQ(d::TextOf(page.status), "创建文件夹") << "the folder was made";
    const double first = static_cast<double>(ReadFileBytes(PayloadFile("QuvSvr.exe", true)).size());
    const double second = static_cast<double>(ReadFileBytes(PayloadFile("UnInstall.exe", true)).size());
    EXPECT_NEAR(static_cast<double>(SendMessageA(page.bar, PBM_GETPOS, 0, 0)), 100 * first / (first + second), 1.0);
    const std::string during = ListFolder(folder);
    EXPECT_TRUE(during.find("Quv") != during.rfind("Quv") && during.find(".tmp") != std::string::npos)
        << "the archive is written out under a fresh name for the extraction: " << during;
    EXPECT_FALSE(d::Visible(w.BPre));
    EXPECT_FALSE(d::Visible(w.BNext));
    EXPECT_BUTTON(w.BCancel, kCancel, true, false);
    w.Screenshot("install-page2-installing");

    gate.Release();
    ReachFinishPage(w);
    EXPECT_EQ(SendMessageA(page.bar, PBM_GETPOS, 0, 0), 100);
    EXPECT_EQ(d::TextOf(page.fileInfo), f + "UnInstall.exe");
    w.Screenshot("install-page3-finish");
    ExpectInstalled(folder, true);
    FinishAndExpectTheService(w, folder);
  }
  {
    SCOPED_TRACE("again over the first installation");
    // The service from the first run runs, and so does a copy started by hand;
    // the programs are read-only and the uninstaller is damaged.
    std::string byHandLine = "\"";  // in steps: g++ 12 sees a false overlap in one expression
    byHandLine += d::Ansi(f) + "QuvSvr.exe\"";
    d::Program byHand(byHandLine);
    ASSERT_TRUE(d::WaitUntil([] { return ProcessCount("QuvSvr.exe") == 2; }));
    const std::wstring uninstaller = Wide(f + "UnInstall.exe");
    HANDLE h = CreateFileW(uninstaller.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(h, "damaged", 7, &written, nullptr);
    CloseHandle(h);
    for (const char* name : {"QuvSvr.exe", "UnInstall.exe"})
      ASSERT_TRUE(SetFileAttributesW(Wide(f + name).c_str(), FILE_ATTRIBUTE_READONLY)) << name;
    // Wine run by root writes read-only files all the same; the replacement
    // of read-only files is then only seen in its result.
    HANDLE probe = CreateFileW(uninstaller.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (probe != INVALID_HANDLE_VALUE) {
      CloseHandle(probe);
      std::cout << "note: read-only files are writable here (Wine run by root)\n";
    }

    Wizard w(Env("QUV_WIZARD_EXE"));
    StartInstallation(w);
    ReachFinishPage(w);
    EXPECT_EQ(d::TextOf(InstallingPageOf(w).status), "解压文件...") << "the folder was there";
    EXPECT_FALSE(byHand.Running());
    EXPECT_EQ(ProcessCount("QuvSvr.exe"), 0);
    EXPECT_TRUE(d::WaitUntil([] { return ServiceState(kServiceName) == 0; })) << "the older registration is removed";
    EXPECT_EQ(ListFolder(LinkFolder()), std::string(kServiceLink) + " " + kUninstallLink)
        << "the replaced shortcuts are kept out of the Start menu";
    ExpectInstalled(folder);
    FinishAndExpectTheService(w, folder);
  }
}

TEST(Install, CustomFolderWithBlanksAndChineseThenUninstall) {
  const std::string folder = kCustomFolder;
  const std::string f = folder + "\\";
  RemoveInstallation(kDefaultFolder);
  RemoveTree("C:\\Quv 安装");
  {
    Wizard w(Env("QUV_WIZARD_EXE"));
    StartInstallation(w, kCustomFolder);
    ReachFinishPage(w);
    EXPECT_EQ(d::TextOf(InstallingPageOf(w).status), "创建文件夹");
    ExpectInstalled(folder);
    FinishAndExpectTheService(w, folder);
  }
  // The uninstaller, as its shortcut starts it, without questions.
  EXPECT_EQ(RunAndWait("\"" + f + "UnInstall.exe\" /silent"), 0);
  EXPECT_EQ(ServiceState(kServiceName), 0u);
  EXPECT_EQ(ProcessCount("QuvSvr.exe"), 0);
  EXPECT_FALSE(FolderThere(LinkFolder())) << "shortcuts and their folder removed";
  // A running program cannot delete itself: its copy does once it has ended.
  EXPECT_TRUE(d::WaitUntil([&] { return !FolderThere(folder); })) << ListFolder(folder);
  RemoveTree("C:\\Quv 安装");
}

// Wine reports Windows 98 to programs named so under this key.
class OlderFamily {
 public:
  OlderFamily() {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) ==
        ERROR_SUCCESS) {
      RegSetValueExW(key, L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"win98"), 6 * sizeof(wchar_t));
      RegCloseKey(key);
    }
  }
  ~OlderFamily() { RegDeleteKeyW(HKEY_CURRENT_USER, kKey); }
  OlderFamily(const OlderFamily&) = delete;
  OlderFamily& operator=(const OlderFamily&) = delete;

 private:
  static constexpr const wchar_t* kKey = L"Software\\Wine\\AppDefaults\\QuvSetup.exe";
};

TEST(Install, OlderFamilyStartsTheServiceProgramAsAProgram) {
  RemoveInstallation(kDefaultFolder);
  OlderFamily win98;
  {
    Wizard w(Env("QUV_WIZARD_EXE"));
    StartInstallation(w);
    ReachFinishPage(w);
    ExpectInstalled(kDefaultFolder);
    d::Click(w.BNext);
    EXPECT_TRUE(w.program().WaitForExit(20000ms));
  }
  // Started without "-install": it registers nothing and keeps running.
  EXPECT_TRUE(d::WaitUntil([] { return ProcessCount("QuvSvr.exe") == 1; }));
  std::this_thread::sleep_for(500ms);
  EXPECT_EQ(ServiceState(kServiceName), 0u);
  EXPECT_EQ(ProcessCount("QuvSvr.exe"), 1);
  RemoveInstallation(kDefaultFolder);
}

TEST(Install, RelativeFoldersAreRefusedAndAFolderInTheWayFailsTheRun) {
  RemoveInstallation(kDefaultFolder);
  {
    SCOPED_TRACE("an empty or relative folder text");
    Wizard w(Env("QUV_WIZARD_EXE"));
    for (const char* folder : {"", "Quv\\服务"}) {
      if (*folder) {
        d::TypeInto(d::Find(w.window, "Edit"), folder);
      } else {
        StartInstallation(w, folder);
      }
      if (*folder) d::Click(w.BNext);
      HWND box = w.program().WaitForTopWindow("#32770", kTitle);
      ASSERT_NE(box, nullptr) << folder;
      EXPECT_NE(d::Find(box, "Static", "请输入完整的安装文件夹, 以盘符开头, 例如 C:\\Program Files\\服务程序."), nullptr);
      d::Click(GetDlgItem(box, IDOK));
      ASSERT_TRUE(d::WaitUntil([&] { return !IsWindow(box); }));
      EXPECT_EQ(w.ShownPage(), "Panel5") << "still on the folder page";
    }
    // The wizard runs in the driver's current folder, where the relative
    // folder would have landed.
    wchar_t current[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, current);
    EXPECT_FALSE(FolderThere(Utf8(current) + "\\Quv")) << "nothing made";
    d::Click(w.BCancel);
    EXPECT_TRUE(w.program().WaitForExit());
  }
  {
    SCOPED_TRACE("a program that cannot be written");
    // A folder where the uninstaller should go.
    const std::string folder = "C:\\Quv 失败";
    RemoveTree(folder);
    ASSERT_TRUE(CreateDirectoryW(Wide(folder).c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(Wide(folder + "\\UnInstall.exe").c_str(), nullptr));
    Wizard w(Env("QUV_WIZARD_EXE"));
    StartInstallation(w, folder.c_str());
    ExpectFailedRun(w, {"写入文件失败: " + folder + "\\UnInstall.exe", "电脑已恢复到安装前的状态"});
    EXPECT_EQ(ListFolder(folder), "UnInstall.exe") << "the program written before is removed";
    EXPECT_FALSE(FolderThere(LinkFolder())) << "no shortcuts for a failed run";
    EXPECT_EQ(ServiceState(kServiceName), 0u);
    RemoveTree(folder);
  }
}

// An installation before the run, whose programs differ from the payload's;
// each failure injected into a run over it leaves it as it was, its service
// running.
TEST(Install, EachFailureLeavesThePreviousInstallationWorking) {
  const std::string folder = kDefaultFolder;
  const std::string f = folder + "\\";
  RemoveInstallation(folder);
  {
    Wizard w(Env("QUV_WIZARD_EXE"));
    StartInstallation(w);
    ReachFinishPage(w);
    FinishAndExpectTheService(w, folder);
  }
  RemoveService(kServiceName);
  // Bytes after the image leave the programs working.
  for (const char* name : {"QuvSvr.exe", "UnInstall.exe"}) {
    const std::wstring path = Wide(f + name);
    HANDLE h = CreateFileW(path.c_str(), FILE_APPEND_DATA, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << name;
    DWORD written = 0;
    WriteFile(h, "previous", 8, &written, nullptr);
    CloseHandle(h);
  }
  ASSERT_EQ(RunAndWait("\"" + f + "QuvSvr.exe\" -install /silent"), 0);
  ASSERT_TRUE(StartServiceNamed(kServiceName));
  ASSERT_TRUE(d::WaitUntil([] { return ServiceState(kServiceName) == SERVICE_RUNNING; }));
  const std::string before = Account(folder);

  // A file of the installation held open by another program: it cannot be
  // moved aside, so the run stops there.
  for (const char* held : {"UnInstall.exe", "install.dl"}) {
    SCOPED_TRACE(held);
    HANDLE h = CreateFileW(Wide(f + held).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    {
      Wizard w(Env("QUV_WIZARD_EXE"));
      StartInstallation(w);
      ExpectFailedRun(w, {"替换文件失败: " + f + held, "电脑已恢复到安装前的状态"});
    }
    CloseHandle(h);
    EXPECT_TRUE(d::WaitUntil([&] { return Account(folder) == before; })) << Account(folder) << "\n---\n" << before;
  }
  // The service program refusing to register, or its service to start.
  for (const char* failure : {"register", "start"}) {
    SCOPED_TRACE(failure);
    SetEnvironmentVariableA("QUV_STANDIN_FAIL", failure);
    {
      Wizard w(Env("QUV_WIZARD_EXE"));
      StartInstallation(w);
      ReachFinishPage(w);
      d::Click(w.BNext);
      ExpectFailedRun(w, {std::string(*failure == 'r' ? "注册服务失败: " : "启动服务失败: ") + kServiceName,
                          "电脑已恢复到安装前的状态"});
    }
    SetEnvironmentVariableA("QUV_STANDIN_FAIL", nullptr);
    EXPECT_TRUE(d::WaitUntil([&] { return Account(folder) == before; })) << Account(folder) << "\n---\n" << before;
  }
  {
    SCOPED_TRACE("closed during the run: asked first, No goes on, Yes rolls back");
    InstallGate gate;
    Wizard w(Env("QUV_WIZARD_HELD_EXE"));
    StartInstallation(w);
    ASSERT_TRUE(w.WaitForPage("Panel12")) << w.ShownPage();
    ASSERT_TRUE(d::WaitUntil([&] { return !d::TextOf(InstallingPageOf(w).fileInfo).empty(); }));
    for (int answer : {IDNO, IDYES}) {
      d::ClickTitleBarClose(w.window);
      HWND box = w.program().WaitForTopWindow("#32770", kTitle);
      ASSERT_NE(box, nullptr) << "no question";
      d::Click(GetDlgItem(box, answer));
      ASSERT_TRUE(d::WaitUntil([&] { return !IsWindow(box); }));
      if (answer == IDNO) {
        EXPECT_TRUE(w.program().Running());
        EXPECT_EQ(w.ShownPage(), "Panel12");
      }
    }
    // Yes stops the run where it waits (the gate is not opened) and ends it.
    EXPECT_TRUE(w.program().WaitForExit(30000ms));
    EXPECT_TRUE(d::WaitUntil([&] { return Account(folder) == before; })) << Account(folder) << "\n---\n" << before;
  }
  {
    SCOPED_TRACE("the session ends during the run: refused, then rolled back");
    InstallGate gate;
    Wizard w(Env("QUV_WIZARD_HELD_EXE"));
    StartInstallation(w);
    ASSERT_TRUE(w.WaitForPage("Panel12")) << w.ShownPage();
    ASSERT_TRUE(d::WaitUntil([&] { return !d::TextOf(InstallingPageOf(w).fileInfo).empty(); }));
    DWORD_PTR answer = 1;
    ASSERT_TRUE(SendMessageTimeoutA(w.window, WM_QUERYENDSESSION, 0, 0, SMTO_ABORTIFHUNG, 10000, &answer));
    EXPECT_EQ(answer, 0u) << "the logoff is refused while the run works";
    SendMessageTimeoutA(w.window, WM_ENDSESSION, TRUE, 0, SMTO_ABORTIFHUNG, 30000, &answer);
    EXPECT_TRUE(w.program().WaitForExit(30000ms));
    EXPECT_TRUE(d::WaitUntil([&] { return Account(folder) == before; })) << Account(folder) << "\n---\n" << before;
  }
  RemoveInstallation(folder);
}

// ---- runs from the command line -----------------------------------------------

struct SetupRun {
  long exitCode = -1;
  bool windowSeen = false;  // a visible top-level window of the program
};

// This process's token with the Administrators group for deny only: what a
// limited user (or an administrator not elevated) runs with. Null on failure.
HANDLE LimitedToken() {
  HANDLE own = nullptr, limited = nullptr;
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  PSID admins = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, &own)) return nullptr;
  if (AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                               &admins)) {
    SID_AND_ATTRIBUTES disabled{admins, 0};
    if (!CreateRestrictedToken(own, 0, 1, &disabled, 0, nullptr, 0, nullptr, &limited)) limited = nullptr;
    FreeSid(admins);
  }
  CloseHandle(own);
  return limited;
}

// Whether a process showed a window (EnumWindows wants a stdcall function,
// which a lambda is not on i686).
struct WindowSeen {
  DWORD id;
  bool seen;
};

BOOL CALLBACK NoteVisibleWindow(HWND window, LPARAM param) {
  auto* s = reinterpret_cast<WindowSeen*>(param);
  DWORD id = 0;
  GetWindowThreadProcessId(window, &id);
  if (id == s->id && IsWindowVisible(window)) s->seen = true;
  return TRUE;
}

// Runs the wizard with arguments (UTF-8, passed in code page 936 as a
// command line typed on a Chinese Windows) to its end; with a token, as its user.
SetupRun RunSetup(const std::string& arguments, HANDLE token = nullptr) {
  SetupRun run;
  std::string line = "\"";  // in steps: g++ 12 sees a false overlap in one expression
  line += Env("QUV_WIZARD_EXE") + "\" " + arguments;
  line = Cp936(line);
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION info{};
  const bool started =
      token ? CreateProcessAsUserA(token, nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &info)
            : CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &info);
  if (!started) return run;
  WindowSeen seen{info.dwProcessId, false};
  for (int waited = 0; waited < 60000 && WaitForSingleObject(info.hProcess, 20) == WAIT_TIMEOUT; waited += 20) {
    EnumWindows(NoteVisibleWindow, reinterpret_cast<LPARAM>(&seen));
  }
  DWORD code = static_cast<DWORD>(-1);
  if (WaitForSingleObject(info.hProcess, 0) == WAIT_OBJECT_0) GetExitCodeProcess(info.hProcess, &code);
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  run.exitCode = static_cast<long>(code);
  run.windowSeen = seen.seen;
  return run;
}

// A log's lines (UTF-8 after its byte-order mark), each expected to start
// with its time "yyyy-mm-dd hh:mm:ss.mmm  ", returned without it.
std::vector<std::string> LogLines(const std::string& path) {
  const std::string bytes = ReadFileBytes(path);
  EXPECT_EQ(bytes.substr(0, 3), "\xEF\xBB\xBF") << path;
  std::vector<std::string> lines;
  for (std::size_t at = 3; at < bytes.size();) {
    std::size_t end = bytes.find("\r\n", at);
    if (end == std::string::npos) end = bytes.size();
    const std::string line = bytes.substr(at, end - at);
    at = end + 2;
    const bool stamped = line.size() > 25 && line[4] == '-' && line[10] == ' ' && line[13] == ':' &&
                         line[19] == '.' && line.compare(23, 2, "  ") == 0;
    EXPECT_TRUE(stamped) << line;
    if (stamped) lines.push_back(line.substr(25));
  }
  return lines;
}

// Whether each of wanted is a line of the log, in this order.
void ExpectInOrder(const std::vector<std::string>& lines, const std::vector<std::string>& wanted) {
  auto at = lines.begin();
  for (const std::string& w : wanted) {
    at = std::find(at, lines.end(), w);
    ASSERT_NE(at, lines.end()) << "missing or out of order: " << w;
  }
}

TEST(Install, VerySilentIntoAFolderWithBlanksAndChineseThenQuietUninstall) {
  const std::string folder = kCustomFolder;  // ends in a character whose trail byte is a backslash
  const std::string f = folder + "\\";
  const std::string log = "C:\\Quv 记录.log";
  RemoveInstallation(kDefaultFolder);
  RemoveTree("C:\\Quv 安装");
  RemoveTree(log);
  const SetupRun run = RunSetup("/VERYSILENT /Dir=\"" + folder + "\" /LOG=\"" + log + "\" /NoRestart");
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_FALSE(run.windowSeen) << "no window at all";
  ExpectInstalled(folder);
  EXPECT_EQ(ServiceState(kServiceName), static_cast<DWORD>(SERVICE_RUNNING));
  EXPECT_EQ(Lower(ServiceProgram(kServiceName)), Lower("\"" + f + "QuvSvr.exe\""));

  std::map<std::string, std::string> entry = UninstallEntry();
  const std::string uninstaller = "\"" + f + "UnInstall.exe\"";
  const std::size_t bytes = ReadFileBytes(f + "QuvSvr.exe").size() + ReadFileBytes(f + "UnInstall.exe").size() +
                            ReadFileBytes(f + "install.dl").size();
  EXPECT_EQ(entry["DisplayName"], "Quv服务程序");
  EXPECT_EQ(entry["DisplayVersion"].find_first_not_of("0123456789."), std::string::npos) << entry["DisplayVersion"];
  EXPECT_EQ(entry["Publisher"], "Quv");
  EXPECT_EQ(entry["InstallLocation"], f);
  EXPECT_EQ(entry["DisplayIcon"], f + "QuvSvr.exe,0");
  EXPECT_EQ(entry["EstimatedSize"], std::to_string((bytes + 1023) / 1024));
  EXPECT_EQ(entry["UninstallString"], uninstaller);
  EXPECT_EQ(entry["QuietUninstallString"], uninstaller + " /SILENT");
  EXPECT_EQ(entry["NoModify"], "1");
  EXPECT_EQ(entry["NoRepair"], "1");

  const std::vector<std::string> lines = LogLines(log);
  ASSERT_FALSE(lines.empty());
  EXPECT_NE(lines.front().find("/VERYSILENT"), std::string::npos) << lines.front();
  ExpectInOrder(lines, {"安装文件夹: " + folder, "创建文件夹: " + folder + ": 完成",
                        "写入文件: " + f + "QuvSvr.exe: 完成", "写入文件: " + f + "UnInstall.exe: 完成",
                        "创建快捷方式: Quv服务程序: 完成", "创建快捷方式: 卸载Quv服务程序: 完成",
                        "保存安装列表: " + f + "install.dl: 完成", "注册服务: ZRQuvSvr: 完成",
                        "写入服务说明: ZRQuvSvr: 完成", "启动服务: ZRQuvSvr: 完成",
                        "写入卸载信息: Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ZRQuvSvr: 完成",
                        "安装完成", "退出码: 0"});

  {
    SCOPED_TRACE("again without /DIR: into the installed folder");
    EXPECT_EQ(RunSetup("/VERYSILENT").exitCode, 0);
    EXPECT_EQ(Lower(ServiceProgram(kServiceName)), Lower("\"" + f + "QuvSvr.exe\""));
    EXPECT_FALSE(FolderThere(kDefaultFolder)) << "the installation is not orphaned by a second one";
  }
  // The entry's quiet command, as Programs and Features or a script runs it.
  EXPECT_EQ(RunAndWait(entry["QuietUninstallString"]), 0);
  EXPECT_EQ(ServiceState(kServiceName), 0u);
  EXPECT_TRUE(UninstallEntry().empty()) << "the entry is removed";
  EXPECT_FALSE(FolderThere(LinkFolder())) << "shortcuts and their folder removed";
  // The uninstaller's own file and the folder go once it has ended.
  EXPECT_TRUE(d::WaitUntil([&] { return !FolderThere(folder); })) << ListFolder(folder);
  EXPECT_EQ(ProcessCount("QuvSvr.exe"), 0);
  RemoveTree("C:\\Quv 安装");
  RemoveTree(log);
}

TEST(Install, SilentOverARunningInstallationAndExitCodesOfFailures) {
  const std::string folder = kDefaultFolder;
  RemoveInstallation(folder);
  {
    SCOPED_TRACE("silent: the installing page only, the log in the temporary folder");
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::string before = ListFolder(Utf8(temp));
    const SetupRun run = RunSetup("/silent");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(run.windowSeen);
    std::string logName;
    for (std::size_t at = 0; (at = ListFolder(Utf8(temp)).find("QuvSetup-", at)) != std::string::npos; ++at) {
      const std::string list = ListFolder(Utf8(temp));
      const std::string name = list.substr(at, list.find(' ', at) - at);
      if (before.find(name) == std::string::npos) logName = name;
    }
    ASSERT_FALSE(logName.empty()) << ListFolder(Utf8(temp));
    const std::vector<std::string> lines = LogLines(Utf8(temp) + logName);
    ExpectInOrder(lines, {"安装文件夹: " + folder, "安装完成", "退出码: 0"});
    RemoveTree(Utf8(temp) + logName);
    EXPECT_EQ(ServiceState(kServiceName), static_cast<DWORD>(SERVICE_RUNNING));
  }
  const std::map<std::string, std::string> installed = UninstallEntry();
  {
    SCOPED_TRACE("very silent again over the running service: the entry updated");
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstallEntryKey, 0, KEY_SET_VALUE, &key), ERROR_SUCCESS);
    RegSetValueExW(key, L"DisplayVersion", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"0.9"), 4 * sizeof(wchar_t));
    RegSetValueExW(key, L"Stale", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"x"), 2 * sizeof(wchar_t));
    RegCloseKey(key);
    EXPECT_EQ(RunSetup("/VERYSILENT").exitCode, 0);
    EXPECT_EQ(UninstallEntry(), installed);
    EXPECT_EQ(ServiceState(kServiceName), static_cast<DWORD>(SERVICE_RUNNING));
  }
  {
    SCOPED_TRACE("a newer version installed: refused unless asked for");
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstallEntryKey, 0, KEY_SET_VALUE, &key), ERROR_SUCCESS);
    RegSetValueExW(key, L"DisplayVersion", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"9.0"), 4 * sizeof(wchar_t));
    RegCloseKey(key);
    EXPECT_EQ(RunSetup("/VERYSILENT").exitCode, 14);
    EXPECT_EQ(UninstallEntry()["DisplayVersion"], "9.0") << "nothing changed";
    EXPECT_EQ(RunSetup("/VERYSILENT /ALLOWDOWNGRADE /SUPPRESSMSGBOXES /NOCANCEL /SP- /LOG").exitCode, 0);
    EXPECT_EQ(UninstallEntry(), installed);
  }
  const std::string before = Account(folder);
  {
    SCOPED_TRACE("the service failing to start: rolled back, its own exit code, the system's text logged");
    const std::string log = "C:\\quv-failed.log";
    SetEnvironmentVariableA("QUV_STANDIN_FAIL", "start");
    EXPECT_EQ(RunSetup("/VERYSILENT /LOG=" + log).exitCode, 7);
    SetEnvironmentVariableA("QUV_STANDIN_FAIL", nullptr);
    const std::vector<std::string> lines = LogLines(log);
    const auto failed = std::find(lines.begin(), lines.end(), "启动服务失败: ZRQuvSvr");
    ASSERT_NE(failed, lines.end());
    ASSERT_NE(failed + 1, lines.end());
    EXPECT_NE(failed[1].find("(错误 "), std::string::npos) << failed[1];
    ExpectInOrder(lines, {"电脑已恢复到安装前的状态.", "退出码: 7"});
    EXPECT_TRUE(d::WaitUntil([&] { return Account(folder) == before; })) << Account(folder) << "\n---\n" << before;
    EXPECT_EQ(UninstallEntry(), installed) << "the entry as it was";
    RemoveTree(log);
  }
  {
    SCOPED_TRACE("command lines refused before anything is done");
    EXPECT_EQ(RunSetup("/VERYSILENT /BOGUS").exitCode, 1);
    EXPECT_EQ(RunSetup("/VERYSILENT /DIR=").exitCode, 1);
    EXPECT_EQ(RunSetup("/VERYSILENT \"/LOG=C:\\no such folder\\q.log\"").exitCode, 2);
    EXPECT_EQ(RunSetup("/VERYSILENT /DIR=Quv\\相对").exitCode, 3);
    // Not elevated, or while another run is under way: refused with an exit
    // code of its own, nothing changed (checked below).
    HANDLE limited = LimitedToken();
    ASSERT_NE(limited, nullptr);
    EXPECT_EQ(RunSetup("/VERYSILENT", limited).exitCode, 12);
    CloseHandle(limited);
    HANDLE otherRun = CreateMutexA(nullptr, FALSE, "Global\\QuvSetup.ZRQuvSvr");
    EXPECT_EQ(RunSetup("/VERYSILENT").exitCode, 13);
    CloseHandle(otherRun);
    wchar_t current[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, current);
    EXPECT_FALSE(FolderThere(Utf8(current) + "\\Quv")) << "the relative folder made nowhere";
    std::string line = "\"";
    line += Env("QUV_WIZARD_EXE") + "\" /bogus";
    d::Program wizard(line);
    HWND box = wizard.WaitForTopWindow("#32770", kTitle);
    ASSERT_NE(box, nullptr) << "the usage is shown";
    std::string text;
    for (HWND label : d::FindAll(box, "Static")) text += d::TextOf(label);
    EXPECT_NE(text.find("未知参数: /bogus"), std::string::npos) << text;
    EXPECT_NE(text.find("/VERYSILENT"), std::string::npos) << text;
    d::Click(GetDlgItem(box, IDOK));
    EXPECT_TRUE(wizard.WaitForExit());
    EXPECT_TRUE(d::WaitUntil([&] { return Account(folder) == before; })) << Account(folder);
  }
  RemoveInstallation(folder);
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  const std::string list = ListFolder(Utf8(temp));
  for (std::size_t at = 0; (at = list.find("QuvSetup-", at)) != std::string::npos; ++at)
    RemoveTree(Utf8(temp) + list.substr(at, list.find(' ', at) - at));
}

// The journal of an interrupted run, where the installer keeps it.
std::string JournalPath() {
  wchar_t data[MAX_PATH] = {};
  SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, data);
  return Utf8(data) + "\\QuvSetup\\install.journal";
}

// A value the old service's program keeps below the service's key.
std::string ServiceParameter() {
  wchar_t value[64] = {};
  DWORD size = sizeof value;
  const std::wstring key = L"SYSTEM\\CurrentControlSet\\Services\\ZRQuvSvr\\Parameters";
  if (RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), L"Store", RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS)
    return "";
  return Utf8(value);
}

// Temporary and kept files a run leaves only when it is cut short.
std::string StrayFiles(const std::string& list) {
  std::string stray, name;
  for (std::size_t at = 0; at <= list.size(); ++at) {
    if (at < list.size() && list[at] != ' ') {
      name += list[at];
      continue;
    }
    const bool isStray = name.find(".quvold") != std::string::npos || name.rfind(".quv", 0) == 0 ||
                         (name.rfind("Quv", 0) == 0 && name.size() > 4 && name.substr(name.size() - 4) == ".tmp");
    if (isStray) stray += name + " ";
    name.clear();
  }
  return stray;
}

TEST(Install, ARunKilledAtEachStepIsUndoneByTheNextOne) {
  const std::string folder = kDefaultFolder;
  const std::string f = folder + "\\";
  RemoveInstallation(folder);
  ASSERT_EQ(RunSetup("/VERYSILENT").exitCode, 0);
  // The previous installation differs from the payload (bytes after the
  // image leave the programs working) and its service keeps a parameter.
  RemoveService(kServiceName);
  for (const char* name : {"QuvSvr.exe", "UnInstall.exe"}) {
    HANDLE h = CreateFileW(Wide(f + name).c_str(), FILE_APPEND_DATA, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << name;
    DWORD written = 0;
    WriteFile(h, "previous", 8, &written, nullptr);
    CloseHandle(h);
  }
  ASSERT_EQ(RunAndWait("\"" + f + "QuvSvr.exe\" -install /silent"), 0);
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Services\\ZRQuvSvr\\Parameters", 0,
                            nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  RegSetValueExW(key, L"Store", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"kept"), 5 * sizeof(wchar_t));
  RegCloseKey(key);
  ASSERT_TRUE(StartServiceNamed(kServiceName));
  ASSERT_TRUE(d::WaitUntil([] { return ServiceState(kServiceName) == SERVICE_RUNNING; }));
  const std::string before = Account(folder);
  const std::map<std::string, std::string> entry = UninstallEntry();

  for (const char* step : {"service-removed", "files-replaced", "registration"}) {
    SCOPED_TRACE(step);
    SetEnvironmentVariableA("QUV_TEST_KILL_AT", step);
    EXPECT_EQ(RunSetup("/VERYSILENT").exitCode, 99) << "the installer ends there as in a crash";
    EXPECT_TRUE(FileThere(JournalPath()));
    // The next run undoes it first; it is ended right after, so that what
    // the undoing left can be looked at.
    const std::string log = "C:\\quv-recovered.log";
    SetEnvironmentVariableA("QUV_TEST_KILL_AT", "recovered");
    EXPECT_EQ(RunSetup("/VERYSILENT /LOG=" + log).exitCode, 99);
    SetEnvironmentVariableA("QUV_TEST_KILL_AT", nullptr);
    const std::vector<std::string> lines = LogLines(log);
    EXPECT_NE(std::find(lines.begin(), lines.end(), "已撤销上次中断的安装所做的更改"), lines.end());
    RemoveTree(log);
    EXPECT_TRUE(d::WaitUntil([&] { return Account(folder) == before; })) << Account(folder) << "\n---\n" << before;
    EXPECT_EQ(ServiceParameter(), "kept") << "the service's own key tree is back";
    EXPECT_EQ(UninstallEntry(), entry);
    EXPECT_EQ(StrayFiles(ListFolder(folder)) + StrayFiles(ListFolder(LinkFolder())), "");
    EXPECT_FALSE(FileThere(JournalPath()));
  }
  EXPECT_EQ(RunSetup("/VERYSILENT").exitCode, 0) << "and the machine takes the next installation";
  ExpectInstalled(folder);
  RemoveInstallation(folder);
}

// An installation over the previous one, ended as in a crash once its files
// are replaced. Blocked, the next undoing cannot finish: a folder stands
// where the old service program goes back.
void KillAfterFilesReplaced(const std::string& folder, bool blocked) {
  SetEnvironmentVariableA("QUV_TEST_KILL_AT", "files-replaced");
  EXPECT_EQ(RunSetup("/VERYSILENT").exitCode, 99);
  SetEnvironmentVariableA("QUV_TEST_KILL_AT", nullptr);
  ASSERT_TRUE(FileThere(JournalPath()));
  if (!blocked) return;
  const std::wstring program = Wide(folder + "\\QuvSvr.exe");
  ASSERT_TRUE(DeleteFileW(program.c_str()));
  ASSERT_TRUE(CreateDirectoryW(program.c_str(), nullptr));
}

std::string BoxText(HWND box) {
  std::string text;
  for (HWND label : d::FindAll(box, "Static")) text += d::TextOf(label);
  return text;
}

bool HasLineWith(const std::vector<std::string>& lines, const std::string& part) {
  return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.find(part) != l.npos; });
}

// Uninstalled without the rollback first, the next installation's recovery
// would put back the service (whose program went with the uninstall).
TEST(Install, AnUninstallAfterAKilledRunFinishesItsRollbackFirst) {
  const std::string folder = kDefaultFolder;
  RemoveInstallation(folder);
  ASSERT_EQ(RunSetup("/VERYSILENT").exitCode, 0);
  const std::string log = "C:\\quv-uninstall.log";
  const std::string uninstall = "\"" + folder + "\\UnInstall.exe\" /silent /LOG=" + log;
  {
    SCOPED_TRACE("a rollback that cannot finish: nothing uninstalled");
    KillAfterFilesReplaced(folder, true);
    EXPECT_EQ(RunAndWait(uninstall), 6);
    EXPECT_TRUE(HasLineWith(LogLines(log), "未能恢复文件 " + folder + "\\QuvSvr.exe"));
    EXPECT_TRUE(FileThere(JournalPath()));
    EXPECT_FALSE(UninstallEntry().empty());
    EXPECT_TRUE(FileThere(LinkFolder() + kUninstallLink));
    RemoveTree(folder + "\\QuvSvr.exe");
  }
  EXPECT_EQ(RunAndWait(uninstall), 0);
  EXPECT_TRUE(HasLineWith(LogLines(log), "已撤销上次中断的安装所做的更改"));
  RemoveTree(log);
  EXPECT_FALSE(FileThere(JournalPath()));
  EXPECT_EQ(ServiceState(kServiceName), 0u);
  EXPECT_TRUE(UninstallEntry().empty());
  EXPECT_FALSE(FolderThere(LinkFolder()));
  EXPECT_TRUE(d::WaitUntil([&] { return !FolderThere(folder); })) << ListFolder(folder);
  EXPECT_EQ(RunSetup("/VERYSILENT").exitCode, 0) << "and a fresh installation follows";
  ExpectInstalled(folder);
  RemoveInstallation(folder);
}

TEST(Install, TheWizardUndoesAKilledRunBeforeItsFirstPage) {
  const std::string folder = kDefaultFolder;
  RemoveInstallation(folder);
  ASSERT_EQ(RunSetup("/VERYSILENT").exitCode, 0);
  const std::string before = Account(folder);
  std::string exe = "\"";  // in steps, as in RunSetup
  exe += Env("QUV_WIZARD_EXE") + "\"";
  KillAfterFilesReplaced(folder, false);
  {
    d::Program wizard(exe);
    HWND box = wizard.WaitForTopWindow("#32770", kTitle);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(wizard.TopWindow("TfStep", kTitle), nullptr) << "undone before the first page shows";
    EXPECT_EQ(BoxText(box), "已撤销上次中断的安装所做的更改");
    EXPECT_TRUE(d::WaitUntil([&] { return Account(folder) == before; })) << Account(folder) << "\n---\n" << before;
    EXPECT_FALSE(FileThere(JournalPath()));
    d::Click(GetDlgItem(box, IDOK));
    EXPECT_NE(wizard.WaitForTopWindow("TfStep", kTitle), nullptr);
    wizard.Kill();
  }
  SCOPED_TRACE("cannot be undone: said, and the code a silent run ends with");
  KillAfterFilesReplaced(folder, true);
  EXPECT_EQ(RunSetup("/VERYSILENT").exitCode, 9);
  d::Program wizard(exe);
  HWND box = wizard.WaitForTopWindow("#32770", kTitle);
  ASSERT_NE(box, nullptr);
  EXPECT_NE(BoxText(box).find("未能恢复文件 " + folder + "\\QuvSvr.exe"), std::string::npos) << BoxText(box);
  d::Click(GetDlgItem(box, IDOK));
  EXPECT_TRUE(wizard.WaitForExit());
  EXPECT_EQ(wizard.ExitCode(), 9u);
  RemoveTree(folder + "\\QuvSvr.exe");
  EXPECT_EQ(RunSetup("/VERYSILENT").exitCode, 0) << "the journal is undone by the next run";
  EXPECT_FALSE(FileThere(JournalPath()));
  RemoveInstallation(folder);
}

}  // namespace
