#include "Driver.h"

#include <cstdio>
#include <stdexcept>
#include <thread>

namespace quv::driver {

bool WaitUntil(const std::function<bool()>& pred, Duration timeout) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (pred()) return true;
    if (std::chrono::steady_clock::now() >= end) return pred();
    std::this_thread::sleep_for(25ms);
  }
}

std::string Ansi(const std::string& utf8) {
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
  const int m = WideCharToMultiByte(CP_ACP, 0, wide.data(), n, nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<std::size_t>(m), '\0');
  WideCharToMultiByte(CP_ACP, 0, wide.data(), n, text.data(), m, nullptr, nullptr);
  return text;
}

std::string Utf8(const std::string& ansi) {
  const int n = MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), wide.data(), n);
  const int m = WideCharToMultiByte(CP_UTF8, 0, wide.data(), n, nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<std::size_t>(m), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), n, text.data(), m, nullptr, nullptr);
  return text;
}

// ---- Program -------------------------------------------------------------------

Program::Program(const std::string& commandLine, const std::string& dir) {
  STARTUPINFOA si{};
  si.cb = sizeof si;
  std::string cmd = commandLine;
  if (!CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, dir.empty() ? nullptr : dir.c_str(),
                      &si, &info_)) {
    throw std::runtime_error("cannot start " + commandLine + " (error " + std::to_string(GetLastError()) + ")");
  }
  WaitIdle(15000ms);
}

Program::~Program() {
  Kill();
  if (info_.hThread) CloseHandle(info_.hThread);
  if (info_.hProcess) CloseHandle(info_.hProcess);
}

bool Program::Running() const {
  return info_.hProcess && WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT;
}

bool Program::WaitForExit(Duration timeout) const {
  return !info_.hProcess ||
         WaitForSingleObject(info_.hProcess, static_cast<DWORD>(timeout.count())) == WAIT_OBJECT_0;
}

DWORD Program::ExitCode() const {
  DWORD code = STILL_ACTIVE;
  if (info_.hProcess) GetExitCodeProcess(info_.hProcess, &code);
  return code;
}

void Program::WaitIdle(Duration timeout) const {
  if (info_.hProcess) WaitForInputIdle(info_.hProcess, static_cast<DWORD>(timeout.count()));
}

namespace {
struct TopSearch {
  DWORD pid;
  const char* cls;
  const char* title;
  HWND found;
};

BOOL CALLBACK MatchTop(HWND hwnd, LPARAM lp) {
  auto* s = reinterpret_cast<TopSearch*>(lp);
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  if (pid != s->pid || !IsWindowVisible(hwnd)) return TRUE;
  if (s->cls && lstrcmpiA(ClassOf(hwnd).c_str(), s->cls) != 0) return TRUE;
  if (s->title && TextOf(hwnd) != s->title) return TRUE;
  s->found = hwnd;
  return FALSE;
}
}  // namespace

HWND Program::TopWindow(const char* className, const char* title) const {
  TopSearch s{info_.dwProcessId, className, title, nullptr};
  EnumWindows(MatchTop, reinterpret_cast<LPARAM>(&s));
  return s.found;
}

HWND Program::WaitForTopWindow(const char* className, const char* title, Duration timeout) const {
  HWND found = nullptr;
  WaitUntil([&] { return (found = TopWindow(className, title)) != nullptr; }, timeout);
  return found;
}

void Program::Kill() {
  if (Running()) {
    TerminateProcess(info_.hProcess, 1);
    WaitForSingleObject(info_.hProcess, 5000);
  }
}

// ---- finding and reading -----------------------------------------------------------

std::string ClassOf(HWND hwnd) {
  char name[256] = {};
  GetClassNameA(hwnd, name, sizeof name);
  return name;
}

std::string TextOf(HWND hwnd) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutA(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length)) return "<no answer>";
  std::string text(length + 1, '\0');
  DWORD_PTR got = 0;
  SendMessageTimeoutA(hwnd, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), SMTO_ABORTIFHUNG, 5000,
                      &got);
  text.resize(got);
  return Utf8(text);
}

