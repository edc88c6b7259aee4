// Text output: line layout, word breaking (also between Chinese characters), ellipsis
// and glyph drawing.
#include "font.h"

#include "platform/lasterror.h"

#include <cwchar>
#include <string>
#include <vector>

using namespace platform;
using namespace platform::gdi;

namespace {

constexpr char32_t kEllipsis = 0x2026;

SizedFont& FontOf(const DC& dc) {
    auto f = dc.font ? dc.font : SystemFont();
    if (!f->sized) f->sized = ResolveFont(f->lf);
    return *f->sized;
}

bool IsSpace(char32_t c) { return c == ' ' || c == '\t' || c == 0x3000; }

// Characters of scripts written without spaces: a line may break before and after each.
bool IsWide(char32_t c) {
    return (c >= 0x1100 && c <= 0x11FF) || (c >= 0x2E80 && c <= 0xA4CF) || (c >= 0xAC00 && c <= 0xD7AF) ||
           (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFFEF) ||
           (c >= 0x20000 && c <= 0x3FFFF);
}

// Punctuation that must not begin a line, and that must not end one.
bool NoLineStart(char32_t c) {
    static const std::u32string s = U"，。、；：？！）」』】》〉〕”’…·．,.;:?!)]}%\u30FC\u3005";
    return s.find(c) != std::u32string::npos;
}
bool NoLineEnd(char32_t c) {
    static const std::u32string s = U"（「『【《〈〔“‘([{";
    return s.find(c) != std::u32string::npos;
}

// May a line break fall between a and b (neither a space)?
bool BreakBetween(char32_t a, char32_t b) {
    if (!IsWide(a) && !IsWide(b)) return false;
    if (NoLineStart(b) || NoLineEnd(a)) return false;
    return true;
}

struct Line {
    size_t begin = 0, end = 0;  // into the display text
    bool ellipsis = false;
    int width = 0;
};

struct Layout {
    std::u32string text;
    std::vector<bool> underline;  // per character: the prefix character's mark
    std::vector<Line> lines;
};

int Width(SizedFont& f, const std::u32string& t, size_t b, size_t e, int tab) {
    int w = 0;
    for (size_t i = b; i < e; ++i) w += t[i] == '\t' && tab ? tab - (w % tab) : f.Advance(t[i]);
    return w;
}

// Breaks the paragraph [b, e) into lines no wider than `maxWidth`.
void Wrap(SizedFont& f, const std::u32string& t, size_t b, size_t e, int maxWidth, int tab, std::vector<Line>& out) {
    size_t start = b;
    while (true) {
        // Leading blanks of a wrapped line are dropped.
        if (start != b)
            while (start < e && IsSpace(t[start])) ++start;
        if (start >= e) {
            if (start == b) out.push_back(Line{b, b});
            return;
        }
        int w = 0;
        size_t lastBreak = std::string::npos;  // a line may end before this index
        size_t i = start;
        for (; i < e; ++i) {
            char32_t c = t[i];
            if (IsSpace(c)) {
                lastBreak = i;
            } else if (i > start && !IsSpace(t[i - 1]) && BreakBetween(t[i - 1], c)) {
                lastBreak = i;
            }
            int adv = c == '\t' && tab ? tab - (w % tab) : f.Advance(c);
            if (w + adv > maxWidth && !IsSpace(c)) break;
            w += adv;
        }
        if (i >= e) {
            out.push_back(Line{start, e});
            return;
        }
        size_t end;
        if (lastBreak != std::string::npos && lastBreak > start) {
            end = lastBreak;
        } else {
            // One word longer than the line: cut it where it stops fitting (one
            // character at least, so the text always advances).
            end = std::max(i, start + 1);
        }
        size_t trimmed = end;
        while (trimmed > start && IsSpace(t[trimmed - 1])) --trimmed;
        out.push_back(Line{start, trimmed});
        start = end;
    }
}

Layout MakeLayout(SizedFont& f, const wchar_t* text, int length, UINT format, int maxWidth, int tab) {
    Layout L;
    L.text.reserve(length);
    bool mark = false;
    for (int i = 0; i < length; ++i) {
        char32_t c = static_cast<char32_t>(text[i]);
        // UTF-16 pairs that came through a boundary.
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < length && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<char32_t>(text[i + 1]) - 0xDC00);
            ++i;
        }
        if (!(format & DT_NOPREFIX) && c == '&') {
            if (i + 1 < length && text[i + 1] == '&') {
                ++i;
            } else if (i + 1 < length) {
                mark = true;
                continue;
            }
        }
        L.text.push_back(c);
        L.underline.push_back(mark);
        mark = false;
    }
    const std::u32string& t = L.text;
    if (format & DT_SINGLELINE) {
        // One line; line breaks take no room.
        std::u32string flat;
        std::vector<bool> u;
        for (size_t i = 0; i < t.size(); ++i)
            if (t[i] != '\r' && t[i] != '\n') {
                flat.push_back(t[i]);
                u.push_back(L.underline[i]);
            }
        L.text = std::move(flat);
        L.underline = std::move(u);
        L.lines.push_back(Line{0, L.text.size()});
    } else {
        size_t b = 0;
        for (size_t i = 0; i <= t.size(); ++i) {
            if (i < t.size() && t[i] != '\r' && t[i] != '\n') continue;
            if (format & DT_WORDBREAK)
                Wrap(f, t, b, i, maxWidth, tab, L.lines);
            else
                L.lines.push_back(Line{b, i});
            if (i < t.size() && t[i] == '\r' && i + 1 < t.size() && t[i + 1] == '\n') ++i;
            b = i + 1;
        }
        // A final line break opens no empty line of its own.
        if (L.lines.size() > 1 && !t.empty() && (t.back() == '\n' || t.back() == '\r') &&
            L.lines.back().begin == L.lines.back().end)
            L.lines.pop_back();
    }
    for (Line& l : L.lines) l.width = Width(f, L.text, l.begin, l.end, tab);
    return L;
}

