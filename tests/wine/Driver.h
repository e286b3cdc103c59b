// Texts given to and answered by the driver are UTF-8; it talks to the
// program through the ANSI API, so the program's texts are read in the
// system code page (936 under the tests' Wine) and converted.
//
// Drives a Win32 GUI program from outside, as a person would: starts it,
// finds its windows and controls by class and text, clicks with the mouse,
// types with the keyboard, waits for what should follow, reads states and
// texts, and captures the screen. Meant to run under Wine on a virtual
// display; everything goes through the ordinary Win32 API.
#pragma once

#include <windows.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace quv::driver {

using namespace std::chrono_literals;
using Duration = std::chrono::milliseconds;

// Polls pred until it is true or timeout has passed; answers its last value.
bool WaitUntil(const std::function<bool()>& pred, Duration timeout = 10000ms);

// A program started by the driver; ended (if still running) on destruction.
class Program {
 public:
  Program() = default;
  // Starts commandLine (an .exe path, quoted as needed) in the folder dir
  // (the driver's own when empty). Throws std::runtime_error on failure.
  explicit Program(const std::string& commandLine, const std::string& dir = "");
  ~Program();
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  DWORD Id() const { return info_.dwProcessId; }
  bool Running() const;
  // Waits for the program to end; answers whether it did.
  bool WaitForExit(Duration timeout = 5000ms) const;
  // Its exit code once ended (STILL_ACTIVE before).
  DWORD ExitCode() const;
  // Waits until it sits idle waiting for input (after start or a click).
  void WaitIdle(Duration timeout = 5000ms) const;
  // The program's visible top-level window with this class and title (any
  // title when title is null); null when there is none.
  HWND TopWindow(const char* className, const char* title = nullptr) const;
  // Waits for such a window to appear.
  HWND WaitForTopWindow(const char* className, const char* title = nullptr, Duration timeout = 15000ms) const;
  void Kill();

 private:
  PROCESS_INFORMATION info_{};
};

// UTF-8 to the system code page and back.
std::string Ansi(const std::string& utf8);
std::string Utf8(const std::string& ansi);

// ---- finding and reading controls ------------------------------------------
// All descendants of parent with this class (any when null; compared
// without regard to case) and text (any when null), in window order.
std::vector<HWND> FindAll(HWND parent, const char* className, const char* text = nullptr);
// The first of them, or null.
HWND Find(HWND parent, const char* className, const char* text = nullptr);
// The same among parent's own children only.
HWND FindChild(HWND parent, const char* className, const char* text = nullptr);
std::string ClassOf(HWND hwnd);
// The window's text, read through WM_GETTEXT (ANSI).
std::string TextOf(HWND hwnd);
// Visible itself and every parent visible.
bool Visible(HWND hwnd);
bool Enabled(HWND hwnd);
// The control that has the keyboard focus in the thread owning hwnd.
HWND Focused(HWND hwnd);
// Rectangle in screen coordinates, and in the coordinates of its parent's client area.
RECT ScreenRect(HWND hwnd);
RECT RectInParent(HWND hwnd);
// The deepest window the screen point falls on (what a person sees there).
HWND WindowAt(POINT screenPoint);
// Whether hwnd is ancestor or the same as descendant.
bool Contains(HWND ancestor, HWND descendant);

// ---- acting as a person -------------------------------------------------------
// A left click with the real mouse at the centre of hwnd (or at the given
// client point of it).
void Click(HWND hwnd);
void ClickAt(POINT screenPoint);
// Types text with the keyboard into the window that has the focus.
void Type(const std::string& text);
// Presses and releases one key, optionally with Alt held.
void PressKey(WORD virtualKey, bool alt = false);
// Replaces the text of an edit box by clicking into it, selecting all and typing.
void TypeInto(HWND edit, const std::string& text);
// The close button of a top-level window's title bar: a real click when the
// button can be found on screen, otherwise the same system command.
void ClickTitleBarClose(HWND top);

// ---- looking ----------------------------------------------------------------
// Colour of the screen pixel at a point.
COLORREF PixelAt(POINT screenPoint);
// Saves the screen area of hwnd (its frame included) as a 24-bit BMP file.
bool SaveScreenshot(HWND hwnd, const std::string& bmpPath);

}  // namespace quv::driver
