// The "edit" control: single line (horizontal auto-scroll) and multi-line (word-wrapped,
// with a vertical scroll bar for the pen), limits counted in UTF-16 units as on the phone.
#include <algorithm>

#include "draw.h"
#include "platform/codepage.h"
#include "wm.h"

namespace platform::ui::detail {

namespace {

struct Line {
    size_t start, length;
};

struct EditState : ControlState {
    size_t selStart = 0, selEnd = 0;  // selEnd is the caret
    size_t anchor = 0;
    size_t limit = 30000;
    int scrollX = 0;      // single line: pixels scrolled
    int firstLine = 0;    // multi-line: first visible line
    bool readOnly = false;
    bool modified = false;
    bool selecting = false;
    bool draggingThumb = false;
    int thumbGrab = 0;
    bool caretOn = false;  // the blinking caret's phase while the edit has the focus
};

// The caret blinks on its own timer, half a period on and half off, as the phone's does.
const UINT_PTR kCaretTimer = 0xCA7E;
const UINT kCaretBlinkMs = 530;

std::shared_ptr<EditState> StateOf(HWND h) {
    auto w = Find(h);
    if (!w) return nullptr;
    auto s = std::dynamic_pointer_cast<EditState>(w->control);
    if (!s) {
        s = std::make_shared<EditState>();
        s->readOnly = (w->style & ES_READONLY) != 0;
        w->control = s;
    }
    return s;
}

std::wstring GetText(HWND h) {
    auto w = Find(h);
    if (!w) return L"";
    std::lock_guard lk(M().mu);
    return w->text;
}

void PutText(HWND h, const std::wstring& t) {
    auto w = Find(h);
    if (!w) return;
    std::lock_guard lk(M().mu);
    w->text = t;
}

bool Multi(HWND h) { return (GetWindowLongW(h, GWL_STYLE) & ES_MULTILINE) != 0; }

HFONT FontOf(HWND h) {
    auto w = Find(h);
    return w && w->font ? w->font : UiFont(UiTextHeight());
}

size_t Utf16Units(const std::wstring& s) {
    size_t n = 0;
    for (wchar_t c : s) n += static_cast<uint32_t>(c) > 0xFFFF ? 2 : 1;
    return n;
}

int LineHeight(HWND h) {
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ of = SelectObject(dc, FontOf(h));
    TEXTMETRICW tm{};
    GetTextMetricsW(dc, &tm);
    SelectObject(dc, of);
    DeleteDC(dc);
    return std::max<int>(1, tm.tmHeight + tm.tmExternalLeading);
}

int Width(HWND h, const std::wstring& s, size_t from, size_t n) {
    if (n == 0) return 0;
    SIZE sz = TextSize(FontOf(h), s.substr(from, n));
    return sz.cx;
}

int ScrollBarWidth(HWND h) {
    return (GetWindowLongW(h, GWL_STYLE) & WS_VSCROLL) ? GetSystemMetrics(SM_CXVSCROLL) : 0;
}

const int kPad = 3;

// The caret shows at once where it now stands and blinks on from there.
void WakeCaret(HWND h, const std::shared_ptr<EditState>& s) {
    if (GetFocus() != h) return;
    s->caretOn = true;
    SetSystemTimer(h, kCaretTimer, kCaretBlinkMs);
    InvalidateRect(h, nullptr, FALSE);
}

// Visual lines of a multi-line edit: paragraphs at line breaks, wrapped where a line may end
// (after blanks, between Chinese characters) and between any two characters otherwise.
std::vector<Line> Wrap(HWND h, const std::wstring& text, int width) {
    std::vector<Line> lines;
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ of = SelectObject(dc, FontOf(h));
    size_t i = 0;
    for (;;) {
        size_t end = text.find_first_of(L"\r\n", i);
        size_t para = (end == std::wstring::npos ? text.size() : end) - i;
        size_t pos = i;
        do {
            size_t left = i + para - pos;
            int fit = 0;
            SIZE sz;
            GetTextExtentExPointW(dc, text.c_str() + pos, static_cast<int>(left), std::max(1, width), &fit, nullptr,
                                  &sz);
            size_t take = std::max<size_t>(1, static_cast<size_t>(fit));
            if (take < left) {
                if (text[pos + take] == L' ') {
                    ++take;  // the blank ends this line
                } else {
                    for (size_t k = take; k > 0; --k)
                        if (platform::MayBreakBetween(text[pos + k - 1], text[pos + k])) {
                            take = k;
                            break;
                        }
                }
            }
            take = std::min(take, left);
            lines.push_back(Line{pos, take});
            pos += take;
        } while (pos < i + para);
        if (para == 0 && (lines.empty() || lines.back().start != i)) lines.push_back(Line{i, 0});
        if (end == std::wstring::npos) break;
        i = end + 1;
        if (text[end] == L'\r' && i < text.size() && text[i] == L'\n') ++i;
    }
    SelectObject(dc, of);
    DeleteDC(dc);
    return lines;
}

RECT TextArea(HWND h) {
    RECT c;
    GetClientRect(h, &c);
    c.left += kPad;
    c.top += kPad;
    c.right -= kPad + ScrollBarWidth(h);
    c.bottom -= kPad;
    return c;
}

void Notify(HWND h, WORD code) {
    HWND p = GetParent(h);
    if (p) SendMessageW(p, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(h), code), reinterpret_cast<LPARAM>(h));
}

size_t LineOf(const std::vector<Line>& lines, size_t pos) {
    for (size_t i = lines.size(); i-- > 0;)
        if (lines[i].start <= pos) return i;
    return 0;
}

void KeepCaretVisible(HWND h, const std::shared_ptr<EditState>& s) {
    std::wstring t = GetText(h);
    RECT a = TextArea(h);
    if (Multi(h)) {
        auto lines = Wrap(h, t, a.right - a.left);
        int visible = std::max(1, static_cast<int>(a.bottom - a.top) / LineHeight(h));
        int li = static_cast<int>(LineOf(lines, s->selEnd));
        if (li < s->firstLine) s->firstLine = li;
        if (li >= s->firstLine + visible) s->firstLine = li - visible + 1;
        return;
    }
    int caretX = Width(h, t, 0, s->selEnd);
    int w = a.right - a.left;
    if (caretX - s->scrollX > w) s->scrollX = caretX - w + w / 4;
    if (caretX < s->scrollX) s->scrollX = std::max(0, caretX - w / 4);
    int total = Width(h, t, 0, t.size());
    if (total - s->scrollX < w) s->scrollX = std::max(0, total - w);
}

void Replace(HWND h, const std::shared_ptr<EditState>& s, const std::wstring& with, bool notify) {
    std::wstring t = GetText(h);
    size_t a = std::min(s->selStart, s->selEnd), b = std::max(s->selStart, s->selEnd);
    a = std::min(a, t.size());
    b = std::min(b, t.size());
    std::wstring ins = with;
    if (!Multi(h)) {
        // One line: line breaks end the text typed.
        auto cut = ins.find_first_of(L"\r\n");
        if (cut != std::wstring::npos) ins.resize(cut);
    }
    size_t room = s->limit - std::min(s->limit, Utf16Units(t) - Utf16Units(t.substr(a, b - a)));
    // Cut what does not fit, never splitting a character.
    size_t keep = 0, units = 0;
    while (keep < ins.size()) {
        size_t u = static_cast<uint32_t>(ins[keep]) > 0xFFFF ? 2 : 1;
        if (units + u > room) break;
        units += u;
        ++keep;
    }
    bool clipped = keep < ins.size();
    ins.resize(keep);
    t.replace(a, b - a, ins);
    PutText(h, t);
    s->selStart = s->selEnd = s->anchor = a + ins.size();
    s->modified = true;
    KeepCaretVisible(h, s);
    InvalidateRect(h, nullptr, FALSE);
    WakeCaret(h, s);
    if (notify) {
        Notify(h, EN_UPDATE);
        Notify(h, EN_CHANGE);
        if (clipped) Notify(h, EN_MAXTEXT);
    }
}

size_t HitPos(HWND h, const std::shared_ptr<EditState>& s, POINT p) {
    std::wstring t = GetText(h);
    RECT a = TextArea(h);
    size_t from = 0, len = t.size();
    int x = p.x - a.left;
    if (Multi(h)) {
        auto lines = Wrap(h, t, a.right - a.left);
        int li = s->firstLine + std::max(0, static_cast<int>(p.y - a.top)) / LineHeight(h);
        li = std::min(li, static_cast<int>(lines.size()) - 1);
        if (li < 0) return 0;
        from = lines[static_cast<size_t>(li)].start;
        len = lines[static_cast<size_t>(li)].length;
    } else {
        x += s->scrollX;
    }
    for (size_t i = 0; i < len; ++i) {
        int mid = (Width(h, t, from, i) + Width(h, t, from, i + 1)) / 2;
        if (x < mid) return from + i;
    }
    return from + len;
}

void ThumbGeometry(HWND h, const std::shared_ptr<EditState>& s, int* total, int* visible, RECT* track, RECT* thumb) {
    RECT c;
    GetClientRect(h, &c);
    RECT a = TextArea(h);
    *total = static_cast<int>(Wrap(h, GetText(h), a.right - a.left).size());
    *visible = std::max(1, static_cast<int>(a.bottom - a.top) / LineHeight(h));
    *track = RECT{c.right - ScrollBarWidth(h), c.top, c.right, c.bottom};
    int th = track->bottom - track->top;
    int len = *total <= *visible ? th : std::max(ScrollBarWidth(h), th * *visible / *total);
    int range = std::max(1, *total - *visible);
    int top = *total <= *visible ? 0 : (th - len) * s->firstLine / range;
    *thumb = RECT{track->left, track->top + top, track->right, track->top + top + len};
}

void Paint(HWND h, HDC dc, const std::shared_ptr<EditState>& s) {
    RECT c;
    GetClientRect(h, &c);
    FillSolid(dc, c, RGB(255, 255, 255));
    Frame(dc, c, GetFocus() == h ? kAccent : kEdge);
    std::wstring t = GetText(h);
    RECT a = TextArea(h);
    HFONT font = FontOf(h);
    int lh = LineHeight(h);
    size_t sa = std::min(s->selStart, s->selEnd), sb = std::max(s->selStart, s->selEnd);
    bool focused = GetFocus() == h;
    if (ScrollBarWidth(h)) {
        int total, visible;
        RECT track, thumb;
        ThumbGeometry(h, s, &total, &visible, &track, &thumb);
        FillSolid(dc, track, kFaint);
        if (total > visible) RoundBox(dc, thumb, kEdge, kEdge, ScrollBarWidth(h) / 2);
    }
    IntersectClipRect(dc, a.left, a.top, a.right, a.bottom);
    auto drawRun = [&](size_t from, size_t len, int x, int y) {
        // Selection behind the text, then the text, then the caret.
        if (sb > sa) {
            size_t s0 = std::clamp(sa, from, from + len), s1 = std::clamp(sb, from, from + len);
            if (s1 > s0) {
                int x0 = x + Width(h, t, from, s0 - from), x1 = x + Width(h, t, from, s1 - from);
                FillSolid(dc, RECT{x0, y, x1, y + lh}, RGB(0xB8, 0xD4, 0xF8));
            }
        }
        RECT r{x, y, a.right + 10000, y + lh};
        Text(dc, t.substr(from, len), r, DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOPREFIX | DT_NOCLIP, kText, font);
        if (focused && s->caretOn && s->selEnd >= from && s->selEnd <= from + len) {
            int cx = x + Width(h, t, from, s->selEnd - from);
            FillSolid(dc, RECT{cx, y, cx + 1, y + lh}, kText);
        }
    };
    if (Multi(h)) {
        auto lines = Wrap(h, t, a.right - a.left);
        int y = a.top;
        for (size_t i = static_cast<size_t>(std::max(0, s->firstLine)); i < lines.size() && y < a.bottom; ++i, y += lh) {
            drawRun(lines[i].start, lines[i].length, a.left, y);
        }
    } else {
        drawRun(0, t.size(), a.left - s->scrollX, a.top + std::max(0, static_cast<int>(a.bottom - a.top) - lh) / 2);
    }
}

void ScrollLines(HWND h, const std::shared_ptr<EditState>& s, int delta) {
    int total, visible;
    RECT track, thumb;
    ThumbGeometry(h, s, &total, &visible, &track, &thumb);
    s->firstLine = std::clamp(s->firstLine + delta, 0, std::max(0, total - visible));
    InvalidateRect(h, nullptr, FALSE);
}

POINT PointOf(LPARAM lp) { return POINT{static_cast<SHORT>(LOWORD(lp)), static_cast<SHORT>(HIWORD(lp))}; }

}  // namespace

