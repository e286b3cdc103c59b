#include "app/Controls.h"

#include <vector>

namespace quv {

namespace {

constexpr const char* kAlignProp = "QuvAlign";

struct PanelData {
  int colorIndex;
  bool raised;
};

struct ImageData {
  HBITMAP bitmap;
  HICON icon;
};

// Panels pass their children's notifications on to the top-level window,
// where the wizard handles them.
LRESULT ForwardToTop(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  HWND top = GetAncestor(hwnd, GA_ROOT);
  return top && top != hwnd ? SendMessageA(top, msg, wp, lp) : 0;
}

// The brush the parent paints its children's background with.
HBRUSH ParentBrush(HWND hwnd, HDC dc) {
  HWND parent = GetParent(hwnd);
  auto brush = reinterpret_cast<HBRUSH>(
      SendMessageA(parent, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(hwnd)));
  return brush ? brush : GetSysColorBrush(COLOR_BTNFACE);
}

LRESULT CALLBACK PanelProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  auto* data = reinterpret_cast<PanelData*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  switch (msg) {
    case WM_NCCREATE: {
      auto* cs = reinterpret_cast<CREATESTRUCTA*>(lp);
      SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
      break;
    }
    case WM_ERASEBKGND: {
      RECT rc;
      GetClientRect(hwnd, &rc);
      HDC dc = reinterpret_cast<HDC>(wp);
      FillRect(dc, &rc, GetSysColorBrush(data ? data->colorIndex : COLOR_BTNFACE));
      if (data && data->raised) DrawEdge(dc, &rc, BDR_RAISEDINNER, BF_RECT);
      return 1;
    }
    case WM_CTLCOLORSTATIC: {
      // Labels and pictures show the panel's colour behind them.
      HDC dc = reinterpret_cast<HDC>(wp);
      const int color = data ? data->colorIndex : COLOR_BTNFACE;
      SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
      SetBkColor(dc, GetSysColor(color));
      SetBkMode(dc, TRANSPARENT);
      return reinterpret_cast<LRESULT>(GetSysColorBrush(color));
    }
    case WM_SIZE:
      AlignChildren(hwnd);
      return 0;
    case WM_COMMAND:
    case WM_NOTIFY:
      return ForwardToTop(hwnd, msg, wp, lp);
    case WM_NCDESTROY:
      RemovePropA(hwnd, kAlignProp);
      delete data;
      SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
      break;
    default:
      break;
  }
  return DefWindowProcA(hwnd, msg, wp, lp);
}

LRESULT CALLBACK ImageProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  auto* data = reinterpret_cast<ImageData*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  switch (msg) {
    case WM_NCCREATE: {
      auto* cs = reinterpret_cast<CREATESTRUCTA*>(lp);
      SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
      break;
    }
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(hwnd, &ps);
      RECT rc;
      GetClientRect(hwnd, &rc);
      FillRect(dc, &rc, ParentBrush(hwnd, dc));
      if (data && data->bitmap) {
        BITMAP bm{};
        GetObjectA(data->bitmap, sizeof bm, &bm);
        HDC mem = CreateCompatibleDC(dc);
        HGDIOBJ old = SelectObject(mem, data->bitmap);
        SetStretchBltMode(dc, HALFTONE);
        SetBrushOrgEx(dc, 0, 0, nullptr);
        StretchBlt(dc, 0, 0, rc.right, rc.bottom, mem, 0, 0, bm.bmWidth, bm.bmHeight, SRCCOPY);
        SelectObject(mem, old);
        DeleteDC(mem);
      } else if (data && data->icon) {
        DrawIconEx(dc, 0, 0, data->icon, 0, 0, 0, nullptr, DI_NORMAL);
      }
      EndPaint(hwnd, &ps);
      return 0;
    }
    case WM_NCDESTROY:
      RemovePropA(hwnd, kAlignProp);
      delete data;
      SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
      break;
    default:
      break;
  }
  return DefWindowProcA(hwnd, msg, wp, lp);
}

LRESULT CALLBACK BevelProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(hwnd, &ps);
      RECT rc;
      GetClientRect(hwnd, &rc);
      FillRect(dc, &rc, ParentBrush(hwnd, dc));
      DrawEdge(dc, &rc, EDGE_ETCHED, BF_TOP);
      EndPaint(hwnd, &ps);
      return 0;
    }
    case WM_NCDESTROY:
      RemovePropA(hwnd, kAlignProp);
      break;
    default:
      break;
  }
  return DefWindowProcA(hwnd, msg, wp, lp);
}

