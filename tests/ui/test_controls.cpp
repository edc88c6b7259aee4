// The edit control (typing through the display's text input, limits, selection), the
// owner-drawn button and the progress bar.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "platform/commctrl.h"
#include "platform/gdi.h"
#include "platform/sync.h"
#include "platform/ui.h"
#include "platform/winuser.h"

namespace {

std::vector<std::pair<UINT, UINT>> g_items;  // (CtlID, itemState) of WM_DRAWITEM
std::vector<WPARAM> g_commands;

LRESULT HostProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_DRAWITEM) {
        auto* di = reinterpret_cast<DRAWITEMSTRUCT*>(lParam);
        g_items.emplace_back(di->CtlID, di->itemState);
        return TRUE;
    }
    if (msg == WM_COMMAND) g_commands.push_back(wParam);
    return DefWindowProcW(h, msg, wParam, lParam);
}

class Controls : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        platform::ui::SetScreenSize(480, 800);
        WNDCLASSW wc{};
        wc.lpfnWndProc = HostProc;
        wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
        wc.lpszClassName = L"TestHost";
        RegisterClassW(&wc);
    }
    void SetUp() override {
        g_items.clear();
        g_commands.clear();
        host_ = CreateWindowExW(0, L"TestHost", L"", WS_VISIBLE, 0, 0, 480, 800, nullptr, nullptr, nullptr, nullptr);
    }
    void TearDown() override { DestroyWindow(host_); }
    // Everything queued so far, keys translated as the program's loop does.
    static void Drain() {
        MSG m;
        while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&m);
            DispatchMessageW(&m);
        }
    }
    static std::wstring TextOf(HWND h) {
        wchar_t buf[512];
        GetWindowTextW(h, buf, 512);
        return buf;
    }
    HWND host_ = nullptr;
};

TEST_F(Controls, SingleLineEditTypingLimitsAndSelection) {
    HWND e = CreateWindowExW(0, L"edit", L"", WS_CHILD | WS_VISIBLE | ES_AUTOHSCROLL, 10, 10, 200, 40, host_,
                             reinterpret_cast<HMENU>(104), nullptr, nullptr);
    ASSERT_NE(e, nullptr);
    SetFocus(e);
    SendMessageW(e, EM_LIMITTEXT, 5, 0);
    platform::ui::InjectText(L"澜映测试文本长");
    Drain();
    EXPECT_EQ(TextOf(e), L"澜映测试文");  // cut at the limit
    EXPECT_EQ(GetWindowTextLengthW(e), 5);
    // Select all, then typing replaces the selection.
    PostMessageW(e, EM_SETSEL, 0, -1);
    Drain();
    platform::ui::InjectText(L"ab");
    Drain();
    EXPECT_EQ(TextOf(e), L"ab");
    platform::ui::InjectVirtualKey(VK_BACK, false);
    Drain();
    EXPECT_EQ(TextOf(e), L"a");
    // One line: a line break ends what is typed; Enter inserts nothing.
    platform::ui::InjectVirtualKey(VK_RETURN, false);
    Drain();
    EXPECT_EQ(TextOf(e), L"a");
    // The limit counts UTF-16 units: a character outside the BMP takes two.
    SetWindowTextW(e, L"");
    SendMessageW(e, EM_LIMITTEXT, 3, 0);
    platform::ui::InjectText(L"a\U0001F600bc");
    Drain();
    EXPECT_EQ(TextOf(e), L"a\U0001F600");
    // The buffer size of GetWindowTextW is honoured.
    wchar_t small[2];
    EXPECT_EQ(GetWindowTextW(e, small, 2), 1);
    EXPECT_EQ(small[1], L'\0');
    HFONT font = static_cast<HFONT>(GetStockObject(SYSTEM_FONT));
    SendMessageW(e, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageW(e, WM_GETFONT, 0, 0)), font);
}

