// Win32 answers for the engine's user-interface moments: real message boxes,
// the common file dialog, the shell folder picker and the system cursors.
#ifdef _WIN32

#include <windows.h>
#include <commdlg.h>
#include <shlobj.h>

#include "platform/Ui.h"

namespace quv::platform {

namespace {

UINT ButtonFlags(Buttons b) {
  switch (b) {
    case Buttons::OkCancel: return MB_OKCANCEL;
    case Buttons::YesNo: return MB_YESNO;
    case Buttons::YesNoAll: return MB_YESNOCANCEL;
    default: return MB_OK;
  }
}

int CALLBACK BrowseCallback(HWND hwnd, UINT msg, LPARAM, LPARAM data) {
  if (msg == BFFM_INITIALIZED && data) SendMessageA(hwnd, BFFM_SETSELECTIONA, TRUE, data);
  return 0;
}

class Win32Ui final : public UserInterface {
 public:
  Answer ShowMessage(const std::string& text, const std::string& caption, Buttons buttons) override {
    UINT flags = ButtonFlags(buttons) | MB_TASKMODAL;
    std::string shown = text;
    if (buttons == Buttons::YesNoAll) shown += "\n\n(Cancel answers No to all)";
    switch (MessageBoxA(nullptr, shown.c_str(), caption.c_str(), flags)) {
      case IDOK: return Answer::Ok;
      case IDYES: return Answer::Yes;
      case IDNO: return Answer::No;
      case IDCANCEL: return buttons == Buttons::YesNoAll ? Answer::NoToAll : Answer::Cancel;
      default: return buttons == Buttons::YesNo ? Answer::No : Answer::Cancel;
    }
  }

  bool PickFile(const std::string& title, const std::string& filter, const std::string& initialDir,
                std::string& chosen) override {
    std::string f = filter;
    for (char& c : f) {
      if (c == '|') c = '\0';
    }
    f.push_back('\0');
    char file[MAX_PATH] = {};
    OPENFILENAMEA ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = GetActiveWindow();
    ofn.lpstrFilter = f.c_str();
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = file;
    ofn.nMaxFile = sizeof file;
    ofn.lpstrInitialDir = initialDir.c_str();
    ofn.lpstrTitle = title.c_str();
    ofn.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY;
    if (!GetOpenFileNameA(&ofn)) return false;
    chosen = file;
    return true;
  }

  bool PickFolder(const std::string& initialDir, std::string& chosen) override {
    char path[MAX_PATH] = {};
    BROWSEINFOA bi{};
    bi.hwndOwner = GetActiveWindow();
    bi.pszDisplayName = path;
    bi.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
    bi.lpfn = BrowseCallback;
    bi.lParam = reinterpret_cast<LPARAM>(initialDir.c_str());
    PIDLIST_ABSOLUTE pidl = SHBrowseForFolderA(&bi);
    if (!pidl) return false;
    bool ok = SHGetPathFromIDListA(pidl, path) != 0;
    CoTaskMemFree(pidl);
    if (ok) chosen = path;
    return ok;
  }

  Cursor SetCursor(Cursor cursor) override {
    Cursor old = cursor_;
    cursor_ = cursor;
    ::SetCursor(LoadCursor(nullptr, cursor == Cursor::Busy ? IDC_WAIT : IDC_ARROW));
    return old;
  }

  // Takes the messages in their Unicode form, as the wizard's own loop does:
  // characters typed meanwhile then reach the (Unicode) system controls as
  // typed, whatever the input language's code page.
  void ProcessMessages() override {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        PostQuitMessage(static_cast<int>(msg.wParam));
        break;
      }
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }

 private:
  Cursor cursor_ = Cursor::Default;
};

Win32Ui default_ui;

}  // namespace

UserInterface& Ui() { return default_ui; }

}  // namespace quv::platform

#endif  // _WIN32
