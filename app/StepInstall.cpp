// The wizard's installation run, the saving of the installed-file list and
// the finish action: the window's side of install/ (which does the work) and
// its unzip component UnZipIt.
#include "app/Step.h"

#include <commctrl.h>

#include "app/Controls.h"
#include "install/Installation.h"
#include "install/InstalledFiles.h"
#include "install/Paths.h"
#include "platform/Ui.h"
#include "zip/Exception.h"

namespace quv {

namespace {
// LExtractFilesInfo reaches to the right edge of the progress bar (24 + 433).
constexpr int kFileInfoLeft = 32;
constexpr int kFileInfoRight = 457;
}  // namespace

void TfStep::CreateUnZipIt() {
  UnZipIt.SetOverwriteMode(Always);
  UnZipIt.SetKeepZipOpen(true);
  UnZipIt.Loaded();

  // The installing page follows the extraction: the file being written and
  // how much of the whole archive is done.
  UnZipIt.OnStartUnZip = [this](TObject*, std::int32_t, std::string& FName, bool&) { ShowExtractedFile(FName); };
  UnZipIt.OnTotalPercentDone = [this](TObject*, std::int32_t Percent) {
    SendMessageA(c.ProgressBar1, PBM_SETPOS, static_cast<WPARAM>(Percent), 0);
    UpdateWindow(c.ProgressBar1);
  };
  UnZipIt.OnEndUnZip = [this](TObject*, std::int32_t, const std::string&) { HoldInstallation(++filesDone_); };
  // A program that was not written, or written wrong, is no installation:
  // the run must not go on to say it succeeded.
  UnZipIt.OnSkippingFile = [this](TObject*, TSkipReason Reason, const std::string& FName, std::int32_t, bool&) {
    unzipFailures_.push_back(Reason == skCannotCreate ? "Cannot create file " + FName : "Cannot extract " + FName);
  };
  UnZipIt.OnBadCRC = [this](TObject*, std::int32_t, std::int32_t, std::int32_t FileIndex) {
    unzipFailures_.push_back("CRC error in " + UnZipIt.EntryFileName(FileIndex));
  };
}

void TfStep::ShowExtractedFile(const std::string& path) {
  // One line (the empty label's height) as wide as the bar. A path too long
  // for it is shown by its file name. (Not SS_PATHELLIPSIS: Wine's drawing of
  // it trips over some paths.)
  HWND label = c.LExtractFilesInfo;
  const int width = Px(kFileInfoRight - kFileInfoLeft);
  std::string shown = path;
  HDC dc = GetDC(label);
  HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageA(label, WM_GETFONT, 0, 0)));
  SIZE extent{};
  GetTextExtentPoint32A(dc, shown.c_str(), static_cast<int>(shown.size()), &extent);
  SelectObject(dc, old);
  ReleaseDC(label, dc);
  if (extent.cx > width) shown = "...\\" + paths::FileNamePart(path);
  SetWindowTextA(label, shown.c_str());
  RECT r;
  GetWindowRect(label, &r);
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
  UnZipIt.UnZipFiles();
  UnZipIt.ClearArchive();
  if (!unzipFailures_.empty()) throw Exception(unzipFailures_.front());
}

void TfStep::RunInstallation() {
  // The bar counts the extraction from nothing (the layout has it half full).
  SendMessageA(c.ProgressBar1, PBM_SETPOS, 0, 0);
  UpdateWindow(c.ProgressBar1);
  quv::ClearOldInstallation();
  InstallationSteps steps;
  steps.SetStatus = [this](const std::string& caption) { SetLabelCaption(c.EInstallProcess, caption); };
  steps.ProcessMessages = [] { platform::Ui().ProcessMessages(); };
  steps.UnZip = [this](const std::string& zipName, const std::string& destDir) { UnZipPayload(zipName, destDir); };
  quv::RunInstallation(InstallFolder(), InstalledFiles, steps);
}

void TfStep::SaveInstalledFiles() { quv::SaveInstallList(InstalledFiles, InstallFolder()); }

void TfStep::FinishAction() {
  if (quv::FinishAction(InstallFolder())) Close();
}

}  // namespace quv