// What an edit shows on its line: the caret (a column dark over the font's whole height)
// and the ink of the text beside it.
struct EditLook {
    int caret = -1;  // the caret's column, -1 when none shows
    int inkLeft = 0, inkRight = 0;  // ink columns left and right of the caret (all ink when none)
};

EditLook LookOf(HWND e, int lineHeight) {
    UpdateWindow(e);
    RECT c;
    GetClientRect(e, &c);
    HDC dc = GetDC(e);
    std::vector<int> dark(static_cast<size_t>(c.right), 0);
    // Inside the frame: its two side columns are not text.
    for (int x = 2; x < c.right - 2; ++x) {
        int run = 0;
        for (int y = 1; y < c.bottom - 1; ++y) {
            COLORREF p = GetPixel(dc, x, y);
            bool d = GetRValue(p) + GetGValue(p) + GetBValue(p) < 300;
            run = d ? run + 1 : 0;
            dark[static_cast<size_t>(x)] = std::max(dark[static_cast<size_t>(x)], run);
        }
    }
    ReleaseDC(e, dc);
    EditLook look;
    for (int x = 0; x < c.right; ++x)
        if (dark[static_cast<size_t>(x)] >= lineHeight) look.caret = x;
    for (int x = 0; x < c.right; ++x) {
        if (x == look.caret || dark[static_cast<size_t>(x)] == 0) continue;
        if (look.caret >= 0 && x > look.caret) ++look.inkRight;
        else ++look.inkLeft;
    }
    return look;
}

// The caret blinks where typed text goes: after the text typed, before the character that
// the left arrow passed, where Backspace took one away, and where the pen tapped; it shows
// at once after each of these, and is gone while the edit has no focus.
// On a headless screen, where windows are drawn and can be read back.
class EditOnScreen : public Controls {
protected:
    void SetUp() override {
        const char* argv[] = {"test", "--headless", "--screen", "480x800"};
        ASSERT_EQ(platform::ui::StartDisplay(platform::ui::ParseDisplayOptions(4, argv)), 0);
        Controls::SetUp();
    }
    void TearDown() override {
        Controls::TearDown();
        platform::ui::StopDisplay();
    }
};

