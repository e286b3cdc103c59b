// Start-up: COM for this (the GUI) thread, the common controls, the one
// window, and the message loop until the window closes.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include <exception>
#include <memory>
#include <string>

#include "app/WizardWindow.h"
#include "install/DllSearch.h"
#include "install/FolderSecurity.h"
#include "install/Log.h"
#include "install/RunGuard.h"
#include "install/SetupOptions.h"
#include "install/Transaction.h"
#include "install/UninstallEntry.h"

namespace {

// COM in a single-threaded apartment for the GUI thread, for the shell
// objects made on it; released when the program ends.
class ComApartment {
 public:
  ComApartment() : ok_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
  ~ComApartment() {
    if (ok_) CoUninitialize();
  }
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;

 private:
  bool ok_;
};

// The common controls are no known DLL: loaded once the search is
// restricted (the manifest's activation context still picks version 6).
void LoadCommonControls() {
  HMODULE controls = LoadLibraryA("comctl32.dll");
  if (!controls) return;
  using InitFn = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
  const auto init =
      reinterpret_cast<InitFn>(reinterpret_cast<void (*)()>(GetProcAddress(controls, "InitCommonControlsEx")));
  INITCOMMONCONTROLSEX icc{sizeof icc, ICC_STANDARD_CLASSES | ICC_TAB_CLASSES | ICC_PROGRESS_CLASS};
  if (init) init(&icc);
}

// The loop takes the messages in their Unicode form: typed characters then
// reach the (Unicode) system controls as typed, whatever the input language's
// code page; the wizard's own windows still get ANSI messages.
int RunMessageLoop(HWND window) {
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    // Tab, arrow and mnemonic keys move between the controls as in a dialog.
    if (!IsDialogMessageW(window, &msg)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  return static_cast<int>(msg.wParam);
}

constexpr char kNoRightsText[] = "安装Quv服务程序需要管理员权限. 请以管理员身份运行安装程序.";
constexpr char kAlreadyRunningText[] = "另一个安装或卸载Quv服务程序的程序正在运行. 请等它结束后再试.";

void ShowUsage(const std::string& problem) {
  const std::string text = problem.empty() ? quv::kSetupUsage : problem + "\r\n\r\n" + quv::kSetupUsage;
  MessageBoxA(nullptr, text.c_str(), quv::kApplicationTitle,
              MB_OK | (problem.empty() ? MB_ICONINFORMATION : MB_ICONERROR));
}

// A run refused before its first step: said in the log (and in a box unless
// silent); answers the exit code.
int Refuse(quv::InstallLog& log, bool silent, const std::string& text, int code) {
  log.Write(text);
  if (!silent) quv::ShowErrorBox(nullptr, text);
  log.Write("退出码: " + std::to_string(code));
  return code;
}

// The window, shown for the user or running the installation unattended;
// answers the exit code.
int RunWindow(HINSTANCE instance, const quv::SetupOptions& options, const std::string& installedFolder,
              quv::InstallLog& log) {
  using Mode = quv::SetupOptions::Mode;
  auto window = std::make_unique<quv::TfStep>(instance);
  window->SetLog(&log);
  window->SetNoCancel(options.noCancel);
  if (!options.folder.empty()) {
    window->SetInstallFolder(options.folder);
  } else if (!installedFolder.empty()) {
    log.Write("已安装的文件夹: " + installedFolder);
    window->SetInstallFolder(installedFolder);
  }
  if (options.mode != Mode::Wizard) return window->RunUnattended(options.mode == Mode::Silent);
  window->Show();
  RunMessageLoop(window->Handle());
  return window->ExitCode();
}

// The wizard, or with /SILENT or /VERYSILENT the run alone; answers the exit
// code. A silent run shows no message box: what goes wrong is in its log.
int Run(HINSTANCE instance, const quv::SetupOptions& options) {
  const bool silent = options.mode != quv::SetupOptions::Mode::Wizard;
  // Asked for the usage, the program installs nothing.
  if (options.usage && options.error.empty()) {
    if (!silent) ShowUsage("");
    return quv::kExitInstalled;
  }
  quv::InstallLog log;
  const std::string logPath = options.log.empty() ? quv::DefaultLogPath() : options.log;
  if (!logPath.empty() && !log.Open(logPath)) {
    if (!silent) quv::ShowErrorBox(nullptr, "无法写入安装记录: " + logPath);
    return quv::kExitLogFailed;
  }
  log.Write(std::string("QuvSetup ") + quv::kSetupVersion + ": " + GetCommandLineA());
  if (!options.error.empty()) {
    log.Write("命令行错误: " + options.error);
    if (!silent) ShowUsage(options.error);
    return quv::kExitUsage;
  }
  // Before the first step: a run that cannot finish changes nothing.
  if (!quv::HoldsAdministratorRights()) return Refuse(log, silent, kNoRightsText, quv::kExitNoRights);
  const quv::MachineWideRun onlyRun;
  if (!onlyRun.Acquired()) return Refuse(log, silent, kAlreadyRunningText, quv::kExitAlreadyRunning);
  // A run cut short is undone before the first page shows and before the
  // machine is read (the installed version among it); one that cannot be
  // undone ends this run as it would end a silent one.
  try {
    quv::InstallTransaction transaction(nullptr);
    if (quv::RecoverInterruptedInstallation(transaction, [&](const std::string& line) { log.Write(line); }) &&
        !silent)
      MessageBoxA(nullptr, quv::kRecoveredStatus, quv::kApplicationTitle, MB_OK | MB_ICONINFORMATION);
  } catch (const quv::InstallFailure& e) {
    return Refuse(log, silent, quv::FailureText(e.Failure()), quv::ExitCodeOf(e.Failure()));
  }
  // An installation elsewhere stays the one installation: its folder is the
  // default; an older version never replaces a newer one unasked.
  const quv::InstalledVersion installed = quv::ReadInstalledVersion();
  if (!installed.version.empty() && quv::IsOlderVersion(quv::kSetupVersion, installed.version) &&
      !options.allowDowngrade) {
    return Refuse(log, silent,
                  std::string("已安装更新的版本 ") + installed.version + ", 本安装程序的版本是 " +
                      quv::kSetupVersion + ".\r\n如确需安装旧版本, 请使用 /ALLOWDOWNGRADE.",
                  quv::kExitDowngrade);
  }
  int code = quv::kExitOther;
  try {
    code = RunWindow(instance, options, installed.folder, log);
  } catch (const std::exception& e) {
    log.Write(e.what());
    if (!silent) quv::ShowErrorBox(nullptr, e.what());
  }
  log.Write("退出码: " + std::to_string(code));
  return code;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  quv::RestrictDllSearch();
  ComApartment com;
  LoadCommonControls();
  return Run(instance, quv::ParseSetupCommandLine(GetCommandLineA()));
}
