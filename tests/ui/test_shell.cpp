// Shell behaviour the program leans on: accelerators to the focused window, tap-and-hold,
// the input panel shrinking the work area, the screen turning, and the property sheet.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cwchar>
#include <thread>

#include "platform/aygshell.h"
#include "platform/commctrl.h"
#include "platform/gdi.h"
#include "platform/sync.h"
#include "platform/ui.h"
#include "platform/winuser.h"

namespace {

struct Seen {
    HWND hwnd;
    UINT msg;
    WPARAM wParam;
    LPARAM lParam;
};
std::vector<Seen> g_seen;
DWORD g_gesture = 0xFFFF;
bool g_recognize = false;

LRESULT Proc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_COMMAND:
    case WM_SETTINGCHANGE:
    case WM_SIZE:
    case WM_LBUTTONUP:
    case WM_KEYDOWN: g_seen.push_back({h, msg, wParam, lParam}); return 0;
    case WM_LBUTTONDOWN:
        g_seen.push_back({h, msg, wParam, lParam});
        if (g_recognize) {
            SHRGINFO rg{sizeof(SHRGINFO), h, {static_cast<SHORT>(LOWORD(lParam)), static_cast<SHORT>(HIWORD(lParam))},
                        SHRG_RETURNCMD};
            g_gesture = SHRecognizeGesture(&rg);
        }
        return 0;
    default: return DefWindowProcW(h, msg, wParam, lParam);
    }
}

class Shell : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        platform::ui::SetScreenSize(480, 800);
        WNDCLASSW wc{};
        wc.lpfnWndProc = Proc;
        wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
        wc.lpszClassName = L"TestShell";
        RegisterClassW(&wc);
    }
    void SetUp() override {
        g_seen.clear();
        frame_ = CreateWindowExW(0, L"TestShell", L"frame", WS_VISIBLE, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                 CW_USEDEFAULT, nullptr, nullptr, nullptr, nullptr);
        Drain();
        g_seen.clear();
    }
    void TearDown() override {
        DestroyWindow(frame_);
        platform::ui::SetScreenSize(480, 800);
    }
    static void Drain() {
        MSG m;
        while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&m);
            DispatchMessageW(&m);
        }
    }
    std::vector<Seen> Of(UINT msg) {
        std::vector<Seen> r;
        for (auto& s : g_seen)
            if (s.msg == msg) r.push_back(s);
        return r;
    }
    HWND frame_ = nullptr;
};

TEST_F(Shell, AcceleratorsSendTheirCommandToTheWindowTheKeyWasFor) {
    ACCEL table[] = {{FVIRTKEY | FCONTROL, '1', 32773}, {FVIRTKEY | FCONTROL, '0', 40010}};
    platform::ui::AddAccelerators(201, std::vector<ACCEL>(table, table + 2));
    HACCEL acc = LoadAcceleratorsW(nullptr, MAKEINTRESOURCEW(201));
    ASSERT_NE(acc, nullptr);
    HWND page = CreateWindowExW(0, L"TestShell", L"page", WS_VISIBLE, 0, 0, 100, 100, frame_, nullptr, nullptr, nullptr);
    SetFocus(page);
    platform::ui::InjectKey("ctrl+0");
    platform::ui::InjectKey("enter");
    MSG m;
    int translated = 0;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
        if (TranslateAcceleratorW(m.hwnd, acc, &m)) {
            ++translated;
            continue;
        }
        TranslateMessage(&m);
        DispatchMessageW(&m);
    }
    EXPECT_EQ(translated, 1);
    auto cmds = Of(WM_COMMAND);
    ASSERT_EQ(cmds.size(), 1u);
    EXPECT_EQ(cmds[0].hwnd, page);
    EXPECT_EQ(cmds[0].wParam, MAKEWPARAM(40010, 1));
    // Enter without Ctrl is no accelerator and reaches the window as a key.
    auto keys = Of(WM_KEYDOWN);
    ASSERT_FALSE(keys.empty());
    EXPECT_EQ(keys.back().wParam, static_cast<WPARAM>(VK_RETURN));
    DestroyAcceleratorTable(acc);
}

