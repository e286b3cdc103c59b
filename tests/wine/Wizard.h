// The wizard under test, seen from the driver: starting it, its window and
// navigation buttons, which page is shown, screenshots, and the event that
// holds the test build's installation run. Scenarios in *Test.cpp
// files of this folder share it.
//
// Environment (set by run-wizard-test): QUV_WIZARD_EXE (the program),
// QUV_WIZARD_HELD_EXE (its test build, HeldInstall.cpp) and QUV_SCREENSHOTS
// (a folder for a BMP of each page and a list of its controls' places), all
// as Windows paths; QUV_WIZARD_DPI, the resolution the prefix was given.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

#include "Driver.h"

namespace quv::wizardtest {

namespace d = quv::driver;
using namespace std::chrono_literals;

inline constexpr const char* kTitle = "安装Quv服务程序";
inline constexpr const char* kNext = "下一步(&N) >>";
inline constexpr const char* kBack = "<< 上一步(&P)";
inline constexpr const char* kCancel = "取消(&C)";
inline constexpr const char* kFinish = "完成(&F)";
inline constexpr const char* kDefaultFolder = "C:\\Program Files\\服务程序";
inline constexpr const char* kGate = "QuvWizardTestInstallGate";

inline std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

// The screen's resolution, which the wizard lays itself out for.
inline int ScreenDpi() {
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSX);
  ReleaseDC(nullptr, screen);
  return dpi;
}

// A length of the layout (pixels at 96 dpi) in the wizard's pixels.
inline int Px(int pixels96) { return MulDiv(pixels96, ScreenDpi(), 96); }

// How far a place may lie from its scaled layout value: none at 96 dpi;
// elsewhere an edge derived from others (a right-aligned picture) rounds
// apart by a pixel.
inline int Slack() { return ScreenDpi() == 96 ? 0 : 1; }

// A text on one line: line breaks written as \r and \n.
inline std::string OneLine(const std::string& text) {
  std::string line;
  for (char ch : text) line += ch == '\r' ? "\\r" : ch == '\n' ? "\\n" : std::string(1, ch);
  return line;
}

// Every control of the window, one line each (class, text, place in the
// window's client area, shown or not), nested controls indented.
inline void WriteLayout(HWND window, const std::string& path) {
  std::FILE* out = std::fopen(path.c_str(), "w");
  if (!out) return;
  struct Walk {
    static void Children(std::FILE* out, HWND window, HWND parent, int depth) {
      for (HWND c = GetWindow(parent, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        RECT r = d::ScreenRect(c);
        MapWindowPoints(HWND_DESKTOP, window, reinterpret_cast<POINT*>(&r), 2);
        std::fprintf(out, "%*s%s \"%s\" %ld,%ld %ldx%ld%s\n", depth * 2, "", d::ClassOf(c).c_str(),
                     OneLine(d::TextOf(c)).c_str(), r.left, r.top, r.right - r.left, r.bottom - r.top,
                     IsWindowVisible(c) ? "" : " hidden");
        Children(out, window, c, depth + 1);
      }
    }
  };
  Walk::Children(out, window, window, 0);
  std::fclose(out);
}

// The running wizard with its window and the three bar buttons, found by
// their texts when it starts.
class Wizard {
 public:
  explicit Wizard(const std::string& exe) {
    if (exe.empty()) throw std::runtime_error("program path not set");
    program_ = std::make_unique<d::Program>("\"" + exe + "\"");
    window = program_->WaitForTopWindow("TfStep", kTitle);
    if (!window) throw std::runtime_error("the wizard window did not appear");
    BNext = d::Find(window, "Button", kNext);
    BPre = d::Find(window, "Button", kBack);
    BCancel = d::Find(window, "Button", kCancel);
    if (!BNext || !BPre || !BCancel) throw std::runtime_error("the navigation buttons are missing");
    program_->WaitIdle();
  }

  d::Program& program() { return *program_; }

  HWND Panel(const char* name) const { return d::Find(window, "TPanel", name); }

  // The page panel a person sees at a point of the page area (client
  // coordinates at 96 dpi), or null.
  HWND PanelSeenAt(int x, int y) const {
    POINT p{Px(x), Px(y)};
    ClientToScreen(window, &p);
    for (HWND w = d::WindowAt(p); w; w = GetParent(w)) {
      if (GetParent(w) == window) return d::ClassOf(w) == "TPanel" ? w : nullptr;
    }
    return nullptr;
  }

  // The page whose panel covers the whole area above the button bar; when
  // more than one shows, what is seen at each probe.
  std::string ShownPage() const {
    static const POINT kProbes[] = {{5, 5}, {84, 140}, {250, 30}, {330, 150}, {490, 275}, {20, 270}};
    HWND first = PanelSeenAt(kProbes[0].x, kProbes[0].y);
    bool same = true;
    std::string seen;
    for (POINT p : kProbes) {
      HWND panel = PanelSeenAt(p.x, p.y);
      same = same && panel == first;
      POINT s{Px(p.x), Px(p.y)};
      ClientToScreen(window, &s);
      HWND at = d::WindowAt(s);
      seen += " (" + std::to_string(p.x) + "," + std::to_string(p.y) + "): " +
              (panel ? d::TextOf(panel) : "-") + " / " + d::ClassOf(at) + " \"" + d::TextOf(at) + "\"";
    }
    if (!same) return "<mixed>" + seen;
    return first ? d::TextOf(first) : "<none>" + seen;
  }

  bool WaitForPage(const char* panel) const {
    return d::WaitUntil([&] { return ShownPage() == panel; });
  }

  void Screenshot(const char* name) const {
    const std::string dir = Env("QUV_SCREENSHOTS");
    if (dir.empty()) return;
    program_->WaitIdle();
    std::this_thread::sleep_for(300ms);  // let every control finish painting
    EXPECT_TRUE(d::SaveScreenshot(window, dir + "\\" + name + ".bmp")) << name;
    WriteLayout(window, dir + "\\" + name + ".layout.txt");
  }

  // Presses Next on the welcome page, arriving on the folder page.
  void GoToFolderPage() {
    d::Click(BNext);
    ASSERT_TRUE(WaitForPage("Panel5")) << ShownPage();
  }

  HWND window = nullptr;
  HWND BNext = nullptr, BPre = nullptr, BCancel = nullptr;

 private:
  std::unique_ptr<d::Program> program_;
};

// The gate that holds the test build's installation run while it exists.
class InstallGate {
 public:
  InstallGate() : event_(CreateEventA(nullptr, TRUE, FALSE, kGate)) {}
  ~InstallGate() {
    Release();
    CloseHandle(event_);
  }
  InstallGate(const InstallGate&) = delete;
  InstallGate& operator=(const InstallGate&) = delete;
  void Release() { SetEvent(event_); }

 private:
  HANDLE event_;
};

inline std::string StateOf(HWND button) {
  std::string s = d::TextOf(button);
  s += d::Visible(button) ? " visible" : " hidden";
  s += d::Enabled(button) ? " enabled" : " disabled";
  return s;
}

inline std::string Want(const char* text, bool visible, bool enabled) {
  return std::string(text) + (visible ? " visible" : " hidden") + (enabled ? " enabled" : " disabled");
}

}  // namespace quv::wizardtest

// A button's caption, visibility and enabled state, compared in one go.
#define EXPECT_BUTTON(button, text, visible, enabled) \
  EXPECT_EQ(quv::wizardtest::StateOf(button), quv::wizardtest::Want(text, visible, enabled))

