// Draws the program's default skin: every picture, strip and animation of the five screen
// sizes, into the folder given on the command line (the program folder's Res/Skin/Def).
#include "gif.h"
#include "paint.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>

using namespace skin;

namespace {

struct Size {
    const char* prefix;
    int tabW, tabH;      // bottomBtn: 4 tabs x (normal, pressed, current)
    int chanW, chanH;    // ClassifyBtn: 6 channels x (normal, pressed)
    int rankW, rankH;    // rankBtn: 3 rankings x (normal, pressed)
    int srchW, srchH;    // srchBtn
    int clrW, clrH;      // srchClear
    int dtlW, dtlH;      // dtlBtn
    int arrW, arrH;      // lumeoArrow
    int thumbW, thumbH;  // emptyPic, picBk
    int badgeW, badgeH;  // rankNumbk
    int titleH;          // innerTitleBar
    int logoW, logoH;    // pgrmLogo, pgrmUpBar
    int stupW, stupH;    // stupLogo
    int dlgW, dlgH;      // dlg.gif
};

// Sized to the layout constants of each screen: the tab bar holds four tabs and three gaps
// across the short side within the bar's height, six channel tiles fit across the long
// side and three across the short one, the search box and button fit the short side, the
// wait animation sits centred in the wait dialog, and so on.
const Size kSizes[] = {
    {"def_800_480_", 116, 66, 120, 120, 140, 150, 96, 48, 88, 34, 116, 44, 16, 26, 112, 84, 32, 23, 44, 180, 52, 320, 140, 140, 32},
    {"def_640_480_", 116, 56, 100, 100, 130, 130, 96, 52, 84, 36, 108, 40, 14, 22, 104, 78, 28, 20, 38, 160, 46, 300, 120, 140, 32},
    {"def_320_240_", 56, 44, 48, 52, 66, 66, 60, 32, 52, 24, 50, 24, 8, 13, 46, 35, 18, 12, 24, 90, 28, 160, 70, 76, 16},
    {"def_480_320_", 78, 50, 72, 72, 96, 96, 80, 46, 72, 32, 84, 32, 12, 18, 80, 60, 22, 17, 32, 120, 36, 220, 96, 136, 24},
    {"def_400_240_", 58, 46, 60, 56, 72, 70, 60, 38, 56, 28, 60, 28, 9, 14, 56, 42, 20, 14, 28, 100, 30, 180, 66, 76, 18},
};

const Colour kWhite{255, 255, 255};
const Colour kMain = Hex(0x004475);       // the skin's main colour
const Colour kTabArea = Hex(0x8BCCED);    // the tab bar behind the tabs
const Colour kPage = Hex(0x2C5B81);       // channel, ranking and search pages
const Colour kList = Hex(0xEFEFEF);       // list, history and detail page background
const Colour kPressedRow = Hex(0xA3D5FA);
const Colour kClearArea = Hex(0xD8E6F2);  // the strip under the history rows
const Colour kAccent = Hex(0xFF8A00);
const Colour kSky = Hex(0x3399FF);

// Chinese captions below this height read better without bold strokes.
constexpr int kBoldFrom = 14;

double Px(double v) { return std::max(1.0, v); }

// ---- icons, drawn centred at (cx, cy) within a square of side s ----

void Star(Picture& p, double cx, double cy, double s, Colour c) {
    std::vector<Pt> v;
    for (int i = 0; i < 10; ++i) {
        double r = (i % 2 ? 0.2 : 0.5) * s, a = -M_PI / 2 + i * M_PI / 5;
        v.push_back({cx + r * std::cos(a), cy + 0.04 * s + r * std::sin(a)});
    }
    p.Draw(Polygon(v), c);
}

void Grid(Picture& p, double cx, double cy, double s, Colour c) {
    double q = s * 0.4, g = s * 0.1;
    for (int i = 0; i < 4; ++i) {
        double x = cx - q - g / 2 + (i % 2) * (q + g), y = cy - q - g / 2 + (i / 2) * (q + g);
        p.Draw(RoundBox(x, y, x + q, y + q, q * 0.2), c);
    }
}

void Magnifier(Picture& p, double cx, double cy, double s, Colour c) {
    double r = s * 0.28, w = Px(s * 0.055);
    double ox = cx - s * 0.1, oy = cy - s * 0.1;
    p.Draw(Ring(ox, oy, r, w), c);
    double k = r / std::sqrt(2.0);
    p.Draw(Capsule({ox + k + w, oy + k + w}, {cx + s * 0.4, cy + s * 0.4}, Px(s * 0.075)), c);
}

void Bars(Picture& p, double cx, double cy, double s, Colour c) {
    const double hs[] = {0.55, 0.95, 0.75};
    double bw = s * 0.24, g = s * 0.08, x0 = cx - (3 * bw + 2 * g) / 2, bottom = cy + s * 0.45;
    for (int i = 0; i < 3; ++i) {
        double x = x0 + i * (bw + g);
        p.Draw(RoundBox(x, bottom - hs[i] * s, x + bw, bottom, bw * 0.2), c);
    }
}

void Play(Picture& p, double cx, double cy, double s, Colour c) {
    p.Draw(Polygon({{cx - s * 0.3, cy - s * 0.4}, {cx + s * 0.42, cy}, {cx - s * 0.3, cy + s * 0.4}}), c);
}

void PlayCircle(Picture& p, double cx, double cy, double s, Colour ring, Colour tri) {
    p.Draw(Circle(cx, cy, s / 2), ring);
    Play(p, cx + s * 0.05, cy, s * 0.5, tri);
}

void Newspaper(Picture& p, double cx, double cy, double s, Colour c) {
    double l = cx - s * 0.42, t = cy - s * 0.36, r = cx + s * 0.42, b = cy + s * 0.36, w = Px(s * 0.05);
    p.Draw(Outline(RoundBox(l + w, t + w, r - w, b - w, s * 0.06), w), c);
    p.Draw(RoundBox(l + s * 0.14, t + s * 0.14, cx - s * 0.02, cy + s * 0.02, s * 0.03), c);
    for (int i = 0; i < 3; ++i) {
        double y = t + s * (0.17 + i * 0.14);
        p.Draw(Capsule({cx + s * 0.08, y}, {r - s * 0.14, y}, Px(s * 0.03)), c);
    }
    p.Draw(Capsule({l + s * 0.14, b - s * 0.16}, {r - s * 0.14, b - s * 0.16}, Px(s * 0.03)), c);
}

void Camera(Picture& p, double cx, double cy, double s, Colour c) {
    p.Draw(RoundBox(cx - s * 0.45, cy - s * 0.28, cx + s * 0.15, cy + s * 0.28, s * 0.08), c);
    p.Draw(Polygon({{cx + s * 0.2, cy - s * 0.05}, {cx + s * 0.48, cy - s * 0.25}, {cx + s * 0.48, cy + s * 0.25}, {cx + s * 0.2, cy + s * 0.05}}), c);
}

void Note(Picture& p, double cx, double cy, double s, Colour c) {
    double r = s * 0.14, w = Px(s * 0.06);
    Pt h1{cx - s * 0.22, cy + s * 0.26}, h2{cx + s * 0.24, cy + s * 0.18};
    p.Draw(Circle(h1.x, h1.y, r), c);
    p.Draw(Circle(h2.x, h2.y, r), c);
    double s1 = h1.x + r - w, s2 = h2.x + r - w;
    p.Draw(Capsule({s1, h1.y}, {s1, cy - s * 0.34}, w), c);
    p.Draw(Capsule({s2, h2.y}, {s2, cy - s * 0.42}, w), c);
    p.Draw(Polygon({{s1 - w, cy - s * 0.34}, {s2 + w, cy - s * 0.46}, {s2 + w, cy - s * 0.3}, {s1 - w, cy - s * 0.18}}), c);
}

void Ball(Picture& p, double cx, double cy, double s, Colour c) {
    double r = s * 0.42, w = Px(s * 0.045);
    p.Draw(Ring(cx, cy, r, w), c);
    auto inside = Circle(cx, cy, r);
    auto clip = [inside](Shape sh) -> Shape { return [sh, inside](double x, double y) { return std::max(sh(x, y), inside(x, y)); }; };
    p.Draw(clip(Capsule({cx - r, cy}, {cx + r, cy}, w)), c);
    p.Draw(clip(Capsule({cx, cy - r}, {cx, cy + r}, w)), c);
    p.Draw(clip(Ring(cx - r * 1.25, cy, r * 0.85, w)), c);
    p.Draw(clip(Ring(cx + r * 1.25, cy, r * 0.85, w)), c);
}

void Smiley(Picture& p, double cx, double cy, double s, Colour c) {
    double r = s * 0.42, w = Px(s * 0.05);
    p.Draw(Ring(cx, cy, r, w), c);
    p.Draw(Circle(cx - r * 0.38, cy - r * 0.25, Px(r * 0.13)), c);
    p.Draw(Circle(cx + r * 0.38, cy - r * 0.25, Px(r * 0.13)), c);
    Shape arc = Ring(cx, cy, r * 0.55, w);
    p.Draw([arc, cy, r](double x, double y) { return std::max(arc(x, y), cy + r * 0.05 - y); }, c);
}

void Heart(Picture& p, double cx, double cy, double s, Colour c) {
    double r = s * 0.22;
    Shape h = Union(Circle(cx - r * 0.95, cy - s * 0.1, r), Circle(cx + r * 0.95, cy - s * 0.1, r));
    h = Union(h, Polygon({{cx - r * 1.9, cy - s * 0.04}, {cx + r * 1.9, cy - s * 0.04}, {cx, cy + s * 0.42}}));
    p.Draw(h, c);
}

void Bubble(Picture& p, double cx, double cy, double s, Colour c) {
    p.Draw(RoundBox(cx - s * 0.45, cy - s * 0.36, cx + s * 0.45, cy + s * 0.2, s * 0.14), c);
    p.Draw(Polygon({{cx - s * 0.25, cy + s * 0.15}, {cx - s * 0.02, cy + s * 0.15}, {cx - s * 0.3, cy + s * 0.42}}), c);
}

void Cross(Picture& p, double cx, double cy, double s, Colour c) {
    double k = s * 0.3, w = Px(s * 0.08);
    p.Draw(Capsule({cx - k, cy - k}, {cx + k, cy + k}, w), c);
    p.Draw(Capsule({cx - k, cy + k}, {cx + k, cy - k}, w), c);
}

void Chevron(Picture& p, double cx, double cy, double w, double h, Colour c) {
    double t = Px(w * 0.16);
    p.Draw(Capsule({cx - w * 0.25, cy - h * 0.3}, {cx + w * 0.22, cy}, t), c);
    p.Draw(Capsule({cx - w * 0.25, cy + h * 0.3}, {cx + w * 0.22, cy}, t), c);
}

void PictureIcon(Picture& p, double cx, double cy, double s, Colour c) {
    double l = cx - s * 0.5, t = cy - s * 0.38, r = cx + s * 0.5, b = cy + s * 0.38, w = Px(s * 0.05);
    p.Draw(Outline(RoundBox(l + w, t + w, r - w, b - w, s * 0.06), w), c);
    p.Draw(Polygon({{l + s * 0.12, b - s * 0.12}, {cx - s * 0.12, cy - s * 0.06}, {cx + s * 0.06, cy + s * 0.12}, {cx + s * 0.18, cy + s * 0.02}, {r - s * 0.12, b - s * 0.12}}), c);
    p.Draw(Circle(cx + s * 0.22, cy - s * 0.14, s * 0.08), c);
}

// ---- pieces ----

int Font(double v, int least = 11) { return std::max(least, static_cast<int>(std::lround(v))); }

enum class Look { Normal, Pressed, Current };

using IconFn = void (*)(Picture&, double, double, double, Colour);

Picture Tab(const Size& z, const wchar_t* caption, IconFn icon, Look look) {
    const int w = z.tabW, h = z.tabH;
    Picture p(w, h, kTabArea);
    const double r = h * 0.16;
    Shape box = RoundBox(1, 1, w - 1, h - 1, r);
    Colour ink = kMain;
    Colour iconInk = kMain;
    double shift = 0;
    switch (look) {
    case Look::Normal:
        p.DrawGradient(box, Hex(0xC4E8F8), Hex(0x93CFEE), 1, h - 1);
        p.Draw(Outline(RoundBox(1.5, 1.5, w - 1.5, h - 1.5, r), 0.5), Hex(0x6AAFD8));
        break;
    case Look::Pressed:
        p.DrawGradient(box, Hex(0x175E96), Hex(0x0C4778), 1, h - 1);
        ink = iconInk = kWhite;
        shift = 1;
        break;
    case Look::Current:
        p.DrawGradient(box, kWhite, Hex(0xDDF1FB), 1, h - 1);
        p.Draw(Outline(RoundBox(1.5, 1.5, w - 1.5, h - 1.5, r), 0.7), kAccent);
        p.Draw(RoundBox(w * 0.3, 1, w * 0.7, 1 + Px(h * 0.06), 1), kAccent);
        iconInk = kAccent;
        break;
    }
    const double s = h * 0.4;
    icon(p, w / 2.0, h * 0.33 + shift, s, iconInk);
    const int fh = Font(h * 0.27);
    RECT tr{0, static_cast<LONG>(h * 0.6 + shift), w, static_cast<LONG>(h * 0.96 + shift)};
    p.Text(caption, tr, fh, look != Look::Normal && fh >= kBoldFrom, ink);
    return p;
}

Picture Tile(int w, int h, Colour base, Colour page, const wchar_t* caption, IconFn icon, bool pressed) {
    Picture p(w, h, page);
    const double r = std::min(w, h) * 0.14, inset = pressed ? 3 : 2;
    Shape box = RoundBox(inset, inset, w - inset, h - inset, r);
    if (pressed) {
        p.DrawGradient(box, base.Scale(0.62), base.Scale(0.5), inset, h - inset);
        p.Draw(Outline(RoundBox(inset + 1, inset + 1, w - inset - 1, h - inset - 1, r - 1), 0.9), kWhite);
    } else {
        p.Draw(RoundBox(inset, inset + 1.5, w - inset, h - inset + 1.5, r), page.Scale(0.7));  // shadow
        p.DrawGradient(box, base.Scale(1.22), base.Scale(0.88), inset, h - inset);
        p.Draw(RoundBox(inset + r * 0.6, inset + 1, w - inset - r * 0.6, inset + 1 + Px(h * 0.02), 1), kWhite, 0.35);
    }
    const double shift = pressed ? 1 : 0;
    const int chars = static_cast<int>(wcslen(caption));
    const int fh = Font(std::min(h * 0.17, (w - 2 * inset) * 0.82 / chars));
    const double s = std::min(w, h) * 0.4;
    icon(p, w / 2.0, h * 0.4 + shift, s, kWhite);
    RECT tr{0, static_cast<LONG>(h * 0.68 + shift), w, static_cast<LONG>(h * 0.93 + shift)};
    p.Text(caption, tr, fh, fh >= kBoldFrom, kWhite);
    return p;
}

Picture Button(int w, int h, Colour bg, Colour top, Colour bottom, const wchar_t* caption, IconFn icon, bool pressed) {
    Picture p(w, h, bg);
    const double r = h * 0.22;
    Shape box = RoundBox(1, 1, w - 1, h - 1, r);
    if (pressed) {
        p.DrawGradient(box, top.Scale(0.62), bottom.Scale(0.62), 1, h - 1);
        p.Draw(Outline(RoundBox(2, 2, w - 2, h - 2, r - 1), 0.8), kWhite, 0.8);
    } else {
        p.DrawGradient(box, top, bottom, 1, h - 1);
        p.Draw(RoundBox(1 + r, 1.5, w - 1 - r, 1.5 + Px(h * 0.04), 1), kWhite, 0.4);
    }
    const double shift = pressed ? 1 : 0;
    const int fh = Font(h * 0.42);
    const double s = h * 0.5;
    const bool bold = fh >= kBoldFrom;
    const int tw = p.TextWidth(caption, fh, bold);
    const double gap = h * 0.12;
    const double total = icon ? s + gap + tw : tw;
    const double x0 = (w - total) / 2;
    if (icon) icon(p, x0 + s / 2, h / 2.0 + shift, s, kWhite);
    const LONG tx = static_cast<LONG>(std::lround(icon ? x0 + s + gap : x0));
    RECT tr{tx, static_cast<LONG>(shift), tx + tw + 2, static_cast<LONG>(h + shift)};
    p.Text(caption, tr, fh, bold, kWhite, DT_LEFT | DT_VCENTER);
    return p;
}

Picture Strip(const std::vector<Picture>& pieces) {
    Picture s(pieces[0].w() * static_cast<int>(pieces.size()), pieces[0].h(), kWhite);
    for (size_t i = 0; i < pieces.size(); ++i) s.Paste(pieces[i], static_cast<int>(i) * pieces[0].w(), 0);
    return s;
}

Picture Arrow(const Size& z, bool pressed) {
    Picture p(z.arrW, z.arrH, pressed ? kPressedRow : kList);
    Chevron(p, z.arrW / 2.0, z.arrH / 2.0, z.arrW, z.arrH, pressed ? Hex(0x1F5F93) : Hex(0x7FA3C2));
    return p;
}

Picture Thumb(const Size& z, bool failed) {
    Picture p(z.thumbW, z.thumbH, failed ? Hex(0xE6E6E6) : Hex(0xDCE4EB));
    const double s = z.thumbH * 0.46;
    const Colour ink = failed ? Hex(0xB4B4B4) : Hex(0xB3C2CF);
    const bool caption = failed && z.thumbW >= 80;
    const double cy = caption ? z.thumbH * 0.4 : z.thumbH / 2.0;
    PictureIcon(p, z.thumbW / 2.0, cy, s, ink);
    if (failed) {
        // A crack across the picture: it could not be had.
        p.Draw(Capsule({z.thumbW / 2.0 - s * 0.1, cy - s * 0.5}, {z.thumbW / 2.0 + s * 0.12, cy + s * 0.5}, Px(s * 0.07)), Hex(0xE6E6E6));
    }
    if (caption) {
        RECT r{0, static_cast<LONG>(z.thumbH * 0.68), z.thumbW, static_cast<LONG>(z.thumbH * 0.92)};
        p.Text(L"暂无图片", r, Font(z.thumbH * 0.15), false, Hex(0x9A9A9A));
    }
    return p;
}

Picture Badge(const Size& z) {
    Picture p(z.badgeW, z.badgeH, Hex(0xE8452C));
    p.VGradient(0, 0, z.badgeW, z.badgeH, Hex(0xFF8450), Hex(0xE03A22));
    p.FillRect(0, 0, z.badgeW, 1, Hex(0xFFB08A));
    return p;
}

Picture TitleBar(const Size& z) {
    Picture p(16, z.titleH, kMain);
    p.VGradient(0, 0, 16, z.titleH, Hex(0x2A7FC0), Hex(0x004475));
    p.FillRect(0, 0, 16, 1, Hex(0x62AEE3));
    p.FillRect(0, z.titleH - 1, 16, z.titleH, Hex(0x00305A));
    return p;
}

void UpBarBackground(Picture& p) {
    p.VGradient(0, 0, p.w(), p.h(), Hex(0x12609C), Hex(0x003C6A));
    p.FillRect(0, p.h() - 1, p.w(), p.h(), Hex(0x002748));
}

Picture UpBar(const Size& z) {
    Picture p(16, z.logoH, kMain);
    UpBarBackground(p);
    return p;
}

Picture ProgramLogo(const Size& z) {
    Picture p(z.logoW, z.logoH, kMain);
    UpBarBackground(p);
    const double s = z.logoH * 0.62;
    const int fh = Font(z.logoH * 0.5), fs = Font(z.logoH * 0.3, 9);
    const int nameW = p.TextWidth(L"澜映", fh, true), subW = p.TextWidth(L"Lumeo", fs, false);
    const double gap = z.logoH * 0.16;
    bool sub = s + gap + nameW + gap + subW <= z.logoW - 4;
    double total = s + gap + nameW + (sub ? gap + subW : 0);
    double x = (z.logoW - total) / 2;
    PlayCircle(p, x + s / 2, z.logoH / 2.0, s, kAccent, kWhite);
    x += s + gap;
    RECT r{static_cast<LONG>(x), 0, static_cast<LONG>(x + nameW + 2), z.logoH - 1};
    p.Text(L"澜映", r, fh, true, kWhite, DT_LEFT | DT_VCENTER);
    if (sub) {
        x += nameW + gap;
        RECT r2{static_cast<LONG>(x), static_cast<LONG>(z.logoH * 0.12), static_cast<LONG>(x + subW + 2), z.logoH - 1};
        p.Text(L"Lumeo", r2, fs, false, Hex(0x9ED3F5), DT_LEFT | DT_VCENTER);
    }
    return p;
}

Picture StartupLogo(const Size& z) {
    Picture p(z.stupW, z.stupH, kWhite);
    const double s = z.stupH * 0.82;
    const int fh = Font(z.stupH * 0.36), fs = Font(z.stupH * 0.15, 9), ft = Font(z.stupH * 0.12, 9);
    const int nameW = p.TextWidth(L"澜映", fh, true);
    const double gap = z.stupH * 0.12;
    const double total = s + gap + std::max<double>(nameW, p.TextWidth(L"随时随地看视频", ft, false));
    const double x0 = (z.stupW - total) / 2, top = (z.stupH - s) / 2;
    Shape icon = RoundBox(x0, top, x0 + s, top + s, s * 0.22);
    p.Draw(RoundBox(x0, top + 2, x0 + s, top + s + 1, s * 0.22), Hex(0xC9DCEB));
    p.DrawGradient(icon, Hex(0x3FA1EA), kMain, top, top + s);
    p.Draw(RoundBox(x0 + s * 0.12, top + s * 0.06, x0 + s * 0.88, top + s * 0.1, 2), kWhite, 0.3);
    Play(p, x0 + s * 0.54, top + s / 2, s * 0.5, kWhite);
    p.Draw(Ring(x0 + s / 2, top + s / 2, s * 0.34, Px(s * 0.025)), kWhite, 0.85);
    const double tx = x0 + s + gap;
    RECT r1{static_cast<LONG>(tx), static_cast<LONG>(top), z.stupW, static_cast<LONG>(top + s * 0.52)};
    p.Text(L"澜映", r1, fh, true, kMain, DT_LEFT | DT_BOTTOM);
    RECT r2{static_cast<LONG>(tx + 2), static_cast<LONG>(top + s * 0.54), z.stupW, static_cast<LONG>(top + s * 0.76)};
    p.Text(L"Lumeo", r2, fs, true, kSky, DT_LEFT | DT_VCENTER);
    RECT r3{static_cast<LONG>(tx + 2), static_cast<LONG>(top + s * 0.76), z.stupW, static_cast<LONG>(top + s)};
    p.Text(L"随时随地看视频", r3, ft, false, Hex(0x7A8A99), DT_LEFT | DT_VCENTER);
    return p;
}

// The wait dialog's animation: a row of dots with a light running through it.
std::vector<Picture> WaitFrames(const Size& z) {
    const int n = 7;
    std::vector<Picture> frames;
    const double pitch = z.dlgW / static_cast<double>(n), r = std::min(pitch * 0.3, z.dlgH * 0.3);
    for (int f = 0; f < n; ++f) {
        Picture p(z.dlgW, z.dlgH, kWhite);
        for (int i = 0; i < n; ++i) {
            int behind = (f - i + n) % n;
            Colour c = behind == 0 ? kSky : behind == 1 ? Hex(0x7DB8EA) : behind == 2 ? Hex(0xA9CFEF) : Hex(0xD3E5F4);
            double rr = behind == 0 ? r : behind == 1 ? r * 0.85 : r * 0.7;
            p.Draw(Circle(pitch * (i + 0.5), z.dlgH / 2.0, rr), c);
        }
        frames.push_back(std::move(p));
    }
    return frames;
}

// The detail page's animation while related videos load: a striped bar, 137 x 20, on the
// page's own grey, so that no box shows around it.
std::vector<Picture> RelatedFrames() {
    const int w = 137, h = 20, n = 8;
    const double period = 16;
    std::vector<Picture> frames;
    for (int f = 0; f < n; ++f) {
        Picture p(w, h, Hex(0xEFEFEF));
        Shape bar = RoundBox(1, 4, w - 1, h - 4, 6);
        double phase = f * period / n;
        Shape stripes = [period, phase](double x, double y) {
            double u = std::fmod(x - y - phase + 1000 * period, period);
            return std::abs(u - period / 2) - period / 4;
        };
        p.Draw(bar, Hex(0xCFE6FA));
        p.Draw([bar, stripes](double x, double y) { return std::max(bar(x, y), stripes(x, y)); }, kSky);
        p.Draw(Outline(RoundBox(1.5, 4.5, w - 1.5, h - 4.5, 5.5), 0.5), Hex(0x1F77CF));
        frames.push_back(std::move(p));
    }
    return frames;
}

bool Save(const Picture& p, const std::filesystem::path& dir, const Size& z, const char* name) {
    std::string path = (dir / (std::string(z.prefix) + name)).string();
    if (!p.Save(path)) {
        std::fprintf(stderr, "skin-gen: cannot write %s\n", path.c_str());
        return false;
    }
    return true;
}

bool DrawSize(const std::filesystem::path& dir, const Size& z) {
    bool ok = true;
    // Tabs: pieces 3k normal, 3k+1 pressed, 3k+2 current.
    struct { const wchar_t* caption; IconFn icon; } tabs[] = {
        {L"推荐", Star}, {L"分类", Grid}, {L"搜索", Magnifier}, {L"排行", Bars}};
    std::vector<Picture> pieces;
    for (auto& t : tabs)
        for (Look l : {Look::Normal, Look::Pressed, Look::Current}) pieces.push_back(Tab(z, t.caption, t.icon, l));
    ok &= Save(Strip(pieces), dir, z, "bottomBtn.png");

    // Channels and rankings: pieces 2k normal, 2k+1 pressed.
    struct { const wchar_t* caption; IconFn icon; uint32_t colour; } channels[] = {
        {L"资讯", Newspaper, 0xE4573D}, {L"原创", Camera, 0x8C5CCF}, {L"音乐", Note, 0x1FA57A},
        {L"体育", Ball, 0xEE9A1A}, {L"搞笑", Smiley, 0xE2508C}, {L"推荐", Star, 0x2E8FD8}};
    pieces.clear();
    for (auto& c : channels)
        for (bool pressed : {false, true}) pieces.push_back(Tile(z.chanW, z.chanH, Hex(c.colour), kPage, c.caption, c.icon, pressed));
    ok &= Save(Strip(pieces), dir, z, "ClassifyBtn.png");

    struct { const wchar_t* caption; IconFn icon; uint32_t colour; } ranks[] = {
        {L"最受播放", Play, 0xF0A22E}, {L"最多收藏", Heart, 0xE5487A}, {L"最多评论", Bubble, 0x3AA3EE}};
    pieces.clear();
    for (auto& r : ranks)
        for (bool pressed : {false, true}) pieces.push_back(Tile(z.rankW, z.rankH, Hex(r.colour), kPage, r.caption, r.icon, pressed));
    ok &= Save(Strip(pieces), dir, z, "rankBtn.png");

    // Two-piece buttons: piece 0 normal, piece 1 pressed.
    auto pair = [&](int w, int h, Colour bg, Colour top, Colour bottom, const wchar_t* caption, IconFn icon, const char* name) {
        ok &= Save(Strip({Button(w, h, bg, top, bottom, caption, icon, false), Button(w, h, bg, top, bottom, caption, icon, true)}), dir, z, name);
    };
    pair(z.srchW, z.srchH, kPage, Hex(0x43A2EA), Hex(0x1A6CB5), L"搜索", Magnifier, "srchBtn.png");
    pair(z.clrW, z.clrH, kClearArea, Hex(0x86A5BF), Hex(0x5B7B97), L"清空", Cross, "srchClear.png");
    pair(z.dtlW, z.dtlH, kList, Hex(0xFFAA45), Hex(0xEE7A00), L"播放", Play, "dtlBtn.png");

    ok &= Save(Strip({Arrow(z, false), Arrow(z, true)}), dir, z, "lumeoArrow.png");
    ok &= Save(Thumb(z, true), dir, z, "emptyPic.png");
    ok &= Save(Thumb(z, false), dir, z, "picBk.png");
    ok &= Save(TitleBar(z), dir, z, "innerTitleBar.png");
    ok &= Save(ProgramLogo(z), dir, z, "pgrmLogo.png");
    ok &= Save(UpBar(z), dir, z, "pgrmUpBar.png");
    ok &= Save(Badge(z), dir, z, "rankNumbk.png");
    ok &= Save(StartupLogo(z), dir, z, "stupLogo.png");

    for (auto [frames, name] : {std::pair{WaitFrames(z), "dlg.gif"}, std::pair{RelatedFrames(), "relVideo.gif"}}) {
        std::string path = (dir / (std::string(z.prefix) + name)).string();
        if (!WriteGif(path, frames, 12)) {
            std::fprintf(stderr, "skin-gen: cannot write %s\n", path.c_str());
            ok = false;
        }
    }
    return ok;
}

}  // namespace

const char kUsage[] =
    "usage: skin-gen OUTPUT-FOLDER\n"
    "Draws the default skin (every picture, strip and animation of the five screen sizes,\n"
    "def_<long>_<short>_<file>) into OUTPUT-FOLDER, which is made if missing.\n"
    "  -h, --help   this text\n";

int main(int argc, char** argv) {
    std::string arg = argc == 2 ? argv[1] : "";
    if (arg == "--help" || arg == "-h") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    // An option it does not know is not a folder name.
    if (argc != 2 || arg.empty() || arg[0] == '-') {
        if (argc == 2) std::fprintf(stderr, "skin-gen: unknown option %s\n", arg.c_str());
        std::fputs(kUsage, stderr);
        return 2;
    }
    std::filesystem::path dir(argv[1]);
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) {
        std::fprintf(stderr, "skin-gen: cannot create %s: %s\n", dir.string().c_str(), ec.message().c_str());
        return 1;
    }
    bool ok = true;
    for (const Size& z : kSizes) ok &= DrawSize(dir, z);
    return ok ? 0 : 1;
}
