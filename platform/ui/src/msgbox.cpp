// MessageBoxW: a phone-style box (caption band, icon, wrapped text, a row of buttons)
// with its own modal loop on the calling thread; answered by a tap, the soft keys, a
// scripted answer or the test hook.
#include <algorithm>
#include <cstdio>
#include <deque>

#include "draw.h"
#include "platform/codepage.h"
#include "platform/lasterror.h"
#include "platform/sync.h"
#include "wm.h"

namespace platform::ui::detail {

namespace {

struct BoxButton {
    int result;
    std::wstring label;
    RECT rc{};
};

struct BoxState : ControlState {
    std::wstring text, caption;
    UINT type = 0;
    std::vector<BoxButton> buttons;
    int pressed = -1;
    int result = 0;
    bool painted = false;
    RECT captionRc{}, iconRc{}, textRc{};
};

struct Shared {
    std::mutex mu;
    MessageBoxHook hook;
    std::vector<MessageBoxRecord> history;
    std::deque<int> pendingAnswers;
    std::vector<HWND> open;  // boxes on screen, oldest first
    std::string reportAs;    // the program's name once its headless boxes are reported
};

Shared& G() {
    static auto* s = new Shared;
    return *s;
}

std::vector<BoxButton> ButtonsFor(UINT type) {
    switch (type & MB_TYPEMASK) {
    case MB_OKCANCEL: return {{IDOK, L"确定"}, {IDCANCEL, L"取消"}};
    case MB_ABORTRETRYIGNORE: return {{IDABORT, L"中止"}, {IDRETRY, L"重试"}, {IDIGNORE, L"忽略"}};
    case MB_YESNOCANCEL: return {{IDYES, L"是"}, {IDNO, L"否"}, {IDCANCEL, L"取消"}};
    case MB_YESNO: return {{IDYES, L"是"}, {IDNO, L"否"}};
    case MB_RETRYCANCEL: return {{IDRETRY, L"重试"}, {IDCANCEL, L"取消"}};
    default: return {{IDOK, L"确定"}};
    }
}

int DefaultAnswer(UINT type) {
    auto b = ButtonsFor(type);
    size_t i = (type & MB_DEFMASK) >> 8;
    return b[std::min(i, b.size() - 1)].result;
}

// The answer of the back key: cancel where there is one, else no, else the only button.
int BackAnswer(const std::vector<BoxButton>& b) {
    for (int want : {IDCANCEL, IDNO})
        for (auto& x : b)
            if (x.result == want) return want;
    return b.back().result;
}

std::shared_ptr<BoxState> StateOf(HWND h) {
    auto w = Find(h);
    return w ? std::dynamic_pointer_cast<BoxState>(w->control) : nullptr;
}

void DrawIcon(HDC dc, const RECT& r, UINT type) {
    UINT icon = type & MB_ICONMASK;
    if (!icon) return;
    COLORREF c = icon == MB_ICONHAND ? RGB(0xD0, 0x30, 0x30)
                 : icon == MB_ICONEXCLAMATION ? RGB(0xE8, 0xA0, 0x10)
                                              : kAccent;
    HBRUSH b = CreateSolidBrush(c);
    HPEN p = CreatePen(PS_SOLID, 1, c);
    HGDIOBJ ob = SelectObject(dc, b), op = SelectObject(dc, p);
    Ellipse(dc, r.left, r.top, r.right, r.bottom);
    SelectObject(dc, ob);
    SelectObject(dc, op);
    DeleteObject(b);
    DeleteObject(p);
    const wchar_t* glyph = icon == MB_ICONHAND ? L"×" : icon == MB_ICONQUESTION ? L"?" : icon == MB_ICONEXCLAMATION ? L"!" : L"i";
    Text(dc, glyph, r, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX, RGB(255, 255, 255),
         UiFont((r.bottom - r.top) * 3 / 4, true));
}

void Layout(const std::shared_ptr<BoxState>& s, int width, int* height) {
    int t = UiTextHeight();
    int m = t * 2 / 3;
    s->captionRc = RECT{0, 0, width, t * 2};
    int top = s->captionRc.bottom + m;
    int left = m;
    if (s->type & MB_ICONMASK) {
        s->iconRc = RECT{m, top, m + t * 2, top + t * 2};
        left = s->iconRc.right + m;
    } else {
        s->iconRc = RECT{0, 0, 0, 0};
    }
    RECT calc{left, top, width - m, top + t};
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ of = SelectObject(dc, UiFont(t));
    DrawTextW(dc, s->text.c_str(), static_cast<int>(s->text.size()), &calc,
              DT_WORDBREAK | DT_NOPREFIX | DT_EDITCONTROL | DT_CALCRECT);
    SelectObject(dc, of);
    DeleteDC(dc);
    int textBottom = std::max<int>(calc.bottom, s->iconRc.bottom);
    s->textRc = RECT{left, top, width - m, textBottom};
    int bh = t * 2, gap = m;
    int n = static_cast<int>(s->buttons.size());
    int bw = std::min((width - gap * (n + 1)) / n, t * 5);
    int x = (width - (bw * n + gap * (n - 1))) / 2;
    int y = textBottom + m + m / 2;
    for (auto& b : s->buttons) {
        b.rc = RECT{x, y, x + bw, y + bh};
        x += bw + gap;
    }
    *height = y + bh + m;
}

int HitButton(const std::shared_ptr<BoxState>& s, POINT p) {
    for (size_t i = 0; i < s->buttons.size(); ++i)
        if (PtInRect(&s->buttons[i].rc, p)) return static_cast<int>(i);
    return -1;
}

void Finish(HWND h, int result) {
    if (auto s = StateOf(h); s && !s->result) {
        s->result = result;
        PostMessageW(h, WM_NULL, 0, 0);  // wake its loop
    }
}

LRESULT BoxProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto s = StateOf(h);
    if (!s) return DefWindowProcW(h, msg, wParam, lParam);
    switch (msg) {
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(h, &ps);
        RECT c;
        GetClientRect(h, &c);
        FillSolid(dc, c, RGB(255, 255, 255));
        Frame(dc, c, kAccentDark, 2);
        FillSolid(dc, s->captionRc, kAccent);
        int t = UiTextHeight();
        RECT cap = s->captionRc;
        cap.left += t / 2;
        Text(dc, s->caption, cap, DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS,
             RGB(255, 255, 255), UiFont(t, true));
        DrawIcon(dc, s->iconRc, s->type);
        Text(dc, s->text, s->textRc, DT_WORDBREAK | DT_NOPREFIX | DT_EDITCONTROL, kText, UiFont(t));
        for (size_t i = 0; i < s->buttons.size(); ++i) {
            auto& b = s->buttons[i];
            bool down = static_cast<int>(i) == s->pressed;
            RoundBox(dc, b.rc, down ? kAccentDark : kFaint, kEdge, t / 2);
            Text(dc, b.label, b.rc, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX,
                 down ? RGB(255, 255, 255) : kText, UiFont(t));
        }
        EndPaint(h, &ps);
        s->painted = true;
        return 0;
    }
    case WM_LBUTTONDOWN:
        s->pressed = HitButton(s, POINT{static_cast<SHORT>(LOWORD(lParam)), static_cast<SHORT>(HIWORD(lParam))});
        SetCapture(h);
        InvalidateRect(h, nullptr, FALSE);
        return 0;
    case WM_LBUTTONUP: {
        int hit = HitButton(s, POINT{static_cast<SHORT>(LOWORD(lParam)), static_cast<SHORT>(HIWORD(lParam))});
        int was = s->pressed;
        s->pressed = -1;
        ReleaseCapture();
        InvalidateRect(h, nullptr, FALSE);
        if (hit >= 0 && hit == was) Finish(h, s->buttons[static_cast<size_t>(hit)].result);
        return 0;
    }
    case WM_KEYDOWN:
        switch (wParam) {
        case VK_TSOFT1: Finish(h, s->buttons.front().result); break;
        case VK_TSOFT2: Finish(h, s->buttons.back().result); break;
        case VK_RETURN: Finish(h, DefaultAnswer(s->type)); break;
        case VK_ESCAPE: Finish(h, BackAnswer(s->buttons)); break;
        default: break;
        }
        return 0;
    case WM_CLOSE: Finish(h, BackAnswer(s->buttons)); return 0;
    default: return DefWindowProcW(h, msg, wParam, lParam);
    }
}

