// The main window's layout pass: every rectangle and font the windows use, derived from
// the skin's constants, its pictures and the main window's client size.
#include <algorithm>
#include <cstring>
#include <cwchar>

#include "entryGlobals.h"
#include "lumeo.h"
#include "skin.h"
#include "tools.h"

int g_layoutCount;

namespace {

int g_keptWidth, g_keptHeight;

LayoutRect R(int x, int y, int w, int h) { return LayoutRect{x, y, w, h}; }
int Bottom(const LayoutRect& r) { return r.y + r.h; }
int Right(const LayoutRect& r) { return r.x + r.w; }

void SetFont(LOGFONTW& f, int height, int weight, bool underline, const wchar_t* face) {
    std::memset(&f, 0, sizeof(f));
    f.lfCharSet = DEFAULT_CHARSET;
    f.lfHeight = height;
    f.lfWeight = weight;
    f.lfUnderline = underline ? 1 : 0;
    wcsncpy(f.lfFaceName, face, LF_FACESIZE - 1);
}

// The system font, whose face every font of the skin uses.
LOGFONTW SystemFace() {
    LOGFONTW system{};
    GetObjectW(GetStockObject(SYSTEM_FONT), sizeof(system), &system);
    return system;
}

bool IsSkinSize(const Skin& s) {
    static const int sizes[5][2] = {{800, 480}, {640, 480}, {320, 240}, {480, 320}, {400, 240}};
    for (const auto& z : sizes)
        if (s.longSide == z[0] && s.shortSide == z[1]) return true;
    return false;
}

void LayoutRows(Skin& s, int H) {
    int landscapeNow = g_orientation != 1;
    int sysBars = landscapeNow ? s.shortSide - H : s.longSide - H;
    int T = BitmapSize(s.innerTitleBar).cy, L = BitmapSize(s.pgrmLogo).cy, b = s.mainMetric1;
    int th = s.thumbHeight, tw = s.thumbWidth, r = s.periodMetric3;
    int p = s.thumbFramePen, a = s.rowMetric1, c = s.rowMetric2;
    SIZE arrow = BitmapSize(s.arrow[0]);
    int aw = s.hasArrow ? arrow.cx : 0, ah = s.hasArrow ? arrow.cy : 0;

    RowLayout& P = s.portrait;
    RowLayout& Q = s.landscape;
    P.listRect = R(0, T, s.shortSide, s.longSide - sysBars - L - T - b);
    Q.listRect = R(0, T, s.longSide, s.shortSide - sysBars - L - T - b);

    int B = s.hasArrow ? (th + (r - th) / 2) / 2 : (th + (r - th) / 2) * 2 / 3;
    int l = B / 2;
    s.titleBand = B;
    s.lineHeight = l;

    // Portrait rows.
    P.rowRect = R(0, 0, s.shortSide, r);
    P.thumbPos = POINT{s.periodMetric5, (r - th) / 2};
    P.arrowPos = s.hasArrow ? POINT{s.shortSide - 2 * aw, (r - ah) / 2} : POINT{0, 0};
    int x0 = P.thumbPos.x + tw + p + a;
    int width = s.shortSide - x0 - (s.hasArrow ? 3 * aw : 0);
    P.titleRect = R(x0, (r - th) / 4, width, B);
    P.durationRect = R(x0, P.titleRect.y + B + c, width, l);
    P.publisherRect = R(x0, Bottom(P.durationRect), width, l);

    // Landscape rows: side by side in columns, or one under the other.
    int m4 = s.periodMetric4;
    // A positive font height is the whole cell: one line of the row font is textHeight high.
    int cell = s.textHeight;
    if (s.landscapeColumns) {
        Q.rowRect = R(0, 0, m4, Q.listRect.h);
        Q.thumbPos = POINT{(m4 - tw) / 2, s.rowMetric1};
        Q.arrowPos = s.hasArrow ? POINT{m4 - 2 * aw, Q.listRect.h - 3 * ah / 2} : POINT{0, 0};
        int y1 = Q.thumbPos.y + th + p + a;
        int A = Q.arrowPos.y - y1, n = s.mainMetric2;
        int h1 = n > 0 ? A * (n - 2) / n : A, h2 = n > 0 ? A / n : 0;
        // The duration and publisher lines hold one text line each; the title keeps the rest.
        if (n > 0 && h2 < cell) {
            h2 = cell;
            h1 = std::max(cell, A - c - 2 * h2);
        }
        int w = m4 - 2 * a;
        Q.titleRect = R(a, y1, w, h1);
        Q.durationRect = R(a, Bottom(Q.titleRect) + c, w, h2);
        Q.publisherRect = R(a, Bottom(Q.durationRect), w, h2);
        // A line that reaches down beside the arrow ends before it.
        int right = Q.arrowPos.x - a;
        for (LayoutRect* line : {&Q.durationRect, &Q.publisherRect})
            if (s.hasArrow && Bottom(*line) > Q.arrowPos.y && Right(*line) > right) line->w = std::max(0, right - line->x);
    } else {
        // The row holds its thumbnail and frame with room to spare above and below, so
        // neither touches a separator; the two text lines sit beside the thumbnail.
        int rowH = std::max(m4, th + 2 * (p + 2));
        Q.rowRect = R(0, 0, s.longSide, rowH);
        Q.thumbPos = POINT{s.periodMetric5, (rowH - th) / 2};
        Q.arrowPos = POINT{0, 0};
        int lx0 = Q.thumbPos.x + tw + p + a;
        Q.titleRect = R(lx0, Q.thumbPos.y, s.longSide - lx0, th / 2);
        Q.durationRect = R(lx0, Q.titleRect.y + th / 2 + c, s.longSide - lx0, th / 2);
        Q.publisherRect = R(lx0, Bottom(Q.durationRect), 0, 0);
    }
}

// Width of a text in the body font, font 0 as LayoutFonts makes it.
int BodyTextWidth(const Skin& s, const wchar_t* text) {
    LOGFONTW lf;
    SetFont(lf, s.textHeight, FW_NORMAL, false, SystemFace().lfFaceName);
    HDC dc = CreateCompatibleDC(nullptr);
    HFONT font = CreateFontIndirectW(&lf);
    HGDIOBJ old = SelectObject(dc, font);
    SIZE size{0, 0};
    GetTextExtentPoint32W(dc, text, static_cast<int>(wcslen(text)), &size);
    SelectObject(dc, old);
    DeleteObject(font);
    DeleteDC(dc);
    return size.cx;
}

void LayoutDetail(Skin& s, int W, int H) {
    int T = BitmapSize(s.innerTitleBar).cy, L = BitmapSize(s.pgrmLogo).cy, b = s.mainMetric1;
    int P = H - L - b;
    int p = s.thumbFramePen, a = s.rowMetric1, c = s.rowMetric2, tw = s.titleMetric2, tH = s.titleTextHeight;
    int l = s.lineHeight;
    bool portrait = g_orientation == 1;
    DetailLayout& d = s.detail;
    d = DetailLayout{};

    POINT tp = (portrait || s.landscapeColumns) ? s.portrait.thumbPos : s.landscape.thumbPos;
    d.thumb = R(tp.x, tp.y + T, s.thumbWidth, s.thumbHeight);
    SIZE btn = BitmapSize(s.detailBtn[0]);
    d.playBtn = R(d.thumb.x - p, Bottom(d.thumb) + p, btn.cx, btn.cy);
    int tx = Right(d.thumb) + p + a;
    d.title = R(tx, d.thumb.y, W - tx - c, portrait ? 2 * l : l);
    d.duration = R(tx, Bottom(d.title) + c, tw, l);
    int px = Right(d.duration) + c;
    // In landscape the plays field holds a six-digit count and a blank before the next
    // field, even where tw is narrower.
    d.plays = R(px, d.duration.y, portrait ? W - px - c : std::max(tw, BodyTextWidth(s, L"播放:000000 ")), l);
    if (portrait) {
        d.published = R(tx, Bottom(d.duration) + c, W - tx - c, l);
    } else {
        int x = Right(d.plays) + c;
        d.published = R(x, d.duration.y, W - x - c, l);
    }
    d.tags = R(tx, Bottom(d.published) + c, W - tx - c, l);
    if (portrait)
        d.desc = R(d.thumb.x, std::max(Bottom(d.playBtn), Bottom(d.tags)) + a, W - 2 * d.thumb.x,
                   l * s.detailMetric1);
    else
        d.desc = R(tx, Bottom(d.tags) + (s.wideDetail ? c : 0), W - tx - d.thumb.x, l * s.detailMetric2);
    // The description keeps to the whole lines that fit above the tab bar (one at least).
    if (l > 0 && Bottom(d.desc) > P) d.desc.h = l * std::max(1, (P - d.desc.y) / l);

    int k = portrait ? s.relatedRowsPortrait : s.relatedRowsLandscape / 2;
    auto gapFrom = [&](int start) { return std::max(2, (P - start - l * k) / (k + 1)); };
    int start;
    if (s.wideDetail) {
        d.separatorY = portrait ? Bottom(d.desc) + 2 * a : Bottom(d.playBtn) + 2 * a;
        if (portrait) {
            d.caption = R(d.thumb.x, d.separatorY + 2 * a, tw, tH);
            start = Bottom(d.caption);
        } else {
            d.caption = R(W + 1000, d.separatorY + 2 * a, tw, tH);
            start = d.separatorY;
        }
        d.relatedGap = gapFrom(start);
        d.relatedStart = POINT{d.thumb.x, start + d.relatedGap};
        d.relatedWidth = portrait ? 11 * W / 12 : 11 * W / 12 / 2;
        d.relatedColumns = portrait ? 1 : 2;
        d.loadingPos = POINT{(W - 137) / 2, d.separatorY + (P - d.separatorY - 20) / 2};
    } else {
        d.separatorY = -1;
        d.caption = R(W + 1000, 0, 0, 0);
        start = d.desc.y;
        d.relatedGap = gapFrom(start);
        d.relatedStart = POINT{d.desc.x, d.desc.y + d.relatedGap};
        d.relatedWidth = d.desc.w;
        d.relatedColumns = 1;
        d.loadingPos = POINT{(W - 137) / 2, d.desc.y + (P - d.desc.y - 20) / 2};
    }
    d.relatedRowHeight = l;
    d.relatedRows = k;
}

// The picture buttons of the channel and ranking pages, in page coordinates (P the page height).
void LayoutChannelAndRankButtons(Skin& s, int W, int P, int T) {
    bool portrait = g_orientation == 1;
    SIZE ch = BitmapSize(s.channelBtn[0]);
    int w = ch.cx, h = ch.cy;
    int c = portrait ? s.mainMetric3 : s.mainMetric5, r = portrait ? s.mainMetric4 : s.mainMetric6;
    int gx = (W - c * w) / (c + 1), gy = (P - T - r * h) / (r + 1);
    for (int k = 0; k < 6; ++k) {
        int col = c > 0 ? k % c : k, row = c > 0 ? k / c : 0;
        s.channelBtnRect[k] = R(gx + col * (w + gx), T + gy + row * (h + gy), w, h);
    }

    SIZE rk = BitmapSize(s.rankBtn[0]);
    w = rk.cx;
    h = rk.cy;
    if (portrait) {
        gx = (W - s.mainMetric3 * w) / (s.mainMetric3 + 1);
        gy = (P - T - s.mainMetric4 * h) / (s.mainMetric4 + 1);
        for (int k = 0; k < 3; ++k) s.rankBtnRect[k] = R(gx + k * (w + gx), T + gy, w, h);
    } else {
        gx = w / 2;
        int n = s.mainMetric8;
        int x0 = (W - n * w - gx * (n - 1)) / 2;
        gy = (P - T - h) / (s.mainMetric9 + 1);
        for (int k = 0; k < 3; ++k) s.rankBtnRect[k] = R(x0 + k * (w + gx), T + gy, w, h);
    }
}

void LayoutFrameParts(Skin& s, int W, int H) {
    int T = BitmapSize(s.innerTitleBar).cy, b = s.mainMetric1;
    SIZE logo = BitmapSize(s.pgrmLogo);
    s.logoX = W / 2 - logo.cx / 2;
    s.pageRect = R(0, logo.cy, W, H - logo.cy - b);

    SIZE tab = BitmapSize(s.tabBtn[1]);
    int d = s.rowMetric3;
    int x = (W - 4 * tab.cx - 3 * d) / 2, y = (H - b) + (b - tab.cy) / 2;
    for (int k = 0; k < 4; ++k) s.tabRect[k] = R(x + k * (tab.cx + d), y, tab.cx, tab.cy);

    int th = s.titleTextHeight;
    s.titleRect = R(s.titleMetric1, (T - th) / 2, s.titleMetric2, th);
    s.titleRectRight = R(W - s.titleMetric2 - s.titleMetric1, (T - th) / 2, s.titleMetric2, th);

    // Period tabs of the ranking lists: the last ends periodMetric6 before the right edge.
    for (int i = 0; i < s.periodCount && s.periodPos; ++i)
        s.periodPos[i] = W - (s.periodMetric6 + s.periodTabWidth) * (s.periodCount - i);
    s.periodTop = s.rowMetric3;
    s.periodHeight = T - s.periodTop;
    LayoutChannelAndRankButtons(s, W, s.pageRect.h, T);

    LayoutHelpPages(s, W, s.pageRect.h);
    LayoutSearchPage(s, W, s.pageRect.h);
}

}  // namespace

