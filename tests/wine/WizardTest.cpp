// The wizard driven from outside under Wine, as a person would use it: every
// page's texts and layout, the buttons' states through the flow, Back and
// Next, the folder box and its picker, Cancel and the title-bar close.
//
// The texts below are the program's own, written out again rather than
// shared with it, so a wrong text in the program is caught.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "Wizard.h"

namespace {

using namespace quv::wizardtest;

// One expected control of a page: class, text and place in its parent
// (left, top; width and height where the layout fixes them, else 0), in
// the layout's pixels at 96 dpi.
struct Expected {
  const char* cls;
  const char* text;
  int left, top, width, height;
};

void ExpectControls(HWND panel, const Expected* expected, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    const Expected& e = expected[i];
    SCOPED_TRACE(std::string(e.cls) + " \"" + e.text + "\"");
    HWND c = d::FindChild(panel, e.cls, e.text);
    ASSERT_NE(c, nullptr) << "not found";
    EXPECT_TRUE(d::Visible(c));
    RECT r = d::RectInParent(c);
    EXPECT_NEAR(r.left, Px(e.left), Slack());
    EXPECT_NEAR(r.top, Px(e.top), Slack());
    if (e.width) {
      EXPECT_NEAR(r.right - r.left, Px(e.width), Slack());
    }
    if (e.height) {
      EXPECT_NEAR(r.bottom - r.top, Px(e.height), Slack());
    }
  }
}

template <std::size_t N>
void ExpectControls(HWND panel, const Expected (&expected)[N]) {
  ExpectControls(panel, expected, N);
}

// A picture is in place when the screen shows its colours there.
bool Bluish(COLORREF c) { return GetBValue(c) > GetRValue(c) + 40; }
bool Greenish(COLORREF c) { return GetGValue(c) > GetRValue(c) + 10 && GetGValue(c) > GetBValue(c) + 10; }
bool Yellowish(COLORREF c) { return GetRValue(c) > 180 && GetGValue(c) > 130 && GetBValue(c) < 140; }

// The colour at a point of a control given at 96 dpi.
COLORREF PixelIn(HWND control, int x, int y) {
  POINT p{Px(x), Px(y)};
  ClientToScreen(control, &p);
  return d::PixelAt(p);
}

// ---- page checks -------------------------------------------------------------------

void ExpectWelcomePage(Wizard& w) {
  ASSERT_EQ(w.ShownPage(), "Panel2");
  HWND panel = w.Panel("Panel2");
  EXPECT_EQ(GetParent(panel), w.window);
  static const Expected kControls[] = {
      {"Static", "欢迎使用 收银软件Quv服务 安装程序", 180, 18, 0, 0},
      {"Static",
       "    本程序将把Quv服务程序安装到您的电脑中我们强\r\n\r\n"
       "烈建议您在安装的过程中停止执行其它的应用程序以避\r\n\r\n"
       "免安装程序互相干扰.\r\n\r\n"
       "按 \"下一步\" 继续安装或者按 \"取消\" 结束安装程序",
       179, 54, 288, 0},
      {"TImage", "", 0, 0, 169, 282},
  };
  ExpectControls(panel, kControls);
  HWND image = d::Find(panel, "TImage");
  EXPECT_TRUE(Bluish(PixelIn(image, 84, 12))) << std::hex << PixelIn(image, 84, 12);
  EXPECT_TRUE(Greenish(PixelIn(image, 84, 272))) << std::hex << PixelIn(image, 84, 272);
}

void ExpectFolderPage(Wizard& w) {
  ASSERT_EQ(w.ShownPage(), "Panel5");
  HWND panel = w.Panel("Panel5");
  HWND header = w.Panel("Panel9");
  EXPECT_EQ(GetParent(panel), w.window);
  static const Expected kHeader[] = {
      {"Static", "请选择安装文件夹", 6, 6, 0, 0},
      {"Static", "您想要把服务程序安装到哪里？", 24, 32, 0, 0},
      {"TImage", "", 436, 1, 60, 53},
  };
  ExpectControls(header, kHeader);
  static const Expected kControls[] = {
      {"TPanel", "Panel9", 0, 0, 497, 55},
      {"TImage", "", 23, 70, 34, 35},
      {"Static", "安装程序将安装 Quv程序 到下面文件夹", 68, 68, 0, 0},
      {"Static", "如果要继续请按 \"下一步\"  如果您想要安装到其它文件夹请按 \"浏览\"", 68, 90, 0, 0},
      {"Button", "浏览(&B)...", 378, 122, 79, 23},
      {"Edit", kDefaultFolder, 24, 122, 345, 20},
      // Below the sheet's edge, seen now that the panel is on the window.
      {"Static", "程序需要至少10 MB 的磁盘空间.", 24, 268, 0, 0},
  };
  ExpectControls(panel, kControls);
  EXPECT_TRUE(Yellowish(PixelIn(d::Find(header, "TImage"), 30, 30)));
  EXPECT_TRUE(Yellowish(PixelIn(d::FindChild(panel, "TImage"), 16, 16)));
}

