// The wizard's controls: the button bar, the page control with its sheets,
// and the four pages' panels. Positions and sizes are the layout's, in
// pixels at 96 dpi; the helpers below turn them into the window's pixels
// through its one scale.
//
// The window's texts are written here in UTF-8; the compiler stores them as
// GBK (-fexec-charset=GBK), and they reach the screen through the ANSI API,
// which reads them in the system code page 936.
#include "app/WizardWindow.h"

#include <commctrl.h>

#include "install/FolderSecurity.h"
#include "zip/Exception.h"

namespace quv {

namespace {
constexpr int kClientWidth = 497;
constexpr int kClientHeight = 318;
constexpr int kBarHeight = 36;
constexpr int kPageHeight = kClientHeight - kBarHeight;  // 282
constexpr int kHeaderHeight = 55;
constexpr int kSidePictureWidth = 169;
constexpr int kFontHeight = 12;

HFONT CreateSongFont(int height, int weight) {
  return CreateFontA(-height, 0, 0, 0, weight, FALSE, FALSE, FALSE, GB2312_CHARSET, OUT_DEFAULT_PRECIS,
                     CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, "宋体");
}

void SetFont(HWND control, HFONT font) { SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE); }

// The size an auto-sized label takes for text: a single line as wide as its
// text; a wrapped text (width given) keeps its width and takes the height its
// lines need in the font at hand, at least the layout's height. Sizes in the
// window's pixels.
SIZE LabelSize(HWND parent, HFONT font, const char* text, int width, int height) {
  HDC dc = GetDC(parent);
  HGDIOBJ old = SelectObject(dc, font);
  RECT r{0, 0, width, 0};
  DrawTextA(dc, text, -1, &r, DT_CALCRECT | DT_NOCLIP | (width ? DT_WORDBREAK : DT_SINGLELINE));
  TEXTMETRICA tm{};
  GetTextMetricsA(dc, &tm);
  SelectObject(dc, old);
  ReleaseDC(parent, dc);
  if (width) {
    r.right = width;
    r.bottom = r.bottom > height ? r.bottom : height;
  }
  if (r.bottom == 0) r.bottom = tm.tmHeight;
  // A single-line label never wraps, and gets one average character of
  // room to spare: with a substitute font (Wine's for 宋体) the control can
  // draw the text a little wider than DrawText measured it. The label's
  // background is its panel's, so the spare room is not seen.
  const int spare = width ? 0 : tm.tmAveCharWidth + 1;
  return SIZE{r.right + spare, r.bottom};
}

// A page's panel fills its sheet.
HWND PagePanel(HWND sheet, const char* name, int colorIndex) {
  RECT r;
  GetClientRect(sheet, &r);
  HWND panel = CreatePanel(sheet, kPanelClass, name, colorIndex, false, 0, 0, r.right, r.bottom);
  SetAlign(panel, Align::Client);
  return panel;
}
}  // namespace

