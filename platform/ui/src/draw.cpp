#include "draw.h"

#include <map>
#include <mutex>

#include "wm.h"

namespace platform::ui::detail {

HFONT UiFont(int pixels, bool bold) {
    static std::mutex mu;
    static auto* cache = new std::map<std::pair<int, bool>, HFONT>;
    std::lock_guard lk(mu);
    auto& f = (*cache)[{pixels, bold}];
    if (!f) {
        LOGFONTW lf{};
        GetObjectW(GetStockObject(SYSTEM_FONT), sizeof lf, &lf);
        lf.lfHeight = pixels;
        lf.lfWidth = 0;
        lf.lfWeight = bold ? FW_BOLD : FW_NORMAL;
        lf.lfCharSet = DEFAULT_CHARSET;
        f = CreateFontIndirectW(&lf);
    }
    return f;
}

int UiTextHeight() {
    int s = std::min(GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
    return std::max(12, s * 24 / 480);
}

void FillSolid(HDC dc, const RECT& r, COLORREF c) {
    HBRUSH b = CreateSolidBrush(c);
    FillRect(dc, &r, b);
    DeleteObject(b);
}

void Frame(HDC dc, const RECT& r, COLORREF c, int width) {
    for (int i = 0; i < width; ++i) {
        RECT e{r.left + i, r.top + i, r.right - i, r.bottom - i};
        HBRUSH b = CreateSolidBrush(c);
        FrameRect(dc, &e, b);
        DeleteObject(b);
    }
}

void RoundBox(HDC dc, const RECT& r, COLORREF fill, COLORREF edge, int radius) {
    HBRUSH b = CreateSolidBrush(fill);
    HPEN p = CreatePen(PS_SOLID, 1, edge);
    HGDIOBJ ob = SelectObject(dc, b), op = SelectObject(dc, p);
    RoundRect(dc, r.left, r.top, r.right, r.bottom, radius, radius);
    SelectObject(dc, ob);
    SelectObject(dc, op);
    DeleteObject(b);
    DeleteObject(p);
}

int Text(HDC dc, const std::wstring& s, RECT r, UINT format, COLORREF colour, HFONT font) {
    HGDIOBJ of = SelectObject(dc, font);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, colour);
    int h = DrawTextW(dc, s.c_str(), static_cast<int>(s.size()), &r, format);
    SelectObject(dc, of);
    return h;
}

SIZE TextSize(HFONT font, const std::wstring& s) {
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ of = SelectObject(dc, font);
    SIZE sz{0, 0};
    GetTextExtentPoint32W(dc, s.c_str(), static_cast<int>(s.size()), &sz);
    SelectObject(dc, of);
    DeleteDC(dc);
    return sz;
}

}  // namespace platform::ui::detail