void ExpectInstallingPage(Wizard& w) {
  ASSERT_EQ(w.ShownPage(), "Panel12");
  HWND panel = w.Panel("Panel12");
  HWND header = w.Panel("Panel13");
  static const Expected kHeader[] = {
      {"Static", "正在安装", 6, 6, 0, 0},
      {"Static", "请稍候...安装程序正在将 服务程序 安装到您的电脑中.", 24, 32, 0, 0},
      {"TImage", "", 436, 1, 60, 53},
  };
  ExpectControls(header, kHeader);
  static const Expected kControls[] = {
      {"TPanel", "Panel13", 0, 0, 497, 55},
      {"msctls_progress32", "", 24, 122, 433, 19},
  };
  ExpectControls(panel, kControls);
  // The status label and the file being extracted; their texts follow the
  // run (InstallTest.cpp).
  int labels = 0;
  for (HWND label : d::FindAll(panel, "Static")) {
    RECT r = d::RectInParent(label);
    if ((r.left == Px(24) && r.top == Px(70)) || (r.left == Px(32) && r.top == Px(96))) ++labels;
  }
  EXPECT_EQ(labels, 2);
  HWND bar = d::Find(panel, "msctls_progress32");
  EXPECT_EQ(SendMessageA(bar, PBM_GETRANGE, TRUE, 0), 0);
  EXPECT_EQ(SendMessageA(bar, PBM_GETRANGE, FALSE, 0), 100);
  EXPECT_TRUE(Yellowish(PixelIn(d::Find(header, "TImage"), 30, 30)));
}

void ExpectFinishPage(Wizard& w) {
  ASSERT_EQ(w.ShownPage(), "Panel15");
  static const Expected kControls[] = {
      {"Static", "正在完成 Quv 服务程序的安装", 178, 12, 0, 0},
      {"Static",
       "安装程序已经成功地将Quv程序安装到您的电脑中,\r\n\r\n"
       "您可以通过按程序的图标来启动执行应用程序\r\n\r\n"
       "按下 \"完成\" 以结束安装",
       178, 42, 270, 0},
      {"TImage", "", 0, 0, 169, 282},
  };
  HWND panel = w.Panel("Panel15");
  ExpectControls(panel, kControls);
  HWND image = d::Find(panel, "TImage");
  EXPECT_TRUE(Bluish(PixelIn(image, 84, 12)));
  EXPECT_TRUE(Greenish(PixelIn(image, 84, 272)));
  // The finish button is the only button, and it has the focus.
  EXPECT_BUTTON(w.BNext, kFinish, true, true);
  EXPECT_FALSE(d::Visible(w.BPre));
  EXPECT_FALSE(d::Visible(w.BCancel));
  EXPECT_EQ(d::Focused(w.window), w.BNext);
}

// ---- scenarios -----------------------------------------------------------------------