TEST_F(EditOnScreen, SingleLineEditShowsABlinkingCaretWhereTypedTextGoes) {
    HWND e = CreateWindowExW(0, L"edit", L"", WS_CHILD | WS_VISIBLE | ES_AUTOHSCROLL, 10, 10, 220, 40, host_,
                             reinterpret_cast<HMENU>(104), nullptr, nullptr);
    ASSERT_NE(e, nullptr);
    LOGFONTW lf{};
    lf.lfHeight = -20;
    lf.lfWeight = 400;
    HFONT font = CreateFontIndirectW(&lf);
    SendMessageW(e, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    HDC mdc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(mdc, font);
    TEXTMETRICW tm{};
    GetTextMetricsW(mdc, &tm);
    SelectObject(mdc, old);
    DeleteDC(mdc);
    const int line = tm.tmHeight;
    ASSERT_GT(line, 10);
    // Letters without ascenders or descenders: no ink column is as tall as the line.
    auto awaitCaret = [&](const char* step) {
        EditLook look;
        for (int i = 0; i < 300 && look.caret < 0; ++i) {
            Drain();
            look = LookOf(e, line);
            if (look.caret < 0) Sleep(10);
        }
        EXPECT_GE(look.caret, 0) << step;
        return look;
    };

    EXPECT_LT(LookOf(e, line).caret, 0) << "no caret without the focus";
    SetFocus(e);
    EditLook start = awaitCaret("focus");
    EXPECT_EQ(start.inkLeft + start.inkRight, 0);
    platform::ui::InjectText(L"ace");
    EditLook typed = awaitCaret("typing");
    EXPECT_GT(typed.caret, start.caret);
    EXPECT_GT(typed.inkLeft, 0);
    EXPECT_EQ(typed.inkRight, 0) << "the caret stands after the text";

    platform::ui::InjectVirtualKey(VK_LEFT, false);
    EditLook left = awaitCaret("left arrow");
    EXPECT_LT(left.caret, typed.caret);
    EXPECT_GT(left.inkLeft, 0);
    EXPECT_GT(left.inkRight, 0) << "the caret stands before the last letter";

    platform::ui::InjectVirtualKey(VK_BACK, false);
    EditLook back = awaitCaret("backspace");
    EXPECT_EQ(TextOf(e), L"ae");
    EXPECT_LT(back.caret, left.caret);
    EXPECT_GT(back.inkLeft, 0);
    EXPECT_GT(back.inkRight, 0);

    platform::ui::InjectVirtualKey(VK_RIGHT, false);
    EditLook right = awaitCaret("right arrow");
    EXPECT_GT(right.caret, back.caret);
    EXPECT_EQ(right.inkRight, 0);

    // A tap at the left end puts the caret before the text.
    POINT p{4, 20};
    ClientToScreen(e, &p);
    platform::ui::InjectPenDown(p.x, p.y);
    platform::ui::InjectPenUp(p.x, p.y);
    EditLook tapped = awaitCaret("tap");
    EXPECT_LT(tapped.caret, back.caret);
    EXPECT_EQ(tapped.inkLeft, 0);
    EXPECT_GT(tapped.inkRight, 0);

    // It blinks: gone for a while, then back at the same place.
    bool gone = false, again = false;
    for (int i = 0; i < 500 && !(gone && again); ++i) {
        Drain();
        int at = LookOf(e, line).caret;
        if (at < 0) gone = true;
        else if (gone) again = at == tapped.caret;
        if (!(gone && again)) Sleep(10);
    }
    EXPECT_TRUE(gone) << "the caret does not blink";
    EXPECT_TRUE(again);

    // No caret once the focus has gone.
    SetFocus(host_);
    Drain();
    EXPECT_LT(LookOf(e, line).caret, 0);
    DeleteObject(font);
}

TEST_F(Controls, MultiLineEditWrapsAndKeepsLineBreaks) {
    HWND e = CreateWindowExW(0, L"edit", L"", WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_MULTILINE, 0, 0, 120, 100, host_,
                             nullptr, nullptr, nullptr);
    SetWindowTextW(e, L"第一行\r\n第二行");
    EXPECT_EQ(SendMessageW(e, EM_GETLINECOUNT, 0, 0), 2);
    std::wstring longText(60, L'中');
    SetWindowTextW(e, longText.c_str());
    EXPECT_GT(SendMessageW(e, EM_GETLINECOUNT, 0, 0), 2);  // wrapped between Chinese characters
    // Scrolling moves the first visible line, and not past the end.
    SendMessageW(e, EM_SCROLL, SB_PAGEDOWN, 0);
    LRESULT first = SendMessageW(e, EM_GETFIRSTVISIBLELINE, 0, 0);
    EXPECT_GT(first, 0);
    for (int i = 0; i < 50; ++i) SendMessageW(e, EM_SCROLL, SB_LINEDOWN, 0);
    EXPECT_LT(SendMessageW(e, EM_GETFIRSTVISIBLELINE, 0, 0), SendMessageW(e, EM_GETLINECOUNT, 0, 0));
}

TEST_F(Controls, MultiLineEditKeepsAnIndentOnItsParagraphsFirstLine) {
    HWND e = CreateWindowExW(0, L"edit", L"", WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_MULTILINE, 0, 0, 120, 100, host_,
                             nullptr, nullptr, nullptr);
    auto lines = [&](const std::wstring& text) {
        SetWindowTextW(e, text.c_str());
        return SendMessageW(e, EM_GETLINECOUNT, 0, 0);
    };
    int perLine = 1;
    while (perLine < 100 && lines(std::wstring(perLine + 1, L'中')) == 1) ++perLine;
    ASSERT_GT(perLine, 3);
    std::wstring body(3 * perLine - 3, L'中');
    ASSERT_EQ(lines(body), 3);
    // Four blanks are narrower than three Chinese characters: the indented paragraph still
    // takes three lines, the blanks leading its first one rather than standing alone.
    EXPECT_EQ(lines(L"    " + body), 3);
}

TEST_F(Controls, OwnerDrawnButtonReportsPressAndClick) {
    HWND b = CreateWindowExW(0x100, L"button", L"推荐", BS_OWNERDRAW | WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, host_,
                             reinterpret_cast<HMENU>(118), nullptr, nullptr);
    MoveWindow(b, 100, 700, 80, 60, FALSE);
    Drain();
    // The first show draws it, not pressed.
    ASSERT_FALSE(g_items.empty());
    EXPECT_EQ(g_items[0], (std::pair<UINT, UINT>{118, 0}));
    g_items.clear();
    platform::ui::InjectPenDown(120, 720);
    Drain();
    ASSERT_FALSE(g_items.empty());
    EXPECT_EQ(g_items.back().first, 118u);
    EXPECT_TRUE(g_items.back().second & ODS_SELECTED);
    platform::ui::InjectPenUp(121, 721);
    Drain();
    EXPECT_FALSE(g_items.back().second & ODS_SELECTED);
    ASSERT_EQ(g_commands.size(), 1u);
    EXPECT_EQ(g_commands[0], MAKEWPARAM(118, BN_CLICKED));
    // Lifted outside: no click.
    g_commands.clear();
    platform::ui::InjectPenDown(120, 720);
    platform::ui::InjectPenMove(300, 300);
    platform::ui::InjectPenUp(300, 300);
    Drain();
    EXPECT_TRUE(g_commands.empty());
}

TEST_F(Controls, RadioButtonsOfAGroupCheckOneAtATime) {
    HWND r1 = CreateWindowExW(0, L"button", L"GDI", 0x50000009 | WS_GROUP, 20, 20, 200, 30, host_,
                              reinterpret_cast<HMENU>(800), nullptr, nullptr);
    HWND r2 = CreateWindowExW(0, L"button", L"Overlay", 0x50000009, 20, 60, 200, 30, host_,
                              reinterpret_cast<HMENU>(801), nullptr, nullptr);
    CreateWindowExW(0, L"button", L"视频", 0x50000007, 10, 10, 300, 100, host_, reinterpret_cast<HMENU>(900), nullptr,
                    nullptr);
    PostMessageW(r1, BM_SETCHECK, BST_CHECKED, 0);
    Drain();
    EXPECT_EQ(SendMessageW(r1, BM_GETCHECK, 0, 0), BST_CHECKED);
    // A tap through the group box reaches the radio button under it.
    platform::ui::InjectPenDown(30, 70);
    platform::ui::InjectPenUp(30, 70);
    Drain();
    EXPECT_EQ(SendMessageW(r2, BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_EQ(SendMessageW(r1, BM_GETCHECK, 0, 0), BST_UNCHECKED);
    ASSERT_FALSE(g_commands.empty());
    EXPECT_EQ(g_commands.back(), MAKEWPARAM(801, BN_CLICKED));
}

TEST_F(Controls, ProgressBarRangeStepAndPosition) {
    HWND p = CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_CHILD | WS_VISIBLE | PBS_SMOOTH, 0, 0, 0, 0, host_, nullptr,
                             nullptr, nullptr);
    SendMessageW(p, PBM_SETRANGE, 0, MAKELPARAM(0, 1000));
    SendMessageW(p, PBM_SETSTEP, 10, 0);
    EXPECT_EQ(SendMessageW(p, PBM_SETPOS, 250, 0), 0);
    EXPECT_EQ(SendMessageW(p, PBM_STEPIT, 0, 0), 250);
    EXPECT_EQ(SendMessageW(p, PBM_GETPOS, 0, 0), 260);
    SendMessageW(p, PBM_SETPOS, 5000, 0);  // kept inside the range
    EXPECT_EQ(SendMessageW(p, PBM_GETPOS, 0, 0), 1000);
}

}  // namespace
