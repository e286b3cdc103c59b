// The wizard window: its class and life, the page table and the navigation
// through it, and its messages.
//
// The window's texts are written here in UTF-8; the compiler stores them as
// GBK (-fexec-charset=GBK), and they reach the screen through the ANSI API,
// which reads them in the system code page 936.
#include "app/WizardWindow.h"

#include <commctrl.h>

#include <exception>

#include "app/FolderPicker.h"
#include "app/Jpeg.h"
#include "app/Text.h"
#include "zip/Exception.h"

namespace quv {

const char* const kApplicationTitle = "安装Quv服务程序";

namespace {

constexpr const char* kMainClass = "TfStep";
constexpr const char* kConfirmClose =
    "安装尚未完成. 确实要退出安装吗?\r\n\r\n安装程序将撤销已做的更改, 恢复安装前的状态.";

HICON LoadIconSized(HINSTANCE instance, int widthMetric, int heightMetric) {
  return static_cast<HICON>(LoadImageA(instance, "MAINICON", IMAGE_ICON, GetSystemMetrics(widthMetric),
                                       GetSystemMetrics(heightMetric), 0));
}

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
    wc.hIcon = LoadIconSized(instance, SM_CXICON, SM_CYICON);
    wc.hIconSm = LoadIconSized(instance, SM_CXSMICON, SM_CYSMICON);
    wc.lpszClassName = kMainClass;
    RegisterClassExA(&wc);
    RegisterControlClasses(instance);
    return true;
  }();
  (void)registered;

  sidePicture_ = LoadJpegResource(instance, "SIDE");
  headerPicture_ = static_cast<HBITMAP>(LoadImageA(instance, "HEADER", IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
  icon_ = static_cast<HICON>(LoadImageA(instance, "MAINICON", IMAGE_ICON, 32, 32, 0));
  if (!headerPicture_ || !icon_) throw Exception("Resource not found");

  // Single border, system menu and minimise box only. Made first and sized
  // after: the layout's scale is the window's own resolution.
  const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
  c.fStep = CreateWindowExA(WS_EX_CONTROLPARENT, kMainClass, kApplicationTitle, style, 0, 0, 0, 0, nullptr, nullptr,
                            instance, this);
  if (!c.fStep) throw Exception("Error creating window");
  scale_ = LayoutScale::Of(c.fStep);
  SizeAndCentre();
  CreateFonts();
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

// ---- pages --------------------------------------------------------------------

const TfStep::PageRule& TfStep::RuleOf(Page page) {
  using S = Shown;
  using P = Page;
  // Indexed by Page. The run leaves the folder page for the finish page by
  // way of the installing page; the finish action closes the window. The
  // Failed page is the installing page's panel saying what happened.
  static const PageRule kRules[] = {
      {0, S::Disabled, S::Enabled, S::Enabled, kNextCaption, kCancelCaption, P::Welcome, P::Folder, nullptr},
      {1, S::Enabled, S::Enabled, S::Enabled, kNextCaption, kCancelCaption, P::Welcome, P::Finish,
       &TfStep::StartInstallation},
      {2, S::Hidden, S::Hidden, S::Disabled, kNextCaption, kCancelCaption, P::Installing, P::Installing, nullptr},
      {3, S::Hidden, S::Enabled, S::Hidden, kFinishCaption, kCancelCaption, P::Finish, P::Finish,
       &TfStep::FinishAction},
      {2, S::Hidden, S::Hidden, S::Enabled, kNextCaption, kCloseCaption, P::Failed, P::Failed, nullptr},
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
    // Onto the window, over the panels shown before (which stay beneath);
    // client-aligned, it fills the area above the button bar.
    SetParent(panel, c.fStep);
    SetWindowPos(panel, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
    AlignChildren(c.fStep);
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
  ShowButton(c.BPre, rule.pre != Shown::Hidden, rule.pre == Shown::Enabled, kBackCaption);
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
  if (Busy() || rule.next != Shown::Enabled) return;
  if (rule.leaveBy && !(this->*rule.leaveBy)()) return;
  if (rule.forward != page_) GoTo(rule.forward);
}

void TfStep::BPreClick() {
  const PageRule& rule = RuleOf(page_);
  if (!Busy() && rule.pre == Shown::Enabled) GoTo(rule.back);
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