TEST_F(Shell, TapAndHoldIsRecognisedOnlyWhenThePenStaysStill) {
    g_recognize = true;
    RECT fr;
    GetWindowRect(frame_, &fr);
    struct Case {
        const char* what;
        int holdMs;
        int moveBy;
        DWORD want;
    } cases[] = {{"tap", 0, 0, 0}, {"hold", 800, 0, GN_CONTEXTMENU}, {"hold with a tremble", 800, 1, GN_CONTEXTMENU},
                 {"press and drag", 800, 40, 0}};
    for (auto& c : cases) {
        g_seen.clear();
        g_gesture = 0xFFFF;
        int x = 100, y = fr.top + 100;
        std::thread pen([&] {
            platform::ui::InjectPenDown(x, y);
            if (c.holdMs) {
                Sleep(100);
                if (c.moveBy) platform::ui::InjectPenMove(x + c.moveBy, y);
                Sleep(static_cast<DWORD>(c.holdMs));
            }
            platform::ui::InjectPenUp(x + c.moveBy, y);
        });
        // The press is handled while the pen is still down (or already up, for a tap).
        MSG m;
        while (g_gesture == 0xFFFF && GetMessageW(&m, nullptr, 0, 0)) DispatchMessageW(&m);
        pen.join();
        Drain();
        EXPECT_EQ(g_gesture, c.want) << c.what;
        // The pen's own messages stay for the window's normal handling.
        EXPECT_EQ(Of(WM_LBUTTONUP).size(), 1u) << c.what;
    }
    g_recognize = false;
}

TEST_F(Shell, InputPanelShrinksTheFrameAndClosingItRestoresIt) {
    RECT before;
    GetWindowRect(frame_, &before);
    SipShowIM(SIPF_ON);
    Drain();
    RECT open;
    GetWindowRect(frame_, &open);
    EXPECT_EQ(open.top, before.top);
    EXPECT_LT(open.bottom, before.bottom);
    auto sizes = Of(WM_SIZE);
    ASSERT_FALSE(sizes.empty());
    EXPECT_EQ(LOWORD(sizes.back().lParam), 480);  // only the height changes
    EXPECT_EQ(HIWORD(sizes.back().lParam), open.bottom - open.top);
    SipShowIM(SIPF_ON);  // already open: nothing more
    Drain();
    RECT again;
    GetWindowRect(frame_, &again);
    EXPECT_TRUE(EqualRect(&again, &open));
    SipShowIM(SIPF_OFF);
    Drain();
    RECT closed;
    GetWindowRect(frame_, &closed);
    EXPECT_TRUE(EqualRect(&closed, &before));
}

TEST_F(Shell, TurningTheScreenResizesAndTellsTopLevelWindows) {
    HWND child = CreateWindowExW(0, L"TestShell", L"child", WS_VISIBLE, 0, 0, 50, 50, frame_, nullptr, nullptr, nullptr);
    Drain();
    g_seen.clear();
    platform::ui::RotateScreen();
    Drain();
    auto changes = Of(WM_SETTINGCHANGE);
    ASSERT_EQ(changes.size(), 1u);  // the frame only, not its child
    EXPECT_EQ(changes[0].hwnd, frame_);
    EXPECT_EQ(changes[0].wParam, static_cast<WPARAM>(SETTINGCHANGE_RESET));
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 800);
    auto sizes = Of(WM_SIZE);
    ASSERT_FALSE(sizes.empty());
    EXPECT_EQ(sizes[0].hwnd, frame_);
    // Both sides change: the frame spans the new width down to the screen's bottom.
    EXPECT_EQ(LOWORD(sizes[0].lParam), 800);
    EXPECT_EQ(HIWORD(sizes[0].lParam), 480 - platform::ui::StatusBarHeight());
    // The frame heard its new size before the settings change.
    size_t sizeAt = 0, changeAt = 0;
    for (size_t i = 0; i < g_seen.size(); ++i) {
        if (g_seen[i].msg == WM_SIZE && !sizeAt) sizeAt = i + 1;
        if (g_seen[i].msg == WM_SETTINGCHANGE) changeAt = i + 1;
    }
    EXPECT_LT(sizeAt, changeAt);
    RECT cr;
    GetWindowRect(child, &cr);
    EXPECT_EQ(cr.right - cr.left, 50);  // children are the program's to place
}

