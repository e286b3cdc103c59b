// The wizard window fStep: four pages shown one at a time above a bar with
// the Back, Next and Cancel buttons.
//
// Each page's content is one panel that lives on a tab sheet of the page
// control; showing a page moves its panel onto the window, on top of the
// panels of pages shown before, so the tabs themselves are never seen.
#pragma once

#include <windows.h>

#include <array>
#include <string>
#include <vector>

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

  // ---- events -------------------------------------------------------------
  void FormCreate();
  void BNextClick();
  void BPreClick();
  void BCancelClick();
  void Button1Click();

  // Shows the panel of page index on the window and enables BNext.
  void ShowPagePanel(int index);

  // ---- the installation run and the finish action (StepInstall.cpp) --------
  // Runs on arriving at the installing page, after the buttons are hidden:
  // clears away an old service and running service programs, then installs
  // into the install folder. Errors are not caught here.
  void RunInstallation();
  // Writes InstalledFiles as "install.dl" in the install folder; a failure
  // is shown in a message box of its own (the window is hidden then).
  void SaveInstalledFiles();
  // Behind the finish button; closes the window unless an old registration
  // of the service could not be removed yet.
  void FinishAction();

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
  struct PageEntry {
    HWND sheet;
    HWND panel;
  };

  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp);
  void OnCommand(int id, int code);

  void CreateLayout();
  void CreatePage0();
  void CreatePage1();
  void CreatePageHeader(HWND page, const char* name, const char* titleText, const char* subtitleText, HWND& panel,
                        HWND& title, HWND& subtitle, HWND& image);
  void CreatePage2();
  void CreatePage3();
  HWND Label(HWND parent, int x, int y, const char* text, bool bold, int width = 0, int height = 0);
  HWND Button(HWND parent, int id, int x, int y, int width, int height, const char* text);
  // Sets a label's text and sizes the label to it, as labels do.
  void SetLabelCaption(HWND label, const std::string& text);

  // UnZipIt's stored properties and the window's handlers on it.
  void CreateUnZipIt();
  // The installation run's unzip step on UnZipIt; a file that could not be
  // written or failed its CRC check ends the run with an error.
  void UnZipPayload(const std::string& zipName, const std::string& destDir);
  // The file being extracted, in LExtractFilesInfo.
  void ShowExtractedFile(const std::string& path);

  int ActivePageIndex() const;
  void SetActivePage(int index);
  // Both directions: the page's panel back on its sheet, then onto the window.
  void ShowPage(int index);

  HINSTANCE instance_;
  HFONT font_ = nullptr;
  HFONT boldFont_ = nullptr;
  HBITMAP sidePicture_ = nullptr;
  HBITMAP headerPicture_ = nullptr;
  HICON icon_ = nullptr;
  HICON smallIcon_ = nullptr;
  std::array<PageEntry, kPageCount> PageTable{};
  // What went wrong with single files during the current unzip step.
  std::vector<std::string> unzipFailures_;
  int filesDone_ = 0;
};

}  // namespace quv