void Record(HWND owner, const std::wstring& text, const std::wstring& caption, UINT type, int result) {
    std::lock_guard lk(G().mu);
    G().history.push_back(MessageBoxRecord{owner, text, caption, type, result});
}

int ShowBox(HWND owner, const std::wstring& text, const std::wstring& caption, UINT type) {
    static std::once_flag once;
    std::call_once(once, [] {
        WNDCLASSW wc{};
        wc.lpfnWndProc = BoxProc;
        wc.lpszClassName = L"#MessageBox";
        RegisterClassW(&wc);
    });
    auto st = std::make_shared<BoxState>();
    st->text = text;
    st->caption = caption;
    st->type = type;
    st->buttons = ButtonsFor(type);
    int sw = GetSystemMetrics(SM_CXSCREEN), sh = GetSystemMetrics(SM_CYSCREEN);
    int width = sw * 9 / 10, height = 0;
    Layout(st, width, &height);
    height = std::min(height, sh);
    HWND topOwner = owner ? TopLevelOf(owner) : nullptr;
    HWND box = CreateWindowExW(WS_EX_TOPMOST, L"#MessageBox", caption.c_str(), WS_POPUP, (sw - width) / 2,
                               (sh - height) / 2, width, height, topOwner, nullptr, nullptr, nullptr);
    if (!box) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    Find(box)->control = st;
    bool ownerWasEnabled = topOwner && IsWindowEnabled(topOwner);
    if (ownerWasEnabled) EnableWindow(topOwner, FALSE);
    HWND oldFocus = GetFocus();
    ShowWindow(box, SW_SHOW);
    SetFocus(box);
    {
        std::lock_guard lk(G().mu);
        G().open.push_back(box);
    }
    bool quit = false;
    while (!st->result && IsWindow(box)) {
        if (st->painted) {
            std::lock_guard lk(G().mu);
            if (!G().pendingAnswers.empty() && G().open.front() == box) {
                st->result = G().pendingAnswers.front();
                G().pendingAnswers.pop_front();
                break;
            }
        }
        if (!ModalPump()) {
            quit = true;
            break;
        }
    }
    {
        std::lock_guard lk(G().mu);
        std::erase(G().open, box);
    }
    int result = st->result ? st->result : (quit ? DefaultAnswer(type) : 0);
    if (ownerWasEnabled) EnableWindow(topOwner, TRUE);
    if (IsWindow(box)) DestroyWindow(box);
    if (oldFocus && IsWindow(oldFocus)) SetFocus(oldFocus);
    return result;
}

}  // namespace

