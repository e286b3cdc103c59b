// The few window classes the wizard needs beyond the system's own controls:
// panels and tab sheets (a coloured background that lines up its aligned
// children), pictures and a bevel line. Each is one window procedure.
#pragma once

#include <windows.h>

namespace quv {

// Window class names.
inline constexpr const char* kPanelClass = "TPanel";
inline constexpr const char* kTabSheetClass = "TTabSheet";
inline constexpr const char* kImageClass = "TImage";
inline constexpr const char* kBevelClass = "TBevel";

enum class Align { None, Top, Bottom, Left, Right, Client };

// Registers the classes above; once per process.
void RegisterControlClasses(HINSTANCE instance);

// Layout sizes are written in pixels at 96 dots per inch. A window's scale
// turns them into its own pixels, so the layout keeps its proportions at
// any resolution; every layout size goes through one.
class LayoutScale {
 public:
  explicit LayoutScale(int dpi = 96) : dpi_(dpi) {}
  // The window's resolution: GetDpiForWindow where the system has it (looked
  // up at run time, XP lacks it), else the screen's logical pixels per inch.
  static LayoutScale Of(HWND window);
  int Dpi() const { return dpi_; }
  int operator()(int pixels96) const { return MulDiv(pixels96, dpi_, 96); }

 private:
  int dpi_;
};

// A panel (or, with kTabSheetClass, a tab sheet) with a background of the
// system colour colorIndex (COLOR_BTNFACE, COLOR_WINDOW); raised draws the
// one-pixel raised bevel of a header panel.
HWND CreatePanel(HWND parent, const char* className, const char* name, int colorIndex, bool raised, int x,
                 int y, int width, int height);

// A picture: a bitmap drawn stretched to the control, or an icon drawn at its
// own size with its transparent parts showing the parent's background. The
// bitmap or icon is not owned.
HWND CreateImage(HWND parent, HBITMAP bitmap, HICON icon, int x, int y, int width, int height);

// An etched line along the top edge.
HWND CreateBevel(HWND parent, int x, int y, int width, int height);

// How a control is laid out by its panel when the panel changes size.
void SetAlign(HWND control, Align align);
// Lays out parent's aligned children in its client area (inside its bevel).
void AlignChildren(HWND parent);

}  // namespace quv
