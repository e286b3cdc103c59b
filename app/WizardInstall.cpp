// The wizard's installation run, the saving of the installed-file list and
// the finish action: the window's side of install/ (which does the work) and
// its unzip component UnZipIt.
#include "app/WizardWindow.h"

#include <commctrl.h>

#include <exception>

#include "install/Installation.h"
#include "install/FolderSecurity.h"
#include "install/InstalledFiles.h"
#include "install/Paths.h"
#include "install/SetupOptions.h"
#include "platform/Ui.h"
#include "zip/Exception.h"
#include "zip/Text.h"

namespace quv {

namespace {
constexpr const char* kRelativeFolderText =
    "请输入完整的安装文件夹, 以盘符开头, 例如 C:\\Program Files\\服务程序";
constexpr const char* kFailedTitle = "安装未完成";
constexpr const char* kFailedSubtitle = "安装程序未能将 服务程序 安装到您的电脑中.";
constexpr const char* kRestoredStatus = "已撤销安装所做的更改, 电脑已恢复到安装前的状态.";
constexpr const char* kNotRestoredStatus = "部分更改未能撤销, 详见错误信息.";
}  // namespace

void TfStep::CreateUnZipIt() {
  UnZipIt.SetUserInterface(platform::Ui());
  UnZipIt.SetOverwriteMode(Always);
  UnZipIt.SetKeepZipOpen(true);
  UnZipIt.Loaded();

  // The installing page follows the extraction: the file being written and
  // how much of the whole archive is done.
  // The run stops here, before the next file, once a close was confirmed;
  // a file that is there already is kept aside for the rollback.
  UnZipIt.OnStartUnZip = [this](TObject*, std::int32_t, std::string& FName, bool&) {
    ThrowIfCancelled();
    transaction_->PrepareFile(FName);
    Note("写入文件: " + FName);
    ShowExtractedFile(FName);
  };
  UnZipIt.OnTotalPercentDone = [this](TObject*, std::int32_t Percent) {
    SendMessageA(c.ProgressBar1, PBM_SETPOS, static_cast<WPARAM>(Percent), 0);
    UpdateWindow(c.ProgressBar1);
  };
  UnZipIt.OnEndUnZip = [this](TObject*, std::int32_t, const std::string& FName) {
    Note("写入文件: " + FName + ": 完成");
    HoldInstallation(++filesDone_);
  };
  // A program that was not written, or written wrong, is no installation:
  // the run must not go on to say it succeeded.
  UnZipIt.OnSkippingFile = [this](TObject*, TSkipReason Reason, const std::string& FName, std::int32_t, bool&) {
    const DWORD code = GetLastError();
    unzipFailures_.push_back(CodeFailure(Reason == skCannotCreate ? "写入文件" : "解压文件", FName, code).Failure());
  };
  UnZipIt.OnBadCRC = [this](TObject*, std::int32_t, std::int32_t, std::int32_t FileIndex) {
    unzipFailures_.push_back(CodeFailure("解压文件", UnZipIt.EntryFileName(FileIndex), ERROR_CRC).Failure());
  };
}

void TfStep::ShowExtractedFile(const std::string& path) {
  // One line (the empty label's height) reaching to the bar's right edge. A
  // path too long for it is shown by its file name. (Not SS_PATHELLIPSIS:
  // Wine's drawing of it trips over some paths.)
  HWND label = c.LExtractFilesInfo;
  RECT r, bar;
  GetWindowRect(label, &r);
  GetWindowRect(c.ProgressBar1, &bar);
  const int width = bar.right - r.left;
  std::string shown = path;
  HDC dc = GetDC(label);
  HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageA(label, WM_GETFONT, 0, 0)));
  SIZE extent{};
  GetTextExtentPoint32A(dc, shown.c_str(), static_cast<int>(shown.size()), &extent);
  SelectObject(dc, old);
  ReleaseDC(label, dc);
  if (extent.cx > width) shown = "...\\" + text::FileNamePart(path);
  SetWindowTextA(label, shown.c_str());
  SetWindowPos(label, nullptr, 0, 0, width, r.bottom - r.top, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  UpdateWindow(label);
}

void TfStep::UnZipPayload(const std::string& zipName, const std::string& destDir) {
  unzipFailures_.clear();
  filesDone_ = 0;
  UnZipIt.SetOverwriteMode(Always);
  UnZipIt.SetReplaceReadOnly(true);
  UnZipIt.SetRecreateDirs(true);
  UnZipIt.SetZipName(zipName);
  UnZipIt.SetDestDir(destDir);
  UnZipIt.SetDoAll(true);
  try {
    UnZipIt.UnZipFiles();
  } catch (...) {
    UnZipIt.ClearArchive();
    throw;
  }
  UnZipIt.ClearArchive();
  if (!unzipFailures_.empty()) throw InstallFailure(unzipFailures_.front());
}

void TfStep::Pause(unsigned ms) {
  const DWORD start = GetTickCount();
  for (;;) {
    platform::Ui().ProcessMessages();
    ThrowIfCancelled();
    const DWORD elapsed = GetTickCount() - start;
    if (elapsed >= ms) return;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, ms - elapsed, QS_ALLINPUT);
  }
}

void TfStep::ThrowIfCancelled() const {
  if (cancelConfirmed_ && !rollingBack_) throw InstallCancelled();
}