void LayoutHelpPages(Skin& s, int W, int P) {
    int T = BitmapSize(s.innerTitleBar).cy, b = s.lineHeight, n = HELP_TOPIC_COUNT;
    int A = P - T;
    int h, g;
    double scale;
    if (b > 0 && A >= 2 * n * b) {
        h = 3 * b / 2;
        scale = 1.5;
        g = std::min(h, (A - n * h) / (n + 2));
    } else if (A > n * b) {
        h = b;
        scale = 1.0;
        g = std::max(1, (A - n * h) / (n + 2));
    } else {
        h = A / n - 1;
        scale = b > 0 ? static_cast<double>(h) / b * 4 / 3 : 1.0;
        g = 1;
    }
    HelpLayout& l = s.help;
    l.left = s.helpMetric1;
    l.width = W - 2 * s.helpMetric1;
    l.rowHeight = h;
    l.gap = g;
    l.top = T + g;
    s.helpRowScale = scale;
    l.helpText = R(s.helpMetric2, T, W - s.helpMetric2, P - T);
    l.aboutText = R(s.helpMetric3, T, W - s.helpMetric3, P - T);
}

void LayoutSearchPage(Skin& s, int W, int P) {
    bool portrait = g_orientation == 1;
    int T = BitmapSize(s.innerTitleBar).cy;
    SIZE btn = BitmapSize(s.searchBtn[1]), clr = BitmapSize(s.searchClearBtn[1]);
    SIZE arr = s.hasArrow ? BitmapSize(s.arrow[0]) : SIZE{0, 0};
    int bw = btn.cx, bh = btn.cy, cw = clr.cx, ch = clr.cy, aw = arr.cx, ah = arr.cy;
    int m = s.searchMetric1, d = s.rowMetric3, tH = s.titleTextHeight, n = s.searchHistoryCount;
    SearchLayout& l = s.search;
    l.historyShown = portrait || s.hasArrow ? 1 : 0;

    int rh = static_cast<int>(bh * (portrait ? s.fontFactor2 : s.fontFactor3));
    int g0 = portrait ? (P - T - tH - bh * n - bh - (ch + 2 * d)) / 3 : (P - T - tH - bh - rh * n - (ch + 2 * d)) / 3;
    int G = std::min(g0, bh);
    if (G < 2) G = 2;
    l.rowHeight = rh;
    l.gap = G;

    int E = static_cast<int>(bw * (portrait ? s.fontFactor6 : s.fontFactor7));
    int boxW = E + bw + m;
    l.editX = (W - boxW) / 2;
    l.editY = l.historyShown ? T + G + 1 : T + (P - T - bh) / 2 + 1;
    l.editWidth = E;
    l.editHeight = bh - 2 * m;
    l.button = R(l.editX + E, l.editY - 1, bw, bh);
    l.label = R(l.editX, l.editY - 1 + bh + G, s.titleMetric2, tH);
    int boxY = Bottom(l.label) + d;
    l.history = R(l.editX - m, boxY, boxW, 2 * m + rh * n + 2 * d + ch);
    int th = static_cast<int>(tH * (portrait ? s.fontFactor4 : s.fontFactor5));
    int tw = boxW - 2 * m - s.mainMetric7 - (s.hasArrow ? 3 * aw : 0);
    l.rowText = R(l.history.x + s.mainMetric7, boxY + m + (rh - th) / 2, tw, th);
    l.clear = R(W - l.editX - 3 * m - cw, Bottom(l.history) - m - d - ch, cw, ch);
    l.arrow = POINT{W - l.editX - m - 3 * aw, boxY + m + (rh - ah) / 2};
}