bool MessageBoxWaiting() {
    std::lock_guard lk(G().mu);
    return !G().open.empty() && G().pendingAnswers.empty();
}

}  // namespace platform::ui::detail

using namespace platform::ui::detail;

namespace platform::ui {

void SetMessageBoxHook(MessageBoxHook hook) {
    std::lock_guard lk(G().mu);
    G().hook = std::move(hook);
}

std::vector<MessageBoxRecord> MessageBoxHistory() {
    std::lock_guard lk(G().mu);
    return G().history;
}

void ClearMessageBoxHistory() {
    std::lock_guard lk(G().mu);
    G().history.clear();
}

void ReportHeadlessMessageBoxes(const std::string& program) {
    std::lock_guard lk(G().mu);
    G().reportAs = program;
}

void AnswerNextMessageBox(int answer) {
    std::lock_guard lk(G().mu);
    G().pendingAnswers.push_back(answer);
    if (!G().open.empty()) PostMessageW(G().open.front(), WM_NULL, 0, 0);
}

}  // namespace platform::ui

int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
    std::wstring t = text ? text : L"";
    // No caption: the phone shows its own word for an error box.
    std::wstring c = caption ? caption : L"错误";
    platform::ui::MessageBoxHook hook;
    {
        std::lock_guard lk(G().mu);
        hook = G().hook;
    }
    if (hook) {
        int r = hook(owner, t, c, type);
        if (r) {
            Record(owner, t, c, type, r);
            return r;
        }
    }
    std::string reportAs;
    {
        std::lock_guard lk(G().mu);
        reportAs = G().reportAs;
    }
    if (!reportAs.empty() && platform::ui::DisplayRunning() && platform::ui::DisplayIsHeadless()) {
        std::fprintf(stderr, "%s: %s: %s\n", reportAs.c_str(), platform::WideToUtf8(c).c_str(),
                     platform::WideToUtf8(t).c_str());
        std::fflush(stderr);
        if (!platform::ui::DisplayHasScript()) {
            int r = DefaultAnswer(type);
            Record(owner, t, c, type, r);
            return r;
        }
    }
    int r;
    if (platform::ui::DisplayRunning()) {
        r = ShowBox(owner, t, c, type);
    } else {
        // Nobody can see or answer a box: it gives its default button.
        r = DefaultAnswer(type);
    }
    Record(owner, t, c, type, r);
    return r;
}