template <typename Work>
bool TfStep::Guarded(Work work) {
  working_ = true;
  cancelConfirmed_ = false;
  std::optional<InstallStepFailure> failure;
  try {
    work();
    // A close confirmed during the last step.
    ThrowIfCancelled();
    working_ = false;
    return true;
  } catch (const InstallCancelled&) {
  } catch (const InstallFailure& e) {
    failure = e.Failure();
  } catch (const std::exception& e) {
    failure = InstallStepFailure{"安装", e.what(), 0, "", {}};
  }
  working_ = false;
  if (failure) {
    Fail(std::move(*failure));
  } else {
    Abandon();
  }
  return false;
}

void TfStep::Fail(InstallStepFailure failure) {
  rollingBack_ = true;
  // Added to what the failure may list already (a run cut short before).
  if (transaction_) {
    for (std::string& line : transaction_->Rollback()) failure.notUndone.push_back(std::move(line));
  }
  transaction_.reset();
  rollingBack_ = false;
  lastFailure_ = failure;
  // The log has what the error box says, line by line.
  const std::string text = FailureText(failure);
  for (std::size_t at = 0; at < text.size();) {
    std::size_t end = text.find("\r\n", at);
    if (end == std::string::npos) end = text.size();
    if (end > at) Note(text.substr(at, end - at));
    at = end + 2;
  }
  GoTo(Page::Failed);
  SetLabelCaption(c.Label13, kFailedTitle);
  SetLabelCaption(c.LInstallingMsg, kFailedSubtitle);
  SetLabelCaption(c.EInstallProcess, failure.notUndone.empty() ? kRestoredStatus : kNotRestoredStatus);
  SetWindowTextA(c.LExtractFilesInfo, "");
  ShowWindow(c.ProgressBar1, SW_HIDE);
  if (!unattended_) ShowErrorBox(c.fStep, text);
}

void TfStep::Abandon() {
  rollingBack_ = true;
  InstallStepFailure cancelled{"安装", kCancelledObject, 0, "", {}};
  if (transaction_) cancelled.notUndone = transaction_->Rollback();
  transaction_.reset();
  rollingBack_ = false;
  Note("安装已取消");
  for (const std::string& line : cancelled.notUndone) Note("未能撤销: " + line);
  if (!cancelled.notUndone.empty() && !unattended_) ShowErrorBox(c.fStep, FailureText(cancelled));
  lastFailure_ = cancelled;
  Close();
}

void TfStep::EndSessionDuringRun() {
  Note("会话结束, 撤销安装");
  rollingBack_ = true;
  // The extraction below on the stack never resumes: its archive is closed
  // so that the rollback can remove it.
  UnZipIt.ClearArchive();
  const std::vector<std::string> notUndone = transaction_ ? transaction_->Rollback() : std::vector<std::string>{};
  for (const std::string& line : notUndone) Note("未能撤销: " + line);
  const int code = notUndone.empty() ? kExitCancelled : kExitNotRolledBack;
  Note("退出码: " + std::to_string(code));
  // The run below on the stack must not go on: the process ends here.
  ExitProcess(static_cast<UINT>(code));
}

bool TfStep::StartInstallation() {
  // A folder that may not hold the service: the user picks another.
  const FolderVerdict verdict = CheckInstallFolder(InstallFolder());
  if (verdict.kind != FolderVerdict::Usable) {
    ShowErrorBox(c.fStep, paths::IsAbsoluteFolder(InstallFolder()) ? verdict.reason : kRelativeFolderText);
    SetFocus(c.EInstallFolder);
    return false;
  }
  return Install();
}

bool TfStep::Install() {
  const std::string folder = InstallFolder();
  Note("安装文件夹: " + folder);
  GoTo(Page::Installing);
  // The bar counts the extraction from nothing (the layout has it half full).
  SendMessageA(c.ProgressBar1, PBM_SETPOS, 0, 0);
  UpdateWindow(c.ProgressBar1);
  transaction_ = std::make_unique<InstallTransaction>([this](unsigned ms) { Pause(ms); });
  InstallationSteps steps;
  steps.SetStatus = [this](const std::string& caption) { SetLabelCaption(c.EInstallProcess, caption); };
  steps.ProcessMessages = [] { platform::Ui().ProcessMessages(); };
  steps.UnZip = [this](const std::string& zipName, const std::string& destDir) { UnZipPayload(zipName, destDir); };
  steps.Log = [this](const std::string& line) { Note(line); };
  return Guarded([&] { quv::RunInstallation(folder, InstalledFiles, steps, *transaction_); });
}

bool TfStep::FinishAction() {
  if (!transaction_) {
    Close();
    return false;
  }
  // Pressed once: the window keeps working while the service starts.
  EnableWindow(c.BNext, FALSE);
  const bool done = Guarded([&] {
    quv::FinishAction(
        InstallFolder(), *transaction_, [this](unsigned ms) { Pause(ms); },
        [this](const std::string& line) { Note(line); });
  });
  if (!done) return false;
  restartNeeded_ = transaction_->Commit();
  transaction_.reset();
  installed_ = true;
  if (restartNeeded_) Note("部分旧文件正在使用, 将在重新启动后删除");
  Note("安装完成");
  Close();
  return false;
}

void TfStep::SetInstallFolder(const std::string& folder) { SetWindowTextA(c.EInstallFolder, folder.c_str()); }

int TfStep::RunUnattended(bool showWindow) {
  unattended_ = true;
  if (showWindow) {
    GoTo(Page::Installing);
    Show();
  }
  if (Install()) FinishAction();
  return ExitCode();
}

int TfStep::ExitCode() const {
  if (installed_) return restartNeeded_ ? kExitRestartNeeded : kExitInstalled;
  return lastFailure_ ? ExitCodeOf(*lastFailure_) : kExitCancelled;
}

void TfStep::Note(const std::string& line) const {
  if (log_) log_->Write(line);
}

}  // namespace quv
