// The window's texts are written here in UTF-8; the compiler stores them as
// GBK (-fexec-charset=GBK), and they reach the screen through the ANSI API,
// which reads them in the system code page 936.
#include "app/WizardWindow.h"

#include <commctrl.h>

#include <exception>

#include "app/Controls.h"
#include "app/FolderPicker.h"
#include "app/Jpeg.h"
#include "app/Text.h"
#include "install/FolderSecurity.h"
#include "zip/Exception.h"

namespace quv {

const char* const kApplicationTitle = "安装Quv服务程序";

namespace {

constexpr const char* kMainClass = "TfStep";
constexpr const char* kNextCaption = "下一步(&N) >>";
constexpr const char* kFinishCaption = "完成(&F)";
constexpr const char* kCancelCaption = "取消(&C)";
constexpr const char* kCloseCaption = "关闭(&C)";
constexpr const char* kConfirmClose =
    "安装尚未完成. 确实要退出安装吗?\r\n\r\n安装程序将撤销已做的更改, 恢复安装前的状态.";

// Control identifiers of the buttons and the folder box (above IDOK and
// IDCANCEL, which the dialog keys send).
enum : int { kIdBNext = 100, kIdBPre, kIdBCancel, kIdButton1, kIdEInstallFolder };

// Layout sizes at 96 dpi.
constexpr int kClientWidth = 497;
constexpr int kClientHeight = 318;
constexpr int kBarHeight = 36;
constexpr int kPageHeight = kClientHeight - kBarHeight;  // 282
constexpr int kHeaderHeight = 55;
constexpr int kSidePictureWidth = 169;

}  // namespace

void ShowErrorBox(HWND owner, const std::string& message) {
  if (owner && !IsWindowVisible(owner)) owner = nullptr;
  MessageBoxA(owner, ErrorBoxText(message).c_str(), kApplicationTitle, MB_OK | MB_ICONERROR);
}

TfStep::TfStep(HINSTANCE instance) : instance_(instance) {
  static const bool registered = [instance] {
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.hIcon = static_cast<HICON>(LoadImageA(instance, "MAINICON", IMAGE_ICON, GetSystemMetrics(SM_CXICON),
                                             GetSystemMetrics(SM_CYICON), 0));
    wc.hIconSm = static_cast<HICON>(LoadImageA(instance, "MAINICON", IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                               GetSystemMetrics(SM_CYSMICON), 0));
    wc.lpszClassName = kMainClass;
    RegisterClassExA(&wc);
    RegisterControlClasses(instance);
    return true;
  }();
  (void)registered;

  font_ = CreateFontA(-Px(12), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, GB2312_CHARSET, OUT_DEFAULT_PRECIS,
                      CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, "宋体");
  boldFont_ = CreateFontA(-Px(12), 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, GB2312_CHARSET, OUT_DEFAULT_PRECIS,
                          CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, "宋体");
  sidePicture_ = LoadJpegResource(instance, "SIDE");
  headerPicture_ = static_cast<HBITMAP>(LoadImageA(instance, "HEADER", IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
  icon_ = static_cast<HICON>(LoadImageA(instance, "MAINICON", IMAGE_ICON, 32, 32, 0));
  if (!headerPicture_ || !icon_) throw Exception("Resource not found");

  // Single border, system menu and minimise box only; centred on the screen.
  const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
  RECT frame{0, 0, Px(kClientWidth), Px(kClientHeight)};
  AdjustWindowRectEx(&frame, style, FALSE, 0);
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  const int x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
  const int y = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
  c.fStep = CreateWindowExA(WS_EX_CONTROLPARENT, kMainClass, kApplicationTitle, style, x, y, width, height, nullptr,
                            nullptr, instance, this);
  if (!c.fStep) throw Exception("Error creating window");
  CreateLayout();
  CreateUnZipIt();
  FormCreate();
}

TfStep::~TfStep() {
  // An installation still open here is rolled back by its destructor, with
  // no more questions.
  rollingBack_ = true;
  transaction_.reset();
  if (c.fStep) {
    SetWindowLongPtrA(c.fStep, GWLP_USERDATA, 0);
    DestroyWindow(c.fStep);
  }
  if (font_) DeleteObject(font_);
  if (boldFont_) DeleteObject(boldFont_);
  if (sidePicture_) DeleteObject(sidePicture_);
  if (headerPicture_) DeleteObject(headerPicture_);
  if (icon_) DestroyIcon(icon_);
}

void TfStep::Show() {
  ShowWindow(c.fStep, SW_SHOW);
  UpdateWindow(c.fStep);
  SetFocus(c.BNext);
}

void TfStep::Close() { PostQuitMessage(0); }

std::string TfStep::InstallFolder() const {
  const int n = GetWindowTextLengthA(c.EInstallFolder);
  std::string text(static_cast<std::size_t>(n) + 1, '\0');
  const int got = GetWindowTextA(c.EInstallFolder, text.data(), n + 1);
  text.resize(static_cast<std::size_t>(got > 0 ? got : 0));
  return text;
}

// ---- layout -------------------------------------------------------------------

namespace {
// The size an auto-sized label takes for text: a single line as wide as its
// text; a wrapped text (width given) keeps its width and takes the height its
// lines need in the font at hand, at least the layout's height.
SIZE LabelSize(HWND parent, HFONT font, const char* text, int width, int height) {
  HDC dc = GetDC(parent);
  HGDIOBJ old = SelectObject(dc, font);
  RECT r{0, 0, width ? Px(width) : 0, 0};
  DrawTextA(dc, text, -1, &r, DT_CALCRECT | DT_NOCLIP | (width ? DT_WORDBREAK : DT_SINGLELINE));
  TEXTMETRICA tm{};
  GetTextMetricsA(dc, &tm);
  SelectObject(dc, old);
  ReleaseDC(parent, dc);
  if (width) {
    r.right = Px(width);
    r.bottom = r.bottom > Px(height) ? r.bottom : Px(height);
  }
  if (r.bottom == 0) r.bottom = tm.tmHeight;
  // A single-line label never wraps, and gets one average character of
  // room to spare: with a substitute font (Wine's for 宋体) the control can
  // draw the text a little wider than DrawText measured it. The label's
  // background is its panel's, so the spare room is not seen.
  const int spare = width ? 0 : tm.tmAveCharWidth + 1;
  return SIZE{r.right + spare, r.bottom};
}
}  // namespace

HWND TfStep::Label(HWND parent, int x, int y, const char* text, bool bold, int width, int height) {
  HFONT font = bold ? boldFont_ : font_;
  const SIZE size = LabelSize(parent, font, text, width, height);
  const DWORD wrap = width ? SS_LEFT : SS_LEFTNOWORDWRAP;
  HWND label = CreateWindowExA(0, "STATIC", text, WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | wrap, Px(x), Px(y),
                               size.cx, size.cy, parent, nullptr, instance_, nullptr);
  SendMessageA(label, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
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

HWND TfStep::Button(HWND parent, int id, int x, int y, int width, int height, const char* text) {
  HWND button = CreateWindowExA(0, "BUTTON", text, WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, Px(x),
                                Px(y), Px(width), Px(height), parent,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance_, nullptr);
  SendMessageA(button, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
  return button;
}

void TfStep::CreateLayout() {
  SendMessageA(c.fStep, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);

  // The button bar along the bottom. BNext is made first: it comes first in
  // the tab order, before BPre and BCancel.
  c.Panel3 = CreatePanel(c.fStep, kPanelClass, "Panel3", COLOR_BTNFACE, false, 0, Px(kPageHeight),
                         Px(kClientWidth), Px(kBarHeight));
  c.Bevel1 = CreateBevel(c.Panel3, 0, 0, Px(kClientWidth), Px(6));
  SetAlign(c.Bevel1, Align::Top);
  c.BNext = Button(c.Panel3, kIdBNext, 294, 6, 85, 25, kNextCaption);
  c.BPre = Button(c.Panel3, kIdBPre, 208, 6, 85, 25, "<< 上一步(&P)");
  c.BCancel = Button(c.Panel3, kIdBCancel, 387, 6, 85, 25, kCancelCaption);

  // The page control above it: flat-button, multi-line tabs, one sheet per page.
  c.PageControl1 = CreateWindowExA(
      WS_EX_CONTROLPARENT, WC_TABCONTROLA, "",
      WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN | TCS_BUTTONS | TCS_FLATBUTTONS | TCS_MULTILINE, 0,
      0, Px(kClientWidth), Px(kPageHeight), c.fStep, nullptr, instance_, nullptr);
  SendMessageA(c.PageControl1, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
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
  CreatePage0();
  CreatePage1();
  CreatePage2();
  CreatePage3();
}

namespace {
// A page's panel fills its sheet.
HWND PagePanel(HWND sheet, const char* name, int colorIndex) {
  RECT r;
  GetClientRect(sheet, &r);
  HWND panel = CreatePanel(sheet, kPanelClass, name, colorIndex, false, 0, 0, r.right, r.bottom);
  SetAlign(panel, Align::Client);
  return panel;
}
}  // namespace

void TfStep::CreatePage0() {
  c.Panel2 = PagePanel(c.TabSheet[0], "Panel2", COLOR_WINDOW);
  RECT r;
  GetClientRect(c.Panel2, &r);
  c.Image1 = CreateImage(c.Panel2, sidePicture_, nullptr, 0, 0, Px(kSidePictureWidth), r.bottom);
  SetAlign(c.Image1, Align::Left);
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
  panel = CreatePanel(page, kPanelClass, name, COLOR_WINDOW, true, 0, 0, r.right, Px(kHeaderHeight));
  SetAlign(panel, Align::Top);
  title = Label(panel, 6, 6, titleText, true);
  subtitle = Label(panel, 24, 32, subtitleText, false);
  image = CreateImage(panel, headerPicture_, nullptr, 0, 0, Px(60), Px(53));
  SetAlign(image, Align::Right);
  AlignChildren(panel);
}

void TfStep::CreatePage1() {
  c.Panel5 = PagePanel(c.TabSheet[1], "Panel5", COLOR_BTNFACE);
  CreatePageHeader(c.Panel5, "Panel9", "请选择安装文件夹", "您想要把服务程序安装到哪里？", c.Panel9,
                   c.LSelectInstallFolder1, c.LSelectInstallFolder2, c.Image3);

  c.Image4 = CreateImage(c.Panel5, nullptr, icon_, Px(23), Px(70), Px(34), Px(35));
  c.LSelectInstallFolder3 = Label(c.Panel5, 68, 68, "安装程序将安装 Quv程序 到下面文件夹", false);
  c.Label7 = Label(c.Panel5, 68, 90, "如果要继续请按 \"下一步\"  如果您想要安装到其它文件夹请按 \"浏览\"", false);
  // Browse comes before the folder box in the tab order.
  c.Button1 = Button(c.Panel5, kIdButton1, 378, 122, 79, 23, "浏览(&B)...");
  c.EInstallFolder = CreateWindowExA(
      WS_EX_CLIENTEDGE, "EDIT", DefaultInstallFolder().c_str(), WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL,
      Px(24), Px(122), Px(345), Px(20), c.Panel5, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kIdEInstallFolder)),
      instance_, nullptr);
  SendMessageA(c.EInstallFolder, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
  // Below the sheet's bottom edge: seen only once the panel is on the window.
  c.LDiskRequire = Label(c.Panel5, 24, 268, "程序需要至少10 MB 的磁盘空间.", false);
}

void TfStep::CreatePage2() {
  c.Panel12 = PagePanel(c.TabSheet[2], "Panel12", COLOR_BTNFACE);
  CreatePageHeader(c.Panel12, "Panel13", "正在安装", "请稍候...安装程序正在将 服务程序 安装到您的电脑中.", c.Panel13,
                   c.Label13, c.LInstallingMsg, c.Image7);

  c.EInstallProcess = Label(c.Panel12, 24, 70, "解压文件...", false);
  c.LExtractFilesInfo = Label(c.Panel12, 32, 96, "", false);
  // The installation run moves the bar with the extraction (WizardInstall.cpp).
  c.ProgressBar1 = CreateWindowExA(0, PROGRESS_CLASSA, "", WS_CHILD | WS_VISIBLE | PBS_SMOOTH, Px(24), Px(122),
                                   Px(433), Px(19), c.Panel12, nullptr, instance_, nullptr);
  SendMessageA(c.ProgressBar1, PBM_SETRANGE32, 0, 100);
  SendMessageA(c.ProgressBar1, PBM_SETPOS, 50, 0);
}

void TfStep::CreatePage3() {
  c.Panel15 = PagePanel(c.TabSheet[3], "Panel15", COLOR_WINDOW);
  RECT r;
  GetClientRect(c.Panel15, &r);
  c.Image8 = CreateImage(c.Panel15, sidePicture_, nullptr, 0, 0, Px(kSidePictureWidth), r.bottom);
  SetAlign(c.Image8, Align::Left);
  c.LFinishInstallMsg1 = Label(c.Panel15, 178, 12, "正在完成 Quv 服务程序的安装", true);
  c.LFinishInstallMsg2 = Label(c.Panel15, 178, 42,
                               "安装程序已经成功地将Quv程序安装到您的电脑中,\r\n\r\n"
                               "您可以通过按程序的图标来启动执行应用程序\r\n\r\n"
                               "按下 \"完成\" 以结束安装",
                               false, 270, 60);
}

// ---- pages --------------------------------------------------------------------

const TfStep::PageRule& TfStep::RuleOf(Page page) {
  using S = Shown;
  // Indexed by Page. The finish page's close is its finish button; the
  // Failed page is the installing page's panel saying what happened.
  static const PageRule kRules[] = {
      {0, S::Disabled, S::Enabled, S::Enabled, kNextCaption, kCancelCaption, &TfStep::GoToFolderPage},
      {1, S::Enabled, S::Enabled, S::Enabled, kNextCaption, kCancelCaption, &TfStep::StartInstallation},
      {2, S::Hidden, S::Hidden, S::Disabled, kNextCaption, kCancelCaption, nullptr},
      {3, S::Hidden, S::Enabled, S::Hidden, kFinishCaption, kCancelCaption, &TfStep::FinishAction},
      {2, S::Hidden, S::Hidden, S::Enabled, kNextCaption, kCloseCaption, nullptr},
  };
  return kRules[static_cast<int>(page)];
}

void TfStep::SetActivePage(int index) {
  SendMessageA(c.PageControl1, TCM_SETCURSEL, static_cast<WPARAM>(index), 0);
  for (int i = 0; i < kPageCount; ++i) {
    ShowWindow(c.TabSheet[static_cast<std::size_t>(i)], i == index ? SW_SHOW : SW_HIDE);
  }
}

void TfStep::ShowPage(int index) {
  const PageEntry& entry = PageTable[static_cast<std::size_t>(index)];
  if (GetParent(entry.panel) != entry.sheet) {
    SetParent(entry.panel, entry.sheet);
    AlignChildren(entry.sheet);
  }
  ShowPagePanel(index);
}

void TfStep::ShowPagePanel(int index) {
  HWND panel = GetWindow(c.TabSheet[static_cast<std::size_t>(index)], GW_CHILD);
  char cls[32] = {};
  if (panel && GetClassNameA(panel, cls, sizeof cls) && lstrcmpA(cls, kPanelClass) == 0) {
    // Onto the window, over the panels shown before (which stay beneath),
    // filling the area above the button bar.
    SetParent(panel, c.fStep);
    SetWindowPos(panel, HWND_TOP, 0, 0, Px(kClientWidth), Px(kPageHeight), SWP_SHOWWINDOW);
    ShowWindow(panel, SW_SHOW);
  }
  EnableWindow(c.BNext, TRUE);
}

namespace {
void ShowButton(HWND button, bool shown, bool enabled, const char* caption) {
  SetWindowTextA(button, caption);
  EnableWindow(button, enabled);
  ShowWindow(button, shown ? SW_SHOW : SW_HIDE);
}
}  // namespace

void TfStep::GoTo(Page page) {
  const PageRule& rule = RuleOf(page);
  page_ = page;
  SetActivePage(rule.sheet);
  ShowPage(rule.sheet);
  ShowButton(c.BPre, rule.pre != Shown::Hidden, rule.pre == Shown::Enabled, "<< 上一步(&P)");
  ShowButton(c.BNext, rule.next != Shown::Hidden, rule.next == Shown::Enabled, rule.nextCaption);
  ShowButton(c.BCancel, rule.cancel != Shown::Hidden, rule.cancel == Shown::Enabled, rule.cancelCaption);
  // The focus on the page's first usable button; the run keeps it nowhere.
  if (rule.next == Shown::Enabled) {
    SetFocus(c.BNext);
  } else if (rule.cancel == Shown::Enabled) {
    SetFocus(c.BCancel);
  }
  // Painted whole now: the run keeps the message loop busy after this.
  RedrawWindow(c.fStep, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
}

void TfStep::GoToFolderPage() { GoTo(Page::Folder); }

// ---- events -------------------------------------------------------------------

void TfStep::FormCreate() {
  for (int i = 0; i < kPageCount; ++i) {
    HWND sheet = c.TabSheet[static_cast<std::size_t>(i)];
    PageTable[static_cast<std::size_t>(i)] = PageEntry{sheet, GetWindow(sheet, GW_CHILD)};
  }
  GoTo(Page::Welcome);
  InstalledFiles.clear();
}

void TfStep::BNextClick() {
  const PageRule& rule = RuleOf(page_);
  if (Busy() || rule.next != Shown::Enabled || !rule.nextAction) return;
  (this->*rule.nextAction)();
}

void TfStep::BPreClick() {
  if (!Busy() && RuleOf(page_).pre == Shown::Enabled) GoTo(static_cast<Page>(static_cast<int>(page_) - 1));
}

void TfStep::CloseRequest() {
  if (rollingBack_ || cancelConfirmed_) return;
  if (working_ && noCancel_) return;
  if (working_) {
    // Unattended: no question that nobody would answer.
    if (unattended_) {
      cancelConfirmed_ = true;
      return;
    }
    // Answered inside the run's own message processing: the run waits.
    if (MessageBoxA(c.fStep, kConfirmClose, kApplicationTitle, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES)
      cancelConfirmed_ = true;
    return;
  }
  if (page_ == Page::Finish) {
    FinishAction();
    return;
  }
  Close();
}

void TfStep::EnterPressed() {
  if (Busy()) return;
  HWND focus = GetFocus();
  for (HWND button : {c.BNext, c.BPre, c.BCancel, c.Button1}) {
    if (focus != button) continue;
    if (IsWindowVisible(button) && IsWindowEnabled(button)) OnCommand(GetDlgCtrlID(button), BN_CLICKED);
    return;
  }
  // From the folder box (or nowhere): Next, as a dialog's default button.
  if (IsWindowVisible(c.BNext) && IsWindowEnabled(c.BNext)) BNextClick();
}

void TfStep::BCancelClick() { Close(); }

void TfStep::Button1Click() {
  std::string chosen;
  if (BrowseForFolder(c.fStep, "选择要安装的文件夹后按 \"确定\"", InstallFolder(), chosen)) {
    SetWindowTextA(c.EInstallFolder, chosen.c_str());
  }
}

// ---- messages -----------------------------------------------------------------

void TfStep::OnCommand(int id, int code) {
  if (code != BN_CLICKED) return;
  switch (id) {
    case kIdBNext: BNextClick(); break;
    case kIdBPre: BPreClick(); break;
    case kIdBCancel: BCancelClick(); break;
    case kIdButton1: Button1Click(); break;
    default: break;
  }
}

LRESULT TfStep::HandleMessage(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_COMMAND:
      // The controls' clicks; Enter sends IDOK without a control (no button
      // of this plain window carries the default style). Esc's IDCANCEL is
      // not used.
      if (lp) {
        OnCommand(LOWORD(wp), HIWORD(wp));
      } else if (LOWORD(wp) == IDOK) {
        EnterPressed();
      }
      return 0;
    case WM_CLOSE:
      CloseRequest();
      return 0;
    case WM_QUERYENDSESSION:
      // Not while the run changes the machine: a logoff now would leave it
      // half installed.
      return Busy() ? FALSE : TRUE;
    case WM_ENDSESSION:
      if (wp && Busy()) EndSessionDuringRun();
      return 0;
    default:
      return DefWindowProcA(c.fStep, msg, wp, lp);
  }
}

LRESULT CALLBACK TfStep::WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NCCREATE) {
    auto* self = static_cast<TfStep*>(reinterpret_cast<CREATESTRUCTA*>(lp)->lpCreateParams);
    self->c.fStep = hwnd;
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<TfStep*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  if (!self) return DefWindowProcA(hwnd, msg, wp, lp);
  // The application's default handler: an error that leaves a handler is
  // shown in a box (logged only, unattended) and the program goes on where
  // it stands.
  try {
    return self->HandleMessage(msg, wp, lp);
  } catch (const std::exception& e) {
    self->HandlerFailed(e.what());
  } catch (...) {
    self->HandlerFailed("Unknown error");
  }
  return 0;
}

void TfStep::HandlerFailed(const std::string& message) {
  Note(message);
  if (!unattended_) ShowErrorBox(c.fStep, message);
}

}  // namespace quv