// Cuts a line so that it and "…" fit in maxWidth.
void Ellipsize(SizedFont& f, const std::u32string& t, Line& l, int maxWidth, int tab) {
    const int ew = f.Advance(kEllipsis);
    int w = Width(f, t, l.begin, l.end, tab);
    while (l.end > l.begin && w + ew > maxWidth) {
        --l.end;
        w = t[l.end] == '\t' ? Width(f, t, l.begin, l.end, tab) : w - f.Advance(t[l.end]);
    }
    while (l.end > l.begin && IsSpace(t[l.end - 1])) --l.end;
    l.ellipsis = true;
    l.width = Width(f, t, l.begin, l.end, tab) + ew;
}

inline void BlendPixel(uint32_t& d, uint32_t colour, unsigned a) {
    if (a >= 255) {
        d = colour;
        return;
    }
    const unsigned ia = 255 - a;
    unsigned r = (((colour >> 16) & 0xFF) * a + ((d >> 16) & 0xFF) * ia + 127) / 255;
    unsigned g = (((colour >> 8) & 0xFF) * a + ((d >> 8) & 0xFF) * ia + 127) / 255;
    unsigned b = ((colour & 0xFF) * a + (d & 0xFF) * ia + 127) / 255;
    d = (r << 16) | (g << 8) | b;
}

void FillClipped(const Target& t, RECT r, const RECT& clip, uint32_t p) {
    r.left = std::max(r.left, clip.left);
    r.top = std::max(r.top, clip.top);
    r.right = std::min(r.right, clip.right);
    r.bottom = std::min(r.bottom, clip.bottom);
    for (int y = r.top; y < r.bottom; ++y)
        for (int x = r.left; x < r.right; ++x) t.surface->row(y)[x] = p;
}

// Draws characters [b, e) (plus "…") with their top-left cell corner at surface (x, y).
void DrawRun(const Target& t, const RECT& clip, SizedFont& f, const std::u32string& text, const std::vector<bool>* marks,
             size_t b, size_t e, bool ellipsis, int x, int y, uint32_t colour, bool underline, const int* dx,
             int tab) {
    const int baseline = y + f.ascent;
    int pen = x;
    auto draw = [&](char32_t c, bool mark) {
        const Glyph* g = f.Get(c);
        if (!g) return 0;
        const int gx = pen + g->left, gy = baseline - g->top;
        const int x0 = std::max(gx, static_cast<int>(clip.left)), x1 = std::min(gx + g->width, static_cast<int>(clip.right));
        const int y0 = std::max(gy, static_cast<int>(clip.top)), y1 = std::min(gy + g->height, static_cast<int>(clip.bottom));
        for (int yy = y0; yy < y1; ++yy) {
            const uint8_t* cov = g->coverage.data() + static_cast<size_t>(yy - gy) * g->width - gx;
            uint32_t* row = t.surface->row(yy);
            if (t.mono) {
                for (int xx = x0; xx < x1; ++xx)
                    if (cov[xx] >= 128) row[xx] = colour;
            } else {
                for (int xx = x0; xx < x1; ++xx)
                    if (unsigned a = cov[xx]) BlendPixel(row[xx], colour, a);
            }
        }
        if (mark || underline) {
            const int uy = baseline + f.underlinePos;
            FillClipped(t, RECT{pen, uy, pen + g->advance, uy + f.underlineThickness}, clip, colour);
        }
        return g->advance;
    };
    for (size_t i = b; i < e; ++i) {
        int adv;
        if (text[i] == '\t' && tab) {
            adv = tab - ((pen - x) % tab);
        } else {
            adv = draw(text[i], marks && (*marks)[i]);
        }
        pen += dx ? dx[i - b] : adv;
    }
    if (ellipsis) draw(kEllipsis, false);
}