std::vector<std::pair<int, UINT>> g_pages;  // (page, message)
INT_PTR PageProc(HWND, UINT msg, WPARAM, LPARAM lParam) {
    if (msg == WM_INITDIALOG) {
        auto* psp = reinterpret_cast<PROPSHEETPAGEW*>(lParam);
        g_pages.emplace_back(static_cast<int>(psp->lParam), msg);
        return 1;
    }
    if (msg == WM_NOTIFY) {
        g_pages.emplace_back(-1, reinterpret_cast<NMHDR*>(lParam)->code);
        return 0;
    }
    return 0;
}

int SheetCallback(HWND sheet, UINT msg, LPARAM lParam) {
    if (msg == PSCB_INITIALIZED) {
        HWND tabs = GetDlgItem(sheet, IDC_PROPSHEET_TABCONTROL);
        if (tabs) SetWindowLongW(tabs, GWL_STYLE, GetWindowLongW(tabs, GWL_STYLE) | TCS_BOTTOM);
        g_pages.emplace_back(tabs ? 100 : -100, msg);
        return 0;
    }
    if (msg == PSCB_GETTITLE) {
        wcscpy(reinterpret_cast<wchar_t*>(lParam), L"设置");
        return 1;
    }
    return msg == PSCB_GETVERSION ? 526 : 0;
}

TEST_F(Shell, PropertySheetShowsPagesAndClosesWithOk) {
    platform::ui::AddResource(RT_DIALOG, MAKEINTRESOURCEW(144),
                              platform::ui::BuildDialogTemplate(WS_CHILD | DS_SETFONT, 0, 0, 0, 240, 321, 8, L"MS Shell Dlg"));
    platform::ui::AddResource(RT_DIALOG, MAKEINTRESOURCEW(145),
                              platform::ui::BuildDialogTemplate(WS_CHILD | DS_SETFONT, 0, 0, 0, 241, 321, 8, L"MS Shell Dlg"));
    PROPSHEETPAGEW pages[2] = {};
    for (int i = 0; i < 2; ++i) {
        pages[i].dwSize = sizeof(PROPSHEETPAGEW);
        pages[i].pszTemplate = MAKEINTRESOURCEW(144 + i);
        pages[i].pfnDlgProc = PageProc;
        pages[i].lParam = i;
    }
    PROPSHEETHEADERW h{};
    h.dwSize = sizeof h;
    h.dwFlags = PSH_PROPSHEETPAGE | PSH_USECALLBACK | PSH_MAXIMIZE;
    h.hwndParent = frame_;
    h.pszCaption = L"";
    h.nPages = 2;
    h.ppsp = pages;
    h.pfnCallback = SheetCallback;
    g_pages.clear();
    std::atomic<bool> sawTitle{false};
    std::thread user([&] {
        HWND sheet = nullptr;
        for (int i = 0; i < 500 && !sheet; ++i) {
            sheet = FindWindowW(L"#PropSheet", nullptr);
            if (!sheet || !IsWindowVisible(sheet)) sheet = nullptr, Sleep(10);
        }
        if (!sheet) return;
        wchar_t title[16] = {0};
        GetWindowTextW(sheet, title, 16);
        sawTitle = std::wstring(title) == L"设置";
        platform::ui::InjectKey("enter");  // the sheet's OK
    });
    INT_PTR r = PropertySheetW(&h);
    user.join();
    EXPECT_EQ(r, 1);
    EXPECT_TRUE(sawTitle.load());
    // The first page was made (with its record), the tab strip existed for the callback,
    // and OK told the page to apply.
    ASSERT_GE(g_pages.size(), 3u);
    EXPECT_EQ(g_pages[0], (std::pair<int, UINT>{0, WM_INITDIALOG}));
    EXPECT_NE(std::find(g_pages.begin(), g_pages.end(), std::pair<int, UINT>{100, PSCB_INITIALIZED}), g_pages.end());
    EXPECT_NE(std::find(g_pages.begin(), g_pages.end(), std::pair<int, UINT>{-1, PSN_APPLY}), g_pages.end());
    EXPECT_TRUE(IsWindowEnabled(frame_));
    EXPECT_EQ(PropertySheetW(nullptr), -1);
}

}  // namespace
