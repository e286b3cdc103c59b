#include "install/DllSearch.h"

#include <windows.h>

namespace quv {

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

}  // namespace quv