void TfStep::SizeAndCentre() {
  RECT frame{0, 0, scale_(kClientWidth), scale_(kClientHeight)};
  AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongA(c.fStep, GWL_STYLE)), FALSE, 0);
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  const int x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
  const int y = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
  SetWindowPos(c.fStep, nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

void TfStep::CreateFonts() {
  font_ = CreateSongFont(scale_(kFontHeight), FW_NORMAL);
  boldFont_ = CreateSongFont(scale_(kFontHeight), FW_BOLD);
  if (!font_ || !boldFont_) throw Exception("Error creating font");
}

HWND TfStep::Label(HWND parent, int x, int y, const char* text, bool bold, int width, int height) {
  HFONT font = bold ? boldFont_ : font_;
  const SIZE size = LabelSize(parent, font, text, scale_(width), scale_(height));
  const DWORD wrap = width ? SS_LEFT : SS_LEFTNOWORDWRAP;
  HWND label = CreateWindowExA(0, "STATIC", text, WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | wrap, scale_(x),
                               scale_(y), size.cx, size.cy, parent, nullptr, instance_, nullptr);
  SetFont(label, font);
  return label;
}

void TfStep::SetLabelCaption(HWND label, const std::string& text) {
  auto font = reinterpret_cast<HFONT>(SendMessageA(label, WM_GETFONT, 0, 0));
  const SIZE size = LabelSize(GetParent(label), font ? font : font_, text.c_str(), 0, 0);
  SetWindowTextA(label, text.c_str());
  SetWindowPos(label, nullptr, 0, 0, size.cx, size.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  // Painted now: the run may not let the window paint before the next change.
  UpdateWindow(label);
}

HWND TfStep::Control(HWND parent, DWORD exStyle, const char* cls, const char* text, DWORD style, int id, int x,
                     int y, int width, int height) {
  HWND control = CreateWindowExA(exStyle, cls, text, WS_CHILD | WS_VISIBLE | style, scale_(x), scale_(y),
                                 scale_(width), scale_(height), parent,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance_, nullptr);
  SetFont(control, font_);
  return control;
}

HWND TfStep::Button(HWND parent, int id, int x, int y, int width, int height, const char* text) {
  return Control(parent, 0, "BUTTON", text, WS_TABSTOP | BS_PUSHBUTTON, id, x, y, width, height);
}

void TfStep::CreateLayout() {
  SetFont(c.fStep, font_);
  CreateButtonBar();
  CreatePageControl();
  CreateWelcomePage();
  CreateFolderPage();
  CreateInstallingPage();
  CreateFinishPage();
}

// The button bar along the bottom. BNext is made first: it comes first in
// the tab order, before BPre and BCancel. Shown page panels fill the window
// above it.
void TfStep::CreateButtonBar() {
  c.Panel3 = CreatePanel(c.fStep, kPanelClass, "Panel3", COLOR_BTNFACE, false, 0, scale_(kPageHeight),
                         scale_(kClientWidth), scale_(kBarHeight));
  SetAlign(c.Panel3, Align::Bottom);
  c.Bevel1 = CreateBevel(c.Panel3, 0, 0, scale_(kClientWidth), scale_(6));
  SetAlign(c.Bevel1, Align::Top);
  c.BNext = Button(c.Panel3, kIdBNext, 294, 6, 85, 25, kNextCaption);
  c.BPre = Button(c.Panel3, kIdBPre, 208, 6, 85, 25, kBackCaption);
  c.BCancel = Button(c.Panel3, kIdBCancel, 387, 6, 85, 25, kCancelCaption);
}

// The page control above the bar: flat-button, multi-line tabs, one sheet
// per page.
void TfStep::CreatePageControl() {
  c.PageControl1 =
      Control(c.fStep, WS_EX_CONTROLPARENT, WC_TABCONTROLA, "",
              WS_CLIPSIBLINGS | WS_CLIPCHILDREN | TCS_BUTTONS | TCS_FLATBUTTONS | TCS_MULTILINE, 0, 0, 0,
              kClientWidth, kPageHeight);
  static const char* const kSheetCaptions[kPageCount] = {"TabSheet1", "TabSheet2", "TabSheet3", "TabSheet4"};
  for (int i = 0; i < kPageCount; ++i) {
    TCITEMA item{};
    item.mask = TCIF_TEXT;
    item.pszText = const_cast<char*>(kSheetCaptions[i]);
    SendMessageA(c.PageControl1, TCM_INSERTITEMA, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&item));
  }
  RECT sheet;
  GetClientRect(c.PageControl1, &sheet);
  SendMessageA(c.PageControl1, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&sheet));
  for (int i = 0; i < kPageCount; ++i) {
    c.TabSheet[static_cast<std::size_t>(i)] =
        CreatePanel(c.PageControl1, kTabSheetClass, kSheetCaptions[i], COLOR_BTNFACE, false, sheet.left, sheet.top,
                    sheet.right - sheet.left, sheet.bottom - sheet.top);
  }
}

HWND TfStep::CreateSidePicture(HWND page) {
  RECT r;
  GetClientRect(page, &r);
  HWND picture = CreateImage(page, sidePicture_, nullptr, 0, 0, scale_(kSidePictureWidth), r.bottom);
  SetAlign(picture, Align::Left);
  return picture;
}

void TfStep::CreateWelcomePage() {
  c.Panel2 = PagePanel(c.TabSheet[0], "Panel2", COLOR_WINDOW);
  c.Image1 = CreateSidePicture(c.Panel2);
  c.LWelcome1 = Label(c.Panel2, 180, 18, "欢迎使用 收银软件Quv服务 安装程序", true);
  c.LWelcome2 = Label(c.Panel2, 179, 54,
                      "    本程序将把Quv服务程序安装到您的电脑中我们强\r\n\r\n"
                      "烈建议您在安装的过程中停止执行其它的应用程序以避\r\n\r\n"
                      "免安装程序互相干扰.\r\n\r\n"
                      "按 \"下一步\" 继续安装或者按 \"取消\" 结束安装程序",
                      false, 288, 84);
}