int TabWidth(SizedFont& f, UINT format) { return (format & DT_EXPANDTABS) ? 8 * std::max(1, f.Advance('x')) : 0; }

}  // namespace

int DrawTextW(HDC hdc, LPCWSTR text, int length, LPRECT rect, UINT format) {
    if (!rect || !text) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::lock_guard lock(GdiMutex());
    auto dc = LookupDC(hdc);
    if (!dc) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    if (length < 0) length = static_cast<int>(std::wcslen(text));
    SizedFont& f = FontOf(*dc);
    const int lh = f.height() + ((format & DT_EXTERNALLEADING) ? 0 : 0);
    const int W = rect->right - rect->left, H = rect->bottom - rect->top;
    const int tab = TabWidth(f, format);
    Layout L = MakeLayout(f, text, length, format, std::max(W, 0), tab);
    const bool ellipsis = format & (DT_END_ELLIPSIS | DT_WORD_ELLIPSIS | DT_PATH_ELLIPSIS);

    size_t shown = L.lines.size();
    if (!(format & DT_CALCRECT) && !(format & DT_SINGLELINE)) {
        if (format & DT_EDITCONTROL) {
            // A partly visible last line is not drawn (the first one always is).
            shown = std::min(shown, static_cast<size_t>(std::max(1, lh > 0 ? H / lh : 1)));
        } else if (!(format & DT_NOCLIP) && lh > 0) {
            shown = std::min(shown, static_cast<size_t>(std::max(1, (H + lh - 1) / lh)));
        }
    }
    if (ellipsis && shown > 0) {
        for (size_t i = 0; i < shown; ++i)
            if (L.lines[i].width > W) Ellipsize(f, L.text, L.lines[i], W, tab);
        if (shown < L.lines.size() && (format & DT_WORDBREAK)) Ellipsize(f, L.text, L.lines[shown - 1], W, tab);
    }
    L.lines.resize(shown);
    const int total = static_cast<int>(shown) * lh;

    if (format & DT_CALCRECT) {
        int maxw = 0;
        for (const Line& l : L.lines) maxw = std::max(maxw, l.width);
        rect->right = rect->left + maxw;
        rect->bottom = rect->top + total;
        return total;
    }

    int y0 = rect->top;
    if (format & DT_VCENTER) y0 = rect->top + (H - total) / 2;
    else if (format & DT_BOTTOM) y0 = rect->bottom - total;

    Target t = TargetOf(*dc);
    if (!t.empty()) {
        RECT clip = t.clip;
        if (!(format & DT_NOCLIP)) {
            RECT r = *rect;
            OffsetRect(&r, t.dx, t.dy);
            IntersectRect(&clip, &clip, &r);
        }
        if (!IsRectEmpty(&clip)) {
            const uint32_t colour = t.Pixel(dc->textColour);
            const uint32_t bk = t.Pixel(dc->bkColour);
            const bool underline = dc->font && dc->font->lf.lfUnderline;
            int y = y0 + t.dy;
            for (const Line& l : L.lines) {
                int x = rect->left;
                if (format & DT_CENTER) x = rect->left + (W - l.width) / 2;
                else if (format & DT_RIGHT) x = rect->right - l.width;
                x += t.dx;
                if (dc->bkMode == OPAQUE) FillClipped(t, RECT{x, y, x + l.width, y + lh}, clip, bk);
                DrawRun(t, clip, f, L.text, &L.underline, l.begin, l.end, l.ellipsis, x, y, colour, underline, nullptr,
                        tab);
                y += lh;
            }
            t.surface->Touch();
        }
    }
    if (format & (DT_VCENTER | DT_BOTTOM)) return y0 - rect->top + total;
    return total;
}