TEST(Wizard, WindowLayout) {
  // A prefix meant for another resolution that did not take it would only
  // test 96 dpi again.
  if (!Env("QUV_WIZARD_DPI").empty()) {
    ASSERT_EQ(ScreenDpi(), std::atoi(Env("QUV_WIZARD_DPI").c_str()));
  }
  Wizard w(Env("QUV_WIZARD_EXE"));
  RECT client;
  GetClientRect(w.window, &client);
  EXPECT_EQ(client.right, Px(497));
  EXPECT_EQ(client.bottom, Px(318));
  const LONG style = GetWindowLongA(w.window, GWL_STYLE);
  EXPECT_TRUE(style & WS_SYSMENU);
  EXPECT_TRUE(style & WS_MINIMIZEBOX);
  EXPECT_FALSE(style & WS_MAXIMIZEBOX);
  EXPECT_FALSE(style & WS_THICKFRAME);
  // Centred on the screen.
  RECT r = d::ScreenRect(w.window);
  EXPECT_NEAR((r.left + r.right) / 2, GetSystemMetrics(SM_CXSCREEN) / 2, 1);
  EXPECT_NEAR((r.top + r.bottom) / 2, GetSystemMetrics(SM_CYSCREEN) / 2, 1);
  // The button bar along the bottom with its three buttons; BNext first in
  // the tab order.
  HWND bar = d::Find(w.window, "TPanel", "Panel3");
  ASSERT_NE(bar, nullptr);
  RECT b = d::RectInParent(bar);
  EXPECT_NEAR(b.top, Px(282), Slack());
  EXPECT_NEAR(b.bottom - b.top, Px(36), Slack());
  EXPECT_EQ(b.right - b.left, Px(497));
  const struct {
    HWND button;
    int left;
  } buttons[] = {{w.BPre, 208}, {w.BNext, 294}, {w.BCancel, 387}};
  for (auto [button, left] : buttons) {
    RECT br = d::RectInParent(button);
    EXPECT_EQ(GetParent(button), bar);
    EXPECT_EQ(br.left, Px(left));
    EXPECT_EQ(br.top, Px(6));
    EXPECT_EQ(br.right - br.left, Px(85));
    EXPECT_EQ(br.bottom - br.top, Px(25));
  }
  auto order = d::FindAll(bar, "Button");
  ASSERT_EQ(order.size(), 3u);
  EXPECT_EQ(order[0], w.BNext);
  EXPECT_EQ(order[1], w.BPre);
  EXPECT_EQ(order[2], w.BCancel);
  // The four sheets exist, each page panel belonging to one of them or to the window.
  HWND tabs = d::Find(w.window, "SysTabControl32");
  ASSERT_NE(tabs, nullptr);
  EXPECT_EQ(SendMessageA(tabs, TCM_GETITEMCOUNT, 0, 0), 4);
  for (const char* sheet : {"TabSheet1", "TabSheet2", "TabSheet3", "TabSheet4"}) {
    EXPECT_NE(d::Find(tabs, "TTabSheet", sheet), nullptr) << sheet;
  }
  EXPECT_EQ(SendMessageA(tabs, TCM_GETCURSEL, 0, 0), 0);
}

TEST(Wizard, WalkthroughWithTheDefaultFolder) {
  Wizard w(Env("QUV_WIZARD_EXE"));
  // Page 0 at start.
  ExpectWelcomePage(w);
  EXPECT_BUTTON(w.BPre, kBack, true, false);
  EXPECT_BUTTON(w.BNext, kNext, true, true);
  EXPECT_BUTTON(w.BCancel, kCancel, true, true);
  w.Screenshot("page0-welcome");
  // The disabled Back button does nothing.
  d::Click(w.BPre);
  EXPECT_EQ(w.ShownPage(), "Panel2");

  // Page 1.
  d::Click(w.BNext);
  ASSERT_TRUE(w.WaitForPage("Panel5")) << w.ShownPage();
  ExpectFolderPage(w);
  EXPECT_BUTTON(w.BPre, kBack, true, true);
  EXPECT_BUTTON(w.BNext, kNext, true, true);
  EXPECT_BUTTON(w.BCancel, kCancel, true, true);
  w.Screenshot("page1-folder");

  // Back to page 0: its panel is on top again, page 1's stays beneath.
  d::Click(w.BPre);
  ASSERT_TRUE(w.WaitForPage("Panel2")) << w.ShownPage();
  EXPECT_BUTTON(w.BPre, kBack, true, false);
  EXPECT_BUTTON(w.BNext, kNext, true, true);
  EXPECT_BUTTON(w.BCancel, kCancel, true, true);
  EXPECT_EQ(GetParent(w.Panel("Panel5")), w.window);
  ExpectWelcomePage(w);

  // And Next again: page 1's panel is the one on top once more.
  d::Click(w.BNext);
  ASSERT_TRUE(w.WaitForPage("Panel5")) << w.ShownPage();
  ExpectFolderPage(w);
  EXPECT_BUTTON(w.BPre, kBack, true, true);

  // Next with the default folder: through the installing page to the finish page.
  d::Click(w.BNext);
  ASSERT_TRUE(w.WaitForPage("Panel15")) << w.ShownPage();
  EXPECT_TRUE(d::WaitUntil([&] { return d::Focused(w.window) == w.BNext; }));
  ExpectFinishPage(w);
  w.Screenshot("page3-finish");

  // The finish button closes the window and the program ends.
  d::Click(w.BNext);
  EXPECT_TRUE(w.program().WaitForExit());
}