void Register(HINSTANCE instance, const char* name, WNDPROC proc) {
  WNDCLASSEXA wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = proc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  wc.lpszClassName = name;
  RegisterClassExA(&wc);
}

}  // namespace

void RegisterControlClasses(HINSTANCE instance) {
  Register(instance, kPanelClass, PanelProc);
  Register(instance, kTabSheetClass, PanelProc);
  Register(instance, kImageClass, ImageProc);
  Register(instance, kBevelClass, BevelProc);
}

LayoutScale LayoutScale::Of(HWND window) {
  using DpiForWindowFn = UINT(WINAPI*)(HWND);
  const auto dpiForWindow = reinterpret_cast<DpiForWindowFn>(
      reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleA("user32.dll"), "GetDpiForWindow")));
  int dpi = dpiForWindow ? static_cast<int>(dpiForWindow(window)) : 0;
  if (dpi <= 0) {
    HDC screen = GetDC(nullptr);
    dpi = screen ? GetDeviceCaps(screen, LOGPIXELSX) : 0;
    if (screen) ReleaseDC(nullptr, screen);
  }
  return LayoutScale(dpi > 0 ? dpi : 96);
}

HWND CreatePanel(HWND parent, const char* className, const char* name, int colorIndex, bool raised, int x,
                 int y, int width, int height) {
  auto* data = new PanelData{colorIndex, raised};
  HWND hwnd = CreateWindowExA(WS_EX_CONTROLPARENT, className, name,
                              WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN, x, y, width, height,
                              parent, nullptr, GetModuleHandleA(nullptr), data);
  if (!hwnd) delete data;
  return hwnd;
}

HWND CreateImage(HWND parent, HBITMAP bitmap, HICON icon, int x, int y, int width, int height) {
  auto* data = new ImageData{bitmap, icon};
  HWND hwnd = CreateWindowExA(0, kImageClass, "", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, x, y, width, height,
                              parent, nullptr, GetModuleHandleA(nullptr), data);
  if (!hwnd) delete data;
  return hwnd;
}

HWND CreateBevel(HWND parent, int x, int y, int width, int height) {
  return CreateWindowExA(0, kBevelClass, "", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, x, y, width, height, parent,
                         nullptr, GetModuleHandleA(nullptr), nullptr);
}

void SetAlign(HWND control, Align align) {
  SetPropA(control, kAlignProp, reinterpret_cast<HANDLE>(static_cast<INT_PTR>(align)));
}

void AlignChildren(HWND parent) {
  RECT area;
  GetClientRect(parent, &area);
  char cls[32] = {};
  GetClassNameA(parent, cls, sizeof cls);
  if (lstrcmpA(cls, kPanelClass) == 0 || lstrcmpA(cls, kTabSheetClass) == 0) {
    auto* data = reinterpret_cast<PanelData*>(GetWindowLongPtrA(parent, GWLP_USERDATA));
    if (data && data->raised) InflateRect(&area, -1, -1);
  }
  std::vector<std::pair<HWND, Align>> children;
  for (HWND c = GetWindow(parent, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
    auto align = static_cast<Align>(reinterpret_cast<INT_PTR>(GetPropA(c, kAlignProp)));
    if (align != Align::None) children.emplace_back(c, align);
  }
  // Top and bottom first take whole rows, then left and right take what is
  // left of the height, and a client-aligned child fills the rest.
  for (int pass = 0; pass < 3; ++pass) {
    for (auto [c, align] : children) {
      RECT r;
      GetWindowRect(c, &r);
      const int w = r.right - r.left, h = r.bottom - r.top;
      const int aw = area.right - area.left, ah = area.bottom - area.top;
      if (pass == 0 && align == Align::Top) {
        MoveWindow(c, area.left, area.top, aw, h, TRUE);
        area.top += h;
      } else if (pass == 0 && align == Align::Bottom) {
        MoveWindow(c, area.left, area.bottom - h, aw, h, TRUE);
        area.bottom -= h;
      } else if (pass == 1 && align == Align::Left) {
        MoveWindow(c, area.left, area.top, w, ah, TRUE);
        area.left += w;
      } else if (pass == 1 && align == Align::Right) {
        MoveWindow(c, area.right - w, area.top, w, ah, TRUE);
        area.right -= w;
      } else if (pass == 2 && align == Align::Client) {
        MoveWindow(c, area.left, area.top, aw, ah, TRUE);
      }
    }
  }
}

}  // namespace quv