namespace {
struct ChildSearch {
  const char* cls;
  const char* text;
  std::vector<HWND>* out;
};

BOOL CALLBACK MatchChild(HWND hwnd, LPARAM lp) {
  auto* s = reinterpret_cast<ChildSearch*>(lp);
  if ((!s->cls || lstrcmpiA(ClassOf(hwnd).c_str(), s->cls) == 0) && (!s->text || TextOf(hwnd) == s->text)) s->out->push_back(hwnd);
  return TRUE;
}
}  // namespace

std::vector<HWND> FindAll(HWND parent, const char* className, const char* text) {
  std::vector<HWND> found;
  ChildSearch s{className, text, &found};
  EnumChildWindows(parent, MatchChild, reinterpret_cast<LPARAM>(&s));
  return found;
}

HWND Find(HWND parent, const char* className, const char* text) {
  auto all = FindAll(parent, className, text);
  return all.empty() ? nullptr : all.front();
}

HWND FindChild(HWND parent, const char* className, const char* text) {
  for (HWND c : FindAll(parent, className, text)) {
    if (GetParent(c) == parent) return c;
  }
  return nullptr;
}

bool Visible(HWND hwnd) { return IsWindowVisible(hwnd) != FALSE; }
bool Enabled(HWND hwnd) { return IsWindowEnabled(hwnd) != FALSE; }

HWND Focused(HWND hwnd) {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  return GetGUIThreadInfo(GetWindowThreadProcessId(hwnd, nullptr), &info) ? info.hwndFocus : nullptr;
}

RECT ScreenRect(HWND hwnd) {
  RECT r{};
  GetWindowRect(hwnd, &r);
  return r;
}

RECT RectInParent(HWND hwnd) {
  RECT r = ScreenRect(hwnd);
  MapWindowPoints(HWND_DESKTOP, GetParent(hwnd), reinterpret_cast<POINT*>(&r), 2);
  return r;
}

HWND WindowAt(POINT p) {
  HWND hwnd = WindowFromPoint(p);
  // WindowFromPoint stops at disabled or static children; go down to the
  // deepest child that covers the point.
  for (HWND child; hwnd; hwnd = child) {
    POINT local = p;
    ScreenToClient(hwnd, &local);
    child = ChildWindowFromPointEx(hwnd, local, CWP_SKIPINVISIBLE);
    // Itself, or nothing when the point is on its border rather than in its client area.
    if (!child || child == hwnd) break;
  }
  return hwnd;
}

bool Contains(HWND ancestor, HWND descendant) {
  for (HWND w = descendant; w; w = GetParent(w)) {
    if (w == ancestor) return true;
  }
  return false;
}

// ---- acting ---------------------------------------------------------------------------

namespace {
// Every mouse event carries its position, so a button press and its release
// land on the same point whatever the display does with the pointer between.
void SendMouse(POINT p, DWORD flags) {
  INPUT in{};
  in.type = INPUT_MOUSE;
  in.mi.dx = MulDiv(p.x, 65536, GetSystemMetrics(SM_CXSCREEN)) + 1;
  in.mi.dy = MulDiv(p.y, 65536, GetSystemMetrics(SM_CYSCREEN)) + 1;
  in.mi.dwFlags = flags | MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
  SendInput(1, &in, sizeof in);
}

void SendKey(WORD vk, WORD scan, DWORD flags) {
  INPUT in{};
  in.type = INPUT_KEYBOARD;
  in.ki.wVk = vk;
  in.ki.wScan = scan;
  in.ki.dwFlags = flags;
  SendInput(1, &in, sizeof in);
}

// Gives the program time to take the input in.
void Settle() { std::this_thread::sleep_for(150ms); }
}  // namespace

void ClickAt(POINT p) {
  SendMouse(p, 0);
  std::this_thread::sleep_for(50ms);
  SendMouse(p, MOUSEEVENTF_LEFTDOWN);
  std::this_thread::sleep_for(50ms);
  SendMouse(p, MOUSEEVENTF_LEFTUP);
  Settle();
}

void Click(HWND hwnd) {
  RECT r = ScreenRect(hwnd);
  ClickAt(POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2});
}

