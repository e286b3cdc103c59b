// Planted where an unquoted command line with blanks would find a program
// first ("C:\dir\svc 服务\QuvSvr.exe ..." starts "C:\dir\svc.exe"): leaves a
// mark beside itself when started.
#include <windows.h>

#include <string>

int main() {
  char path[MAX_PATH + 1] = {};
  DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string mark(path, n);
  mark = mark.substr(0, mark.find_last_of('\\') + 1) + "trap-ran";
  HANDLE h = CreateFileA(mark.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  return 0;
}
