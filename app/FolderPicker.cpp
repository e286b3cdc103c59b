#include "app/FolderPicker.h"

#include <shlobj.h>

#include <vector>

#include "platform/Platform.h"

namespace quv {

namespace {

// Disables the thread's enabled, visible top-level windows for its lifetime,
// so the picker is modal to the whole application; enables them again on
// every way out.
class ApplicationWindowsDisabled {
 public:
  ApplicationWindowsDisabled() {
    EnumThreadWindows(GetCurrentThreadId(), Collect, reinterpret_cast<LPARAM>(&windows_));
    for (HWND w : windows_) EnableWindow(w, FALSE);
  }
  ~ApplicationWindowsDisabled() {
    for (HWND w : windows_) EnableWindow(w, TRUE);
  }
  ApplicationWindowsDisabled(const ApplicationWindowsDisabled&) = delete;
  ApplicationWindowsDisabled& operator=(const ApplicationWindowsDisabled&) = delete;

 private:
  static BOOL CALLBACK Collect(HWND hwnd, LPARAM lp) {
    if (IsWindowVisible(hwnd) && IsWindowEnabled(hwnd)) reinterpret_cast<std::vector<HWND>*>(lp)->push_back(hwnd);
    return TRUE;
  }
  std::vector<HWND> windows_;
};

// The shell's allocator, released on every way out.
class ShellMalloc {
 public:
  ShellMalloc() {
    if (FAILED(SHGetMalloc(&malloc_))) malloc_ = nullptr;
  }
  ~ShellMalloc() {
    if (malloc_) malloc_->Release();
  }
  ShellMalloc(const ShellMalloc&) = delete;
  ShellMalloc& operator=(const ShellMalloc&) = delete;
  IMalloc* operator->() const { return malloc_; }
  explicit operator bool() const { return malloc_ != nullptr; }

 private:
  IMalloc* malloc_ = nullptr;
};

int CALLBACK OnPickerEvent(HWND picker, UINT msg, LPARAM, LPARAM data) {
  if (msg == BFFM_INITIALIZED && data) SendMessageA(picker, BFFM_SETSELECTIONA, TRUE, data);
  return 0;
}

}  // namespace

bool BrowseForFolder(HWND owner, const char* instruction, const std::string& current, std::string& chosen) {
  ShellMalloc shell;
  if (!shell) return false;
  auto* buffer = static_cast<char*>(shell->Alloc(MAX_PATH));
  if (!buffer) return false;
  buffer[0] = '\0';
  // Judged now, when the picker opens: a folder that does not exist selects nothing.
  const bool preselect = !current.empty() && platform::DirExists(current);

  BROWSEINFOA info{};
  info.hwndOwner = owner;
  info.pidlRoot = nullptr;  // the whole namespace, from the desktop
  info.pszDisplayName = buffer;
  info.lpszTitle = instruction;
  info.ulFlags = BIF_RETURNONLYFSDIRS;
  info.lpfn = OnPickerEvent;
  info.lParam = preselect ? reinterpret_cast<LPARAM>(current.c_str()) : 0;

  bool confirmed = false;
  {
    ApplicationWindowsDisabled modal;
    PIDLIST_ABSOLUTE items = SHBrowseForFolderA(&info);
    if (items) {
      confirmed = SHGetPathFromIDListA(items, buffer) != FALSE;
      shell->Free(items);
    }
  }
  // The window was disabled when the picker closed, so nothing took the
  // activation back to it.
  if (owner) SetActiveWindow(owner);
  if (confirmed) chosen = buffer;
  shell->Free(buffer);
  return confirmed;
}

}  // namespace quv