TEST(Wizard, KeyboardMnemonicsMoveThroughThePages) {
  Wizard w(Env("QUV_WIZARD_EXE"));
  SetForegroundWindow(w.window);
  d::PressKey('N', true);
  ASSERT_TRUE(w.WaitForPage("Panel5")) << w.ShownPage();
  d::PressKey('P', true);
  ASSERT_TRUE(w.WaitForPage("Panel2")) << w.ShownPage();
  d::PressKey('C', true);
  EXPECT_TRUE(w.program().WaitForExit());
}

TEST(Wizard, InstallingPageWhileTheRunWorks) {
  InstallGate gate;
  Wizard w(Env("QUV_WIZARD_HELD_EXE"));
  w.GoToFolderPage();
  d::Click(w.BNext);
  ASSERT_TRUE(w.WaitForPage("Panel12")) << w.ShownPage();
  ExpectInstallingPage(w);
  EXPECT_FALSE(d::Visible(w.BPre));
  EXPECT_FALSE(d::Visible(w.BNext));
  EXPECT_BUTTON(w.BCancel, kCancel, true, false);
  w.Screenshot("page2-installing");
  // The disabled Cancel does nothing.
  d::Click(w.BCancel);
  EXPECT_TRUE(w.program().Running());
  EXPECT_EQ(w.ShownPage(), "Panel12");

  // When the run ends the finish page follows by itself.
  gate.Release();
  ASSERT_TRUE(w.WaitForPage("Panel15")) << w.ShownPage();
  EXPECT_TRUE(d::WaitUntil([&] { return d::Focused(w.window) == w.BNext; }));
  ExpectFinishPage(w);
  EXPECT_TRUE(d::Visible(w.window));

  // The title-bar close is the finish button there.
  d::ClickTitleBarClose(w.window);
  EXPECT_TRUE(w.program().WaitForExit(20000ms));
}

TEST(Wizard, CancelClosesOnTheFirstTwoPages) {
  {
    Wizard w(Env("QUV_WIZARD_EXE"));
    d::Click(w.BCancel);
    EXPECT_TRUE(w.program().WaitForExit());
  }
  {
    Wizard w(Env("QUV_WIZARD_EXE"));
    w.GoToFolderPage();
    d::Click(w.BCancel);
    EXPECT_TRUE(w.program().WaitForExit());
  }
}

TEST(Wizard, TitleBarCloseOnEveryPage) {
  {
    SCOPED_TRACE("page 0");
    Wizard w(Env("QUV_WIZARD_EXE"));
    d::ClickTitleBarClose(w.window);
    EXPECT_TRUE(w.program().WaitForExit());
  }
  {
    SCOPED_TRACE("page 1");
    Wizard w(Env("QUV_WIZARD_EXE"));
    w.GoToFolderPage();
    d::ClickTitleBarClose(w.window);
    EXPECT_TRUE(w.program().WaitForExit());
  }
  {
    SCOPED_TRACE("page 2, during the run");
    InstallGate gate;
    Wizard w(Env("QUV_WIZARD_HELD_EXE"));
    w.GoToFolderPage();
    d::Click(w.BNext);
    ASSERT_TRUE(w.WaitForPage("Panel12")) << w.ShownPage();
    d::ClickTitleBarClose(w.window);
    // Asked first; the run stops at its next file.
    HWND box = w.program().WaitForTopWindow("#32770", kTitle);
    ASSERT_NE(box, nullptr);
    EXPECT_NE(d::Find(box, "Static", "安装尚未完成. 确实要退出安装吗?\r\n\r\n安装程序将撤销已做的更改, 恢复安装前的状态."),
              nullptr);
    d::Click(GetDlgItem(box, IDYES));
    gate.Release();
    EXPECT_TRUE(w.program().WaitForExit(20000ms));
  }
  {
    SCOPED_TRACE("page 3");
    Wizard w(Env("QUV_WIZARD_EXE"));
    w.GoToFolderPage();
    d::Click(w.BNext);
    ASSERT_TRUE(w.WaitForPage("Panel15")) << w.ShownPage();
    d::ClickTitleBarClose(w.window);
    EXPECT_TRUE(w.program().WaitForExit(20000ms));
  }
}

