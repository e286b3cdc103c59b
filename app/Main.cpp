// Start-up: COM for this (the GUI) thread, the common controls, the one
// window, and the message loop until the window closes.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include <exception>
#include <memory>

#include "app/Step.h"

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

// The program runs elevated, often from a downloads folder: DLLs it loads
// later (the shell's, the common controls') come from the system folder
// only, so one planted beside the program is never taken. The call exists
// from Windows 8 (and Windows 7 with update KB2533623), so it is looked up;
// older systems at least drop the current folder from the search.
void RestrictDllSearch() {
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  if (!kernel) return;
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  using SetDllDirectoryFn = BOOL(WINAPI*)(LPCSTR);
  // Through a plain function pointer type: a direct cast between unrelated
  // function types draws a warning.
  auto lookup = [kernel](const char* name) { return reinterpret_cast<void (*)()>(GetProcAddress(kernel, name)); };
  constexpr DWORD kSearchSystem32 = 0x00000800;  // LOAD_LIBRARY_SEARCH_SYSTEM32
  if (auto restrict = reinterpret_cast<SetDefaultDllDirectoriesFn>(lookup("SetDefaultDllDirectories"))) {
    restrict(kSearchSystem32);
  }
  if (auto setDirectory = reinterpret_cast<SetDllDirectoryFn>(lookup("SetDllDirectoryA"))) setDirectory("");
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

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  RestrictDllSearch();
  ComApartment com;
  INITCOMMONCONTROLSEX icc{sizeof icc, ICC_STANDARD_CLASSES | ICC_TAB_CLASSES | ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&icc);
  try {
    auto window = std::make_unique<quv::TfStep>(instance);
    window->Show();
    return RunMessageLoop(window->Handle());
  } catch (const std::exception& e) {
    quv::ShowErrorBox(nullptr, e.what());
  }
  return 1;
}
