// The wizard window fStep: four pages shown one at a time above a bar with
// the Back, Next and Cancel buttons, and a fifth state, the installing page
// saying the installation did not complete. One table (RuleOf) says what
// each shows, where Back and Next lead and what Next does on the way.
//
// Each page's content is one panel that lives on a tab sheet of the page
// control; showing a page moves its panel onto the window, on top of the
// panels of pages shown before, so the tabs themselves are never seen.
//
// WizardWindow.cpp: the window, its messages and the navigation;
// WizardPages.cpp: the controls of the bar and the pages;
// WizardInstall.cpp: the installation run and the finish action.
#pragma once

#include <windows.h>

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/Controls.h"
#include "install/Failure.h"
#include "install/Log.h"
#include "install/Transaction.h"
#include "unzip/UnZip.h"

namespace quv {

// The application's title: the taskbar button's and the error boxes' title.
extern const char* const kApplicationTitle;

// The application's error box: the message (see ErrorBoxText) with an error
// icon and an OK button, titled with the application title; modal to owner
// when owner is visible.
void ShowErrorBox(HWND owner, const std::string& message);

class TfStep {
 public:
  static constexpr int kPageCount = 4;

  // Creates the window from its layout and runs FormCreate. The window stays
  // hidden until Show. Throws quv::Exception when a picture cannot be loaded.
  explicit TfStep(HINSTANCE instance);
  ~TfStep();
  TfStep(const TfStep&) = delete;
  TfStep& operator=(const TfStep&) = delete;

  HWND Handle() const { return c.fStep; }
  void Show();

  // Closes the window, which ends the application once the current handler
  // has returned (the message loop stops).
  void Close();

  // The wizard's pages, in the order Next goes through them; Failed is the
  // installing page saying the installation did not complete.
  enum class Page { Welcome, Folder, Installing, Finish, Failed };

  // ---- events -------------------------------------------------------------
  void FormCreate();
  // Does what the page table says Next does on the current page.
  void BNextClick();
  void BPreClick();
  void BCancelClick();
  void Button1Click();
  // The title-bar close: asks first while the installation works.
  void CloseRequest();
  // Enter: presses the focused button, or Next from the folder box.
  void EnterPressed();

  // Shows the panel of page index on the window and enables BNext.
  void ShowPagePanel(int index);

  Page CurrentPage() const { return page_; }
  // The failure the installation ended with, if it failed.
  const std::optional<InstallStepFailure>& LastFailure() const { return lastFailure_; }

  // ---- the installation run and the finish action (WizardInstall.cpp) ------
  // Leaves the folder page: refuses a folder that may not hold the service,
  // otherwise shows the installing page and runs the installation; answers
  // whether it succeeded (the finish page follows). A failure rolls it back
  // and ends on the Failed page, a confirmed close ends the program.
  bool StartInstallation();
  // Behind the finish button: registers and starts the service, then keeps
  // the installation and closes the window; a failure rolls all back.
  // Answers false: the window stays on its page either way.
  bool FinishAction();

  // ---- runs from the command line --------------------------------------------
  // Each step, failure and rollback goes to log (may be null: none).
  void SetLog(InstallLog* log) { log_ = log; }
  void SetInstallFolder(const std::string& folder);
  // The window cannot be closed while the run or the finish action works.
  void SetNoCancel(bool noCancel) { noCancel_ = noCancel; }
  // The session ends all the same (forced logoff, shutdown): the run is
  // rolled back at once and the program ends (exit code "cancelled").
  void EndSessionDuringRun();
  // Installs into the folder box's folder without a question or a message
  // box: shows the installing page alone when showWindow, nothing otherwise;
  // a close of the window cancels at once. Answers the exit code.
  int RunUnattended(bool showWindow);
  // 0 once installed, the failure's code after a failed run, "cancelled"
  // when the window closed before the installation was kept.
  int ExitCode() const;

  // After each file the run extracted (filesDone counts them). The program
  // goes straight on (HoldNone.cpp); the test build in tests/wine holds the
  // run here while the driver looks at the installing page.
  void HoldInstallation(int filesDone);

  // The installed-file list, "File<n>=<path>N" lines.
  std::vector<std::string> InstalledFiles;

  // The unzip component, with the properties stored for it in the layout
  // (OverwriteMode Always, KeepZipOpen) and the window's handlers for its
  // progress and its per-file failures.
  TUnZip UnZipIt;

  // The install folder: the folder box's current text.
  std::string InstallFolder() const;

  // The window's controls, named as in its layout.
  struct Controls {
    HWND fStep = nullptr;
    HWND Panel3 = nullptr, Bevel1 = nullptr, BPre = nullptr, BNext = nullptr, BCancel = nullptr;
    HWND PageControl1 = nullptr;
    std::array<HWND, kPageCount> TabSheet{};
    // Page 0: welcome.
    HWND Panel2 = nullptr, Image1 = nullptr, LWelcome1 = nullptr, LWelcome2 = nullptr;
    // Page 1: install folder.
    HWND Panel5 = nullptr, Panel9 = nullptr, LSelectInstallFolder1 = nullptr, LSelectInstallFolder2 = nullptr,
         Image3 = nullptr, Image4 = nullptr, LSelectInstallFolder3 = nullptr, Label7 = nullptr,
         EInstallFolder = nullptr, Button1 = nullptr, LDiskRequire = nullptr;
    // Page 2: installing.
    HWND Panel12 = nullptr, Panel13 = nullptr, Label13 = nullptr, LInstallingMsg = nullptr, Image7 = nullptr,
         EInstallProcess = nullptr, LExtractFilesInfo = nullptr, ProgressBar1 = nullptr;
    // Page 3: finish.
    HWND Panel15 = nullptr, Image8 = nullptr, LFinishInstallMsg1 = nullptr, LFinishInstallMsg2 = nullptr;
  };
  Controls c;