// The white strip across the top of the folder and installing pages: a bold
// title, a subtitle and the small picture at the right edge.
void TfStep::CreatePageHeader(HWND page, const char* name, const char* titleText, const char* subtitleText,
                              HWND& panel, HWND& title, HWND& subtitle, HWND& image) {
  RECT r;
  GetClientRect(page, &r);
  panel = CreatePanel(page, kPanelClass, name, COLOR_WINDOW, true, 0, 0, r.right, scale_(kHeaderHeight));
  SetAlign(panel, Align::Top);
  title = Label(panel, 6, 6, titleText, true);
  subtitle = Label(panel, 24, 32, subtitleText, false);
  image = CreateImage(panel, headerPicture_, nullptr, 0, 0, scale_(60), scale_(53));
  SetAlign(image, Align::Right);
  AlignChildren(panel);
}

void TfStep::CreateFolderPage() {
  c.Panel5 = PagePanel(c.TabSheet[1], "Panel5", COLOR_BTNFACE);
  CreatePageHeader(c.Panel5, "Panel9", "请选择安装文件夹", "您想要把服务程序安装到哪里？", c.Panel9,
                   c.LSelectInstallFolder1, c.LSelectInstallFolder2, c.Image3);
  c.Image4 = CreateImage(c.Panel5, nullptr, icon_, scale_(23), scale_(70), scale_(34), scale_(35));
  c.LSelectInstallFolder3 = Label(c.Panel5, 68, 68, "安装程序将安装 Quv程序 到下面文件夹", false);
  c.Label7 = Label(c.Panel5, 68, 90, "如果要继续请按 \"下一步\"  如果您想要安装到其它文件夹请按 \"浏览\"", false);
  // Browse comes before the folder box in the tab order.
  c.Button1 = Button(c.Panel5, kIdButton1, 378, 122, 79, 23, "浏览(&B)...");
  c.EInstallFolder = Control(c.Panel5, WS_EX_CLIENTEDGE, "EDIT", DefaultInstallFolder().c_str(),
                             WS_TABSTOP | ES_AUTOHSCROLL, kIdEInstallFolder, 24, 122, 345, 20);
  // Below the sheet's bottom edge: seen only once the panel is on the window.
  c.LDiskRequire = Label(c.Panel5, 24, 268, "程序需要至少10 MB 的磁盘空间.", false);
}

void TfStep::CreateInstallingPage() {
  c.Panel12 = PagePanel(c.TabSheet[2], "Panel12", COLOR_BTNFACE);
  CreatePageHeader(c.Panel12, "Panel13", "正在安装", "请稍候...安装程序正在将 服务程序 安装到您的电脑中.", c.Panel13,
                   c.Label13, c.LInstallingMsg, c.Image7);
  c.EInstallProcess = Label(c.Panel12, 24, 70, "解压文件...", false);
  c.LExtractFilesInfo = Label(c.Panel12, 32, 96, "", false);
  // The installation run moves the bar with the extraction (WizardInstall.cpp).
  c.ProgressBar1 = Control(c.Panel12, 0, PROGRESS_CLASSA, "", PBS_SMOOTH, 0, 24, 122, 433, 19);
  SendMessageA(c.ProgressBar1, PBM_SETRANGE32, 0, 100);
  SendMessageA(c.ProgressBar1, PBM_SETPOS, 50, 0);
}

void TfStep::CreateFinishPage() {
  c.Panel15 = PagePanel(c.TabSheet[3], "Panel15", COLOR_WINDOW);
  c.Image8 = CreateSidePicture(c.Panel15);
  c.LFinishInstallMsg1 = Label(c.Panel15, 178, 12, "正在完成 Quv 服务程序的安装", true);
  c.LFinishInstallMsg2 = Label(c.Panel15, 178, 42,
                               "安装程序已经成功地将Quv程序安装到您的电脑中,\r\n\r\n"
                               "您可以通过按程序的图标来启动执行应用程序\r\n\r\n"
                               "按下 \"完成\" 以结束安装",
                               false, 270, 60);
}

}  // namespace quv
