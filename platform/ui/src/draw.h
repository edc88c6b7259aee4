// Small drawing helpers of the built-in windows (message box, menus, soft-key bar,
// controls), all through GDI calls.
#pragma once

#include <string>

#include "platform/gdi.h"
#include "platform/winuser.h"

namespace platform::ui::detail {

// The system face at `pixels` cell height (cached; never deleted).
HFONT UiFont(int pixels, bool bold = false);
// Text height the built-in windows use at the current screen size.
int UiTextHeight();
void FillSolid(HDC dc, const RECT& r, COLORREF c);
void Frame(HDC dc, const RECT& r, COLORREF c, int width = 1);
void RoundBox(HDC dc, const RECT& r, COLORREF fill, COLORREF edge, int radius);
int Text(HDC dc, const std::wstring& s, RECT r, UINT format, COLORREF colour, HFONT font);
SIZE TextSize(HFONT font, const std::wstring& s);

constexpr COLORREF kAccent = RGB(0x1E, 0x6F, 0xD9);
constexpr COLORREF kAccentDark = RGB(0x12, 0x4E, 0xA0);
constexpr COLORREF kText = RGB(0x20, 0x20, 0x20);
constexpr COLORREF kFaint = RGB(0xE8, 0xEC, 0xF2);
constexpr COLORREF kEdge = RGB(0x9A, 0xA4, 0xB4);

}  // namespace platform::ui::detail