TEST(Wizard, EnterPressesTheFocusedButton) {
  Wizard w(Env("QUV_WIZARD_EXE"));
  SetForegroundWindow(w.window);
  d::PressKey(VK_RETURN);
  ASSERT_TRUE(w.WaitForPage("Panel5")) << w.ShownPage();
  // Back has the focus after Tab from Next: Enter goes back.
  d::PressKey(VK_TAB);
  ASSERT_TRUE(d::WaitUntil([&] { return d::Focused(w.window) == w.BPre; }));
  d::PressKey(VK_RETURN);
  ASSERT_TRUE(w.WaitForPage("Panel2")) << w.ShownPage();
  d::PressKey(VK_RETURN);
  ASSERT_TRUE(w.WaitForPage("Panel5")) << w.ShownPage();
  // From the folder box, Enter is Next: the run, then the finish button.
  d::Click(d::Find(w.window, "Edit"));
  d::PressKey(VK_RETURN);
  ASSERT_TRUE(w.WaitForPage("Panel15")) << w.ShownPage();
  ASSERT_TRUE(d::WaitUntil([&] { return d::Focused(w.window) == w.BNext; }));
  d::PressKey(VK_RETURN);
  EXPECT_TRUE(w.program().WaitForExit(20000ms));
}

TEST(Wizard, FolderBoxKeepsWhatIsTyped) {
  Wizard w(Env("QUV_WIZARD_EXE"));
  w.GoToFolderPage();
  HWND box = d::Find(w.window, "Edit");
  ASSERT_NE(box, nullptr);
  const std::string folder = "D:\\新文件夹\\收银 Quv";
  d::TypeInto(box, folder);
  EXPECT_EQ(d::TextOf(box), folder);
  // Back and Next again: the text stays.
  d::Click(w.BPre);
  ASSERT_TRUE(w.WaitForPage("Panel2"));
  d::Click(w.BNext);
  ASSERT_TRUE(w.WaitForPage("Panel5"));
  EXPECT_EQ(d::TextOf(box), folder);
}

// The picker dialog the browse button opens, or null.
HWND WaitForPicker(Wizard& w) {
  return w.program().WaitForTopWindow("#32770");
}

TEST(Wizard, FolderPickerPreselectsAnExistingFolderAndReturnsIt) {
  Wizard w(Env("QUV_WIZARD_EXE"));
  w.GoToFolderPage();
  HWND box = d::Find(w.window, "Edit");
  HWND browse = d::Find(w.window, "Button", "浏览(&B)...");
  ASSERT_NE(browse, nullptr);
  char buffer[MAX_PATH] = {};
  GetWindowsDirectoryA(buffer, sizeof buffer);
  const std::string windows = d::Utf8(buffer);
  d::TypeInto(box, windows);

  d::Click(browse);
  HWND picker = WaitForPicker(w);
  ASSERT_NE(picker, nullptr);
  EXPECT_EQ(GetWindow(picker, GW_OWNER), w.window);
  EXPECT_NE(d::Find(picker, "Static", "选择要安装的文件夹后按 \"确定\""), nullptr);
  // Modal to the whole application.
  EXPECT_FALSE(d::Enabled(w.window));
  HWND ok = GetDlgItem(picker, IDOK);
  ASSERT_NE(ok, nullptr);
  // The folder named in the box is selected, so it can be confirmed at once.
  ASSERT_TRUE(d::WaitUntil([&] { return d::Enabled(ok); }));
  d::Click(ok);
  ASSERT_TRUE(d::WaitUntil([&] { return !IsWindow(picker); }));
  EXPECT_TRUE(d::WaitUntil([&] { return d::Enabled(w.window); }));
  EXPECT_EQ(lstrcmpiA(d::TextOf(box).c_str(), windows.c_str()), 0) << d::TextOf(box) << " vs " << windows;
}

TEST(Wizard, FolderPickerCancelledLeavesTheBoxAlone) {
  Wizard w(Env("QUV_WIZARD_EXE"));
  w.GoToFolderPage();
  HWND box = d::Find(w.window, "Edit");
  HWND browse = d::Find(w.window, "Button", "浏览(&B)...");
  ASSERT_NE(browse, nullptr);
  // The default folder does not exist here: nothing is preselected.
  d::Click(browse);
  HWND picker = WaitForPicker(w);
  ASSERT_NE(picker, nullptr);
  EXPECT_FALSE(d::Enabled(w.window));
  HWND cancel = GetDlgItem(picker, IDCANCEL);
  ASSERT_NE(cancel, nullptr);
  d::Click(cancel);
  ASSERT_TRUE(d::WaitUntil([&] { return !IsWindow(picker); }));
  EXPECT_TRUE(d::WaitUntil([&] { return d::Enabled(w.window); }));
  EXPECT_EQ(d::TextOf(box), kDefaultFolder);
  // The wizard goes on as before.
  EXPECT_BUTTON(w.BNext, kNext, true, true);
  d::Click(w.BCancel);
  EXPECT_TRUE(w.program().WaitForExit());
}

}  // namespace