void Type(const std::string& text) {
  const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
  for (wchar_t ch : wide) {
    SendKey(0, ch, KEYEVENTF_UNICODE);
    SendKey(0, ch, KEYEVENTF_UNICODE | KEYEVENTF_KEYUP);
    std::this_thread::sleep_for(10ms);
  }
  Settle();
}

void PressKey(WORD vk, bool alt) {
  if (alt) SendKey(VK_MENU, 0, 0);
  SendKey(vk, 0, 0);
  SendKey(vk, 0, KEYEVENTF_KEYUP);
  if (alt) SendKey(VK_MENU, 0, KEYEVENTF_KEYUP);
  Settle();
}

void TypeInto(HWND edit, const std::string& text) {
  Click(edit);
  // Select everything (as a double click or Ctrl+A would) so typing replaces it.
  DWORD_PTR ignored = 0;
  SendMessageTimeoutA(edit, EM_SETSEL, 0, -1, SMTO_ABORTIFHUNG, 5000, &ignored);
  Type(text);
}

void ClickTitleBarClose(HWND top) {
  RECT r = ScreenRect(top);
  const int frame = GetSystemMetrics(SM_CXFIXEDFRAME);
  const int button = GetSystemMetrics(SM_CXSIZE);
  POINT p{r.right - frame - button / 2 - 1, r.top + GetSystemMetrics(SM_CYFIXEDFRAME) + GetSystemMetrics(SM_CYCAPTION) / 2};
  DWORD_PTR hit = 0;
  SendMessageTimeoutA(top, WM_NCHITTEST, 0, MAKELPARAM(p.x, p.y), SMTO_ABORTIFHUNG, 5000, &hit);
  if (hit == HTCLOSE) {
    ClickAt(p);
  } else {
    // No drawn title bar (no window manager): the command the button sends.
    PostMessageA(top, WM_SYSCOMMAND, SC_CLOSE, 0);
    Settle();
  }
}

// ---- looking -------------------------------------------------------------------------

COLORREF PixelAt(POINT p) {
  HDC screen = GetDC(nullptr);
  COLORREF c = GetPixel(screen, p.x, p.y);
  ReleaseDC(nullptr, screen);
  return c;
}

bool SaveScreenshot(HWND hwnd, const std::string& bmpPath) {
  RECT r = ScreenRect(hwnd);
  const int w = r.right - r.left, h = r.bottom - r.top;
  if (w <= 0 || h <= 0) return false;
  HDC screen = GetDC(nullptr);
  HDC mem = CreateCompatibleDC(screen);
  BITMAPINFO bmi{};
  bmi.bmiHeader.biSize = sizeof bmi.bmiHeader;
  bmi.bmiHeader.biWidth = w;
  bmi.bmiHeader.biHeight = h;  // bottom-up, as BMP files store rows
  bmi.bmiHeader.biPlanes = 1;
  bmi.bmiHeader.biBitCount = 24;
  bmi.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &bmi, DIB_RGB_COLORS, &bits, nullptr, 0);
  bool ok = false;
  if (bitmap && bits) {
    HGDIOBJ old = SelectObject(mem, bitmap);
    BitBlt(mem, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    SelectObject(mem, old);
    GdiFlush();
    const DWORD stride = (static_cast<DWORD>(w) * 3 + 3) & ~3u;
    const DWORD size = stride * static_cast<DWORD>(h);
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof bmi.bmiHeader;
    file.bfSize = file.bfOffBits + size;
    if (FILE* f = std::fopen(bmpPath.c_str(), "wb")) {
      ok = std::fwrite(&file, sizeof file, 1, f) == 1 && std::fwrite(&bmi.bmiHeader, sizeof bmi.bmiHeader, 1, f) == 1 &&
           std::fwrite(bits, 1, size, f) == size;
      ok = std::fclose(f) == 0 && ok;
    }
  }
  if (bitmap) DeleteObject(bitmap);
  DeleteDC(mem);
  ReleaseDC(nullptr, screen);
  return ok;
}

}  // namespace quv::driver