BOOL ExtTextOutW(HDC hdc, int x, int y, UINT options, const RECT* rect, LPCWSTR text, UINT length, const int* dx) {
    std::lock_guard lock(GdiMutex());
    auto dc = LookupDC(hdc);
    if (!dc) return FALSE;
    SizedFont& f = FontOf(*dc);
    std::u32string s;
    for (UINT i = 0; text && i < length; ++i) s.push_back(static_cast<char32_t>(text[i]));
    Target t = TargetOf(*dc);
    if (t.empty()) return TRUE;
    RECT clip = t.clip;
    if (rect && (options & ETO_CLIPPED)) {
        RECT r = *rect;
        OffsetRect(&r, t.dx, t.dy);
        IntersectRect(&clip, &clip, &r);
    }
    if (rect && (options & ETO_OPAQUE)) {
        RECT r = *rect;
        OffsetRect(&r, t.dx, t.dy);
        FillClipped(t, r, t.clip, t.Pixel(dc->bkColour));
    }
    int width = 0;
    for (size_t i = 0; i < s.size(); ++i) width += dx ? dx[i] : f.Advance(s[i]);
    const int X = x + t.dx, Y = y + t.dy;
    if (dc->bkMode == OPAQUE && !(rect && (options & ETO_OPAQUE)))
        FillClipped(t, RECT{X, Y, X + width, Y + f.height()}, clip, t.Pixel(dc->bkColour));
    DrawRun(t, clip, f, s, nullptr, 0, s.size(), false, X, Y, t.Pixel(dc->textColour),
            dc->font && dc->font->lf.lfUnderline, dx, 0);
    t.surface->Touch();
    return TRUE;
}

BOOL GetTextExtentPoint32W(HDC hdc, LPCWSTR text, int length, SIZE* size) {
    return GetTextExtentExPointW(hdc, text, length, 0, nullptr, nullptr, size);
}

BOOL GetTextExtentExPointW(HDC hdc, LPCWSTR text, int length, int maxExtent, int* fit, int* dx, SIZE* size) {
    if (!size || length < 0 || (length > 0 && !text)) return FALSE;
    std::lock_guard lock(GdiMutex());
    auto dc = LookupDC(hdc);
    if (!dc) return FALSE;
    SizedFont& f = FontOf(*dc);
    int w = 0, n = 0;
    for (int i = 0; i < length; ++i) {
        w += f.Advance(static_cast<char32_t>(text[i]));
        if (dx) dx[i] = w;
        if (w <= maxExtent) n = i + 1;
    }
    if (fit) *fit = n;
    size->cx = w;
    size->cy = f.height();
    return TRUE;
}

BOOL GetTextMetricsW(HDC hdc, TEXTMETRICW* tm) {
    if (!tm) return FALSE;
    std::lock_guard lock(GdiMutex());
    auto dc = LookupDC(hdc);
    if (!dc) return FALSE;
    SizedFont& f = FontOf(*dc);
    *tm = TEXTMETRICW{};
    tm->tmHeight = f.height();
    tm->tmAscent = f.ascent;
    tm->tmDescent = f.descent;
    tm->tmInternalLeading = std::max(0, f.height() - f.em);
    tm->tmAveCharWidth = f.Advance('x');
    tm->tmMaxCharWidth = f.Advance(0x4E2D);
    tm->tmWeight = f.bold ? FW_BOLD : FW_NORMAL;
    tm->tmFirstChar = 0x20;
    tm->tmLastChar = 0xFFFF;
    tm->tmDefaultChar = '?';
    tm->tmBreakChar = ' ';
    tm->tmUnderlined = dc->font && dc->font->lf.lfUnderline;
    tm->tmCharSet = GB2312_CHARSET;
    tm->tmDigitizedAspectX = tm->tmDigitizedAspectY = 96;
    return TRUE;
}

bool platform::MayBreakBetween(wchar_t a, wchar_t b) {
    char32_t x = static_cast<char32_t>(a), y = static_cast<char32_t>(b);
    return IsSpace(x) || (!IsSpace(y) && BreakBetween(x, y));
}