LRESULT EditProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto s = StateOf(h);
    if (!s) return 0;
    switch (msg) {
    case WM_CREATE: {
        auto* cs = reinterpret_cast<CREATESTRUCTW*>(lParam);
        if (cs && cs->lpszName && !IS_INTRESOURCE(cs->lpszName)) PutText(h, cs->lpszName);
        return 0;
    }
    case WM_ERASEBKGND: return 1;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(h, &ps);
        Paint(h, dc, s);
        EndPaint(h, &ps);
        return 0;
    }
    case WM_SETTEXT: {
        auto* text = reinterpret_cast<LPCWSTR>(lParam);
        PutText(h, text ? text : L"");
        s->selStart = s->selEnd = s->anchor = 0;
        s->scrollX = 0;
        s->firstLine = 0;
        s->modified = false;
        InvalidateRect(h, nullptr, FALSE);
        WakeCaret(h, s);
        Notify(h, EN_CHANGE);
        return TRUE;
    }
    case WM_SETFONT: {
        LRESULT r = DefWindowProcW(h, msg, wParam, lParam);
        KeepCaretVisible(h, s);
        InvalidateRect(h, nullptr, FALSE);
        return r;
    }
    case WM_SETFOCUS:
        InvalidateRect(h, nullptr, FALSE);
        WakeCaret(h, s);
        Notify(h, EN_SETFOCUS);
        return 0;
    case WM_KILLFOCUS:
        KillTimer(h, kCaretTimer);
        s->caretOn = false;
        InvalidateRect(h, nullptr, FALSE);
        Notify(h, EN_KILLFOCUS);
        return 0;
    case WM_TIMER:
        if (wParam != kCaretTimer) return DefWindowProcW(h, msg, wParam, lParam);
        if (GetFocus() != h) {
            KillTimer(h, kCaretTimer);
            s->caretOn = false;
        } else {
            s->caretOn = !s->caretOn;
        }
        InvalidateRect(h, nullptr, FALSE);
        return 0;
    case WM_GETDLGCODE: return 0x0081;  // wants characters and arrows
    case WM_CHAR: {
        auto c = static_cast<wchar_t>(wParam);
        if (s->readOnly) return 0;
        if (c == L'\b') {
            if (s->selStart == s->selEnd && s->selEnd > 0) {
                std::wstring t = GetText(h);
                size_t back = 1;
                if (s->selEnd >= 2 && t[s->selEnd - 1] == L'\n' && t[s->selEnd - 2] == L'\r') back = 2;
                s->selStart = s->selEnd - back;
            }
            Replace(h, s, L"", true);
        } else if (c == L'\r') {
            if (Multi(h)) Replace(h, s, L"\r\n", true);
        } else if (c >= 0x20 && c != 0x7F) {
            Replace(h, s, std::wstring(1, c), true);
        }
        return 0;
    }
    case WM_KEYDOWN: {
        std::wstring t = GetText(h);
        size_t& caret = s->selEnd;
        switch (wParam) {
        case VK_LEFT:
            if (caret > 0) --caret;
            break;
        case VK_RIGHT:
            if (caret < t.size()) ++caret;
            break;
        case VK_HOME: caret = 0; break;
        case VK_END: caret = t.size(); break;
        case VK_UP:
        case VK_DOWN:
            if (Multi(h)) ScrollLines(h, s, wParam == VK_UP ? -1 : 1);
            return 0;
        case VK_DELETE:
            if (!s->readOnly) {
                if (s->selStart == s->selEnd && caret < t.size()) s->selEnd = caret + 1;
                Replace(h, s, L"", true);
            }
            return 0;
        default: return 0;
        }
        s->selStart = s->anchor = caret;
        KeepCaretVisible(h, s);
        InvalidateRect(h, nullptr, FALSE);
        WakeCaret(h, s);
        return 0;
    }
    case WM_LBUTTONDOWN: {
        if (GetFocus() != h) SetFocus(h);
        POINT p = PointOf(lParam);
        RECT c;
        GetClientRect(h, &c);
        if (ScrollBarWidth(h) && p.x >= c.right - ScrollBarWidth(h)) {
            int total, visible;
            RECT track, thumb;
            ThumbGeometry(h, s, &total, &visible, &track, &thumb);
            if (PtInRect(&thumb, p)) {
                s->draggingThumb = true;
                s->thumbGrab = p.y - thumb.top;
                SetCapture(h);
            } else {
                ScrollLines(h, s, p.y < thumb.top ? -visible : visible);
            }
            return 0;
        }
        s->anchor = s->selStart = s->selEnd = HitPos(h, s, p);
        s->selecting = true;
        SetCapture(h);
        InvalidateRect(h, nullptr, FALSE);
        WakeCaret(h, s);
        return 0;
    }
    case WM_MOUSEMOVE: {
        POINT p = PointOf(lParam);
        if (s->draggingThumb) {
            int total, visible;
            RECT track, thumb;
            ThumbGeometry(h, s, &total, &visible, &track, &thumb);
            int free = (track.bottom - track.top) - (thumb.bottom - thumb.top);
            if (free > 0 && total > visible) {
                int top = std::clamp(static_cast<int>(p.y - s->thumbGrab - track.top), 0, free);
                s->firstLine = top * (total - visible) / free;
                InvalidateRect(h, nullptr, FALSE);
            }
        } else if (s->selecting) {
            s->selEnd = HitPos(h, s, p);
            s->selStart = s->anchor;
            KeepCaretVisible(h, s);
            InvalidateRect(h, nullptr, FALSE);
            WakeCaret(h, s);
        }
        return 0;
    }
    case WM_LBUTTONUP:
        s->selecting = s->draggingThumb = false;
        if (GetCapture() == h) ReleaseCapture();
        return 0;
    case EM_GETSEL: {
        DWORD a = static_cast<DWORD>(std::min(s->selStart, s->selEnd)), b = static_cast<DWORD>(std::max(s->selStart, s->selEnd));
        if (wParam) *reinterpret_cast<DWORD*>(wParam) = a;
        if (lParam) *reinterpret_cast<DWORD*>(lParam) = b;
        return MAKELONG(std::min<DWORD>(a, 0xFFFF), std::min<DWORD>(b, 0xFFFF));
    }
    case EM_SETSEL: {
        size_t n = GetText(h).size();
        auto start = static_cast<INT_PTR>(wParam), end = static_cast<INT_PTR>(lParam);
        if (start == -1) {
            s->selStart = s->selEnd;  // -1 removes the selection
        } else {
            s->selStart = std::min(static_cast<size_t>(std::max<INT_PTR>(0, start)), n);
            s->selEnd = end < 0 ? n : std::min(static_cast<size_t>(end), n);
        }
        s->anchor = s->selStart;
        KeepCaretVisible(h, s);
        InvalidateRect(h, nullptr, FALSE);
        WakeCaret(h, s);
        return 0;
    }
    case EM_REPLACESEL: {
        auto* text = reinterpret_cast<LPCWSTR>(lParam);
        Replace(h, s, text ? text : L"", false);
        return 0;
    }
    case EM_LIMITTEXT:
        s->limit = wParam ? static_cast<size_t>(wParam) : 0x7FFFFFFE;
        return 0;
    case EM_GETLIMITTEXT: return static_cast<LRESULT>(s->limit);
    case EM_SETREADONLY:
        s->readOnly = wParam != 0;
        return TRUE;
    case EM_GETMODIFY: return s->modified;
    case EM_SETMODIFY: s->modified = wParam != 0; return 0;
    case EM_GETLINECOUNT: {
        if (!Multi(h)) return 1;
        RECT a = TextArea(h);
        return static_cast<LRESULT>(Wrap(h, GetText(h), a.right - a.left).size());
    }
    case EM_GETFIRSTVISIBLELINE: return Multi(h) ? s->firstLine : 0;
    case EM_LINESCROLL:
        if (Multi(h)) ScrollLines(h, s, static_cast<int>(lParam));
        return TRUE;
    case EM_SCROLL: {
        int total, visible;
        RECT track, thumb;
        ThumbGeometry(h, s, &total, &visible, &track, &thumb);
        int d = wParam == SB_LINEUP ? -1 : wParam == SB_LINEDOWN ? 1 : wParam == SB_PAGEUP ? -visible : visible;
        ScrollLines(h, s, d);
        return MAKELONG(d, TRUE);
    }
    case EM_SCROLLCARET: KeepCaretVisible(h, s); InvalidateRect(h, nullptr, FALSE); return TRUE;
    case WM_VSCROLL:
        if (Multi(h)) SendMessageW(h, EM_SCROLL, LOWORD(wParam), 0);
        return 0;
    default: return DefWindowProcW(h, msg, wParam, lParam);
    }
}

}  // namespace platform::ui::detail