namespace {

// Fonts set on the edit boxes; each replaced one is freed once its box has the new one.
HFONT g_editFonts[3];

void ApplyFont(int slot, HWND edit, const LOGFONTW& f) {
    if (!edit) return;
    HFONT font = CreateFontIndirectW(&f);
    SendMessageW(edit, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    if (g_editFonts[slot]) DeleteObject(g_editFonts[slot]);
    g_editFonts[slot] = font;
}

void LayoutFonts(Skin& s) {
    LOGFONTW system = SystemFace();
    const wchar_t* face = system.lfFaceName;
    int tH = s.textHeight, l = s.lineHeight > 0 ? s.lineHeight : tH;
    int badge = BitmapSize(s.rankNumBk).cy;
    double scale = s.helpRowScale > 0 ? s.helpRowScale : 1.0;
    SetFont(s.fonts[0], tH, FW_NORMAL, false, face);
    SetFont(s.fonts[1], tH, FW_BOLD, false, face);
    SetFont(s.fonts[2], tH, FW_NORMAL, true, face);
    SetFont(s.fonts[3], tH * badge / l, FW_BOLD, false, face);
    SetFont(s.fonts[4], static_cast<int>(tH * scale), FW_NORMAL, true, face);
    SetFont(s.fonts[5], 3 * tH / 2, FW_NORMAL, false, face);
    SetFont(s.fonts[6], tH, FW_NORMAL, false, face);
    SetFont(s.fonts[7], static_cast<int>(tH * s.fontFactor1), FW_BOLD, false, face);
    SetFont(s.fonts[8], static_cast<int>(tH * (g_orientation == 1 ? s.fontFactor4 : s.fontFactor5)), FW_BOLD, false,
            face);
    SetFont(s.fonts[9], static_cast<int>(tH * s.mainScale), FW_BOLD, false, face);
    ApplyFont(0, g_hHelpText, s.fonts[5]);
    ApplyFont(1, g_hAboutText, s.fonts[6]);
    ApplyFont(2, g_hSearchEdit, s.fonts[7]);
}

}  // namespace

int LayoutMainWindow(int W, int H) {
    bool bothChanged = W != g_keptWidth && H != g_keptHeight;
    bool grew = W == g_keptWidth && H > g_keptHeight;
    g_keptWidth = W;
    g_keptHeight = H;
    if (!bothChanged && !grew) return 0;
    if (bothChanged) SetOrientation();

    Skin& s = g_skin;
    LayoutRows(s, H);
    LayoutDetail(s, W, H);
    if (IsSkinSize(s)) {
        LayoutFrameParts(s, W, H);
        LayoutFonts(s);
    }
    ++g_layoutCount;
    return 1;
}