 private:
  // The bar's captions.
  static constexpr const char* kNextCaption = "下一步(&N) >>";
  static constexpr const char* kBackCaption = "<< 上一步(&P)";
  static constexpr const char* kFinishCaption = "完成(&F)";
  static constexpr const char* kCancelCaption = "取消(&C)";
  static constexpr const char* kCloseCaption = "关闭(&C)";
  // Control identifiers of the buttons and the folder box (above IDOK and
  // IDCANCEL, which the dialog keys send).
  enum : int { kIdBNext = 100, kIdBPre, kIdBCancel, kIdButton1, kIdEInstallFolder };

  struct PageEntry {
    HWND sheet;
    HWND panel;
  };
  enum class Shown { Hidden, Disabled, Enabled };
  // What a page shows, where Back and Next lead from it, and the work Next
  // does before it leaves (null: none; the work answers whether to leave).
  struct PageRule {
    int sheet;
    Shown pre, next, cancel;
    const char* nextCaption;
    const char* cancelCaption;
    Page back, forward;
    bool (TfStep::*leaveBy)();
  };
  static const PageRule& RuleOf(Page page);

  // Makes page current: its panel on top, the buttons as its rule says.
  void GoTo(Page page);
  void SetActivePage(int index);
  // Both directions: the page's panel back on its sheet, then onto the window.
  void ShowPage(int index);
  // Rolls back, shows the Failed page and the error box.
  void Fail(InstallStepFailure failure);
  // Rolls back a cancelled run and ends the program.
  void Abandon();
  // Runs one guarded part of the installation (the run or the finish
  // action): failures and a confirmed close end it as above; answers
  // whether it completed.
  template <typename Work>
  bool Guarded(Work work);
  // Waits ms while the window keeps working; raises InstallCancelled once a
  // close was confirmed (not while rolling back).
  void Pause(unsigned ms);
  void ThrowIfCancelled() const;
  // The run into the folder box's folder; answers whether it succeeded (the
  // finish action follows), else the failure or cancel is handled.
  bool Install();
  void Note(const std::string& line) const;
  // An error that left a window message handler.
  void HandlerFailed(const std::string& message);
  // The run, the finish action or a rollback is under way: the buttons wait.
  bool Busy() const { return working_ || rollingBack_; }

  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp);
  void OnCommand(int id, int code);

  // ---- the layout (WizardPages.cpp); positions and sizes at 96 dpi ---------
  // The window's size and place (centred), its fonts, then its controls.
  void SizeAndCentre();
  void CreateFonts();
  void CreateLayout();
  void CreateButtonBar();
  void CreatePageControl();
  void CreateWelcomePage();
  void CreateFolderPage();
  void CreateInstallingPage();
  void CreateFinishPage();
  // The tall picture along the left edge of the welcome and finish pages.
  HWND CreateSidePicture(HWND page);
  void CreatePageHeader(HWND page, const char* name, const char* titleText, const char* subtitleText, HWND& panel,
                        HWND& title, HWND& subtitle, HWND& image);
  HWND Label(HWND parent, int x, int y, const char* text, bool bold, int width = 0, int height = 0);
  HWND Button(HWND parent, int id, int x, int y, int width, int height, const char* text);
  // A system control (edit box, progress bar) at its place, in the window's font.
  HWND Control(HWND parent, DWORD exStyle, const char* cls, const char* text, DWORD style, int id, int x, int y,
               int width, int height);
  // Sets a label's text and sizes the label to it, as labels do.
  void SetLabelCaption(HWND label, const std::string& text);

  // UnZipIt's stored properties and the window's handlers on it.
  void CreateUnZipIt();
  // The installation run's unzip step on UnZipIt; each file goes through the
  // transaction before it is written; a file that could not be written or
  // failed its CRC check ends the run with an InstallFailure.
  void UnZipPayload(const std::string& zipName, const std::string& destDir);
  // The file being extracted, in LExtractFilesInfo.
  void ShowExtractedFile(const std::string& path);

  HINSTANCE instance_;
  // The window's resolution against the layout's 96 dpi.
  LayoutScale scale_;
  HFONT font_ = nullptr;
  HFONT boldFont_ = nullptr;
  HBITMAP sidePicture_ = nullptr;
  HBITMAP headerPicture_ = nullptr;
  HICON icon_ = nullptr;
  std::array<PageEntry, kPageCount> PageTable{};
  // What went wrong with single files during the current unzip step.
  std::vector<InstallStepFailure> unzipFailures_;
  int filesDone_ = 0;

  Page page_ = Page::Welcome;
  // The open installation, from the run until the finish action kept it.
  std::unique_ptr<InstallTransaction> transaction_;
  std::optional<InstallStepFailure> lastFailure_;
  bool working_ = false;        // the run or the finish action is under way
  bool rollingBack_ = false;
  bool cancelConfirmed_ = false;
  bool unattended_ = false;     // no questions and no message boxes
  bool installed_ = false;
  bool noCancel_ = false;
  bool restartNeeded_ = false;  // kept old files go at the next start of Windows
  InstallLog* log_ = nullptr;
};

}  // namespace quv
