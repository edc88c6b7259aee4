// Modal loops: message boxes (hook, scripted answers, no display), dialogs from templates,
// pop-up menus and the soft-key bar, on the headless display.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>
#include <unistd.h>

#include "platform/aygshell.h"
#include "platform/gdi.h"
#include "platform/sync.h"
#include "platform/ui.h"
#include "platform/winuser.h"

namespace {

using platform::ui::InjectKey;

std::vector<std::pair<UINT, WPARAM>> g_seen;
std::vector<std::pair<HWND, WPARAM>> g_keys;  // key presses and characters, by the window that got them

LRESULT FrameProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_COMMAND || msg == WM_USER + 5) {
        g_seen.emplace_back(msg, wParam);
        return 0;
    }
    if (msg == WM_KEYDOWN || msg == WM_CHAR) g_keys.emplace_back(h, wParam);
    return DefWindowProcW(h, msg, wParam, lParam);
}

// Waits (pumping this thread's queue) until `pred` holds or 5 seconds pass.
// With a table, keys are translated first as the program's loop does.
template <class F>
bool PumpUntil(F pred, HACCEL accel = nullptr) {
    DWORD end = GetTickCount() + 5000;
    MSG m;
    while (!pred()) {
        if (static_cast<LONG>(GetTickCount() - end) > 0) return false;
        if (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
            if (accel && TranslateAcceleratorW(m.hwnd, accel, &m)) continue;
            TranslateMessage(&m);
            DispatchMessageW(&m);
        } else {
            Sleep(1);
        }
    }
    return true;
}

HWND WaitForWindowOfClass(const wchar_t* cls) {
    for (int i = 0; i < 500; ++i) {
        if (HWND h = FindWindowW(cls, nullptr); h && IsWindowVisible(h)) return h;
        Sleep(10);
    }
    return nullptr;
}

// A key lost on its way to a menu would leave the menu's loop waiting for ever; after a
// while the menu is closed, so the test fails on its result instead of hanging.
void CloseMenuIfStillOpen() {
    for (int i = 0; i < 500; ++i) {
        HWND h = FindWindowW(L"#PopupMenu", nullptr);
        if (!h || !IsWindowVisible(h)) return;
        Sleep(10);
    }
    if (HWND h = FindWindowW(L"#PopupMenu", nullptr)) PostMessageW(h, WM_KEYDOWN, VK_ESCAPE, 0);
}

// A soft-key bar on `parent` from the menu-bar record `record`; null when none is made.
HWND SoftKeyBar(HWND parent, int record) {
    SHMENUBARINFO mb{};
    mb.cbSize = sizeof mb;
    mb.hwndParent = parent;
    mb.nToolBarId = static_cast<UINT>(record);
    return SHCreateMenuBar(&mb) ? mb.hwndMB : nullptr;
}

class Modal : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        platform::ui::DisplayOptions o;
        o.width = 480;
        o.height = 800;
        o.headless = true;
        ASSERT_EQ(platform::ui::StartDisplay(o), 0);
        WNDCLASSW wc{};
        wc.lpfnWndProc = FrameProc;
        wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
        wc.lpszClassName = L"TestModalFrame";
        RegisterClassW(&wc);
    }
    static void TearDownTestSuite() { platform::ui::StopDisplay(); }
    void SetUp() override {
        g_seen.clear();
        g_keys.clear();
        platform::ui::ClearMessageBoxHistory();
        frame_ = CreateWindowExW(0, L"TestModalFrame", L"frame", WS_VISIBLE, CW_USEDEFAULT, CW_USEDEFAULT,
                                 CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(frame_, nullptr);
    }
    void TearDown() override {
        if (IsWindow(frame_)) DestroyWindow(frame_);
        MSG m;
        while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
        }
    }
    HWND frame_ = nullptr;
};

TEST_F(Modal, HookAnswersEveryBoxAndHistoryKeepsThem) {
    platform::ui::SetMessageBoxHook([](HWND, const std::wstring& text, const std::wstring&, UINT type) {
        return (type & MB_TYPEMASK) == MB_YESNO && text == L"确定要退出吗？" ? IDNO : 0;
    });
    EXPECT_EQ(MessageBoxW(frame_, L"确定要退出吗？", L"提示", MB_YESNO | MB_ICONQUESTION), IDNO);
    platform::ui::SetMessageBoxHook(nullptr);
    auto h = platform::ui::MessageBoxHistory();
    ASSERT_EQ(h.size(), 1u);
    EXPECT_EQ(h[0].owner, frame_);
    EXPECT_EQ(h[0].caption, L"提示");
    EXPECT_EQ(h[0].type, 0x24u);
    EXPECT_EQ(h[0].result, IDNO);
}

TEST_F(Modal, ScriptedAnswersReachBoxesOnAnyThread) {
    struct Case {
        UINT type;
        int answer;
    } cases[] = {{MB_OK, IDOK}, {MB_YESNO | MB_ICONINFORMATION, IDYES}, {MB_YESNO, IDNO},
                 {MB_YESNOCANCEL | MB_ICONINFORMATION, IDCANCEL}, {MB_YESNOCANCEL, IDNO}};
    for (auto& c : cases) {
        // A worker's box (as the download threads show) while this thread keeps its loop.
        std::atomic<int> result{-1};
        std::thread worker([&] { result = MessageBoxW(nullptr, L"无法连接网络，请检查网络设置。", L"提示", c.type); });
        ASSERT_NE(WaitForWindowOfClass(L"#MessageBox"), nullptr);
        platform::ui::AnswerNextMessageBox(c.answer);
        EXPECT_TRUE(PumpUntil([&] { return result != -1; }));
        worker.join();
        EXPECT_EQ(result.load(), c.answer) << "type " << c.type;
    }
    // An answer given before the box appears is kept for it.
    platform::ui::AnswerNextMessageBox(IDYES);
    EXPECT_EQ(MessageBoxW(frame_, L"确定要退出吗？", L"提示", MB_YESNO | MB_ICONQUESTION), IDYES);
}

TEST_F(Modal, BoxDisablesItsOwnerAndTheSoftKeysAnswerIt) {
    std::atomic<bool> disabled{false};
    std::thread keys([&] {
        HWND box = WaitForWindowOfClass(L"#MessageBox");
        disabled = box && !IsWindowEnabled(frame_);
        InjectKey("soft2");  // the right soft key: the last button
    });
    int r = MessageBoxW(frame_, L"确定要退出吗？", L"提示", MB_YESNO | MB_ICONQUESTION);
    keys.join();
    EXPECT_EQ(r, IDNO);
    EXPECT_TRUE(disabled.load());
    EXPECT_TRUE(IsWindowEnabled(frame_));
    EXPECT_EQ(FindWindowW(L"#MessageBox", nullptr), nullptr);
}

TEST_F(Modal, WithoutADisplayABoxGivesItsDefaultButton) {
    platform::ui::StopDisplay();
    EXPECT_EQ(MessageBoxW(nullptr, L"x", L"y", MB_OK), IDOK);
    EXPECT_EQ(MessageBoxW(nullptr, L"x", L"y", MB_YESNO | MB_DEFBUTTON2), IDNO);
    SetUpTestSuite();
}

// A program run headless without a script: nobody can answer, so each box says its text on
// the standard error and gives its default button at once; with a script it waits for it.
TEST_F(Modal, AHeadlessProgramRunSaysEachBoxAndAnswersItsDefaultWithoutAScript) {
    platform::ui::ReportHeadlessMessageBoxes("Prog");
    // A box left waiting for 20 s is answered with cancel, so the test fails, not hangs.
    std::atomic<bool> over{false};
    std::thread watchdog([&] {
        for (int waited = 0; !over; Sleep(10)) {
            waited = FindWindowW(L"#MessageBox", nullptr) ? waited + 10 : 0;
            if (waited >= 20000) {
                platform::ui::AnswerNextMessageBox(IDCANCEL);
                waited = 0;
            }
        }
    });
    struct Off {
        std::atomic<bool>& over;
        std::thread& watchdog;
        ~Off() {
            over = true;
            watchdog.join();
            platform::ui::ReportHeadlessMessageBoxes("");
        }
    } off{over, watchdog};
    struct Case {
        UINT type;
        int answer;
    } cases[] = {{MB_OK, IDOK}, {MB_YESNO, IDYES}, {MB_YESNO | MB_DEFBUTTON2, IDNO}, {MB_OKCANCEL | MB_ICONHAND, IDOK}};
    for (const Case& c : cases) {
        testing::internal::CaptureStderr();
        int r = MessageBoxW(frame_, L"无法连接网络，\n请检查网络设置。", L"提示", c.type);
        std::string said = testing::internal::GetCapturedStderr();
        EXPECT_EQ(r, c.answer) << c.type;
        EXPECT_EQ(said, "Prog: 提示: 无法连接网络，\n请检查网络设置。\n");
        EXPECT_EQ(FindWindowW(L"#MessageBox", nullptr), nullptr);
    }
    // No caption: the phone's own word.
    testing::internal::CaptureStderr();
    EXPECT_EQ(MessageBoxW(nullptr, L"升级未成功(01)", nullptr, MB_OK), IDOK);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Prog: 错误: 升级未成功(01)\n");

    // With a script the box stays for the script's answer, and is said all the same.
    platform::ui::StopDisplay();
    std::string script = testing::TempDir() + "/modal-answer-" + std::to_string(::getpid()) + ".script";
    FILE* f = std::fopen(script.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fputs("answer no\n", f);
    std::fclose(f);
    const char* argv[] = {"Prog", "--script", script.c_str()};
    platform::ui::DisplayOptions o = platform::ui::ParseDisplayOptions(3, argv);
    ASSERT_EQ(platform::ui::StartDisplay(o), 0);
    frame_ = CreateWindowExW(0, L"TestModalFrame", L"frame", WS_VISIBLE, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                             CW_USEDEFAULT, nullptr, nullptr, nullptr, nullptr);
    testing::internal::CaptureStderr();
    int r = MessageBoxW(frame_, L"确定要退出吗？", L"提示", MB_YESNO);
    std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(r, IDNO) << "the script's answer, not the default";
    EXPECT_EQ(said, "Prog: 提示: 确定要退出吗？\n");
    platform::ui::WaitForScript();
    std::remove(script.c_str());
    platform::ui::StopDisplay();
    SetUpTestSuite();
}

INT_PTR WaitDlgProc(HWND dlg, UINT msg, WPARAM, LPARAM lParam) {
    static HWND s_owner;
    switch (msg) {
    case WM_INITDIALOG: {
        s_owner = reinterpret_cast<HWND>(lParam);
        g_seen.emplace_back(WM_INITDIALOG, IsWindowEnabled(s_owner) ? 1 : 0);
        // A worker closes the dialog, as the list loaders do; a message posted to the
        // owner meanwhile is still delivered by the dialog's loop.
        PostMessageW(s_owner, WM_USER + 5, 0, 0);
        std::thread([dlg] {
            Sleep(20);
            PostMessageW(dlg, WM_CLOSE, 0, 0);
        }).detach();
        return 0;
    }
    case WM_CLOSE: EndDialog(dlg, 1); return 1;
    default: return 0;
    }
}

TEST_F(Modal, DialogFromATemplateRunsUntilEndDialog) {
    auto tmpl = platform::ui::BuildDialogTemplate(0x90000E48, 0, 0, 0, 110, 59, 8, L"MS Shell Dlg");
    platform::ui::AddResource(RT_DIALOG, MAKEINTRESOURCEW(101), tmpl);
    HRSRC r = FindResourceW(nullptr, MAKEINTRESOURCEW(101), RT_DIALOG);
    ASSERT_NE(r, nullptr);
    auto* t = static_cast<const DLGTEMPLATE*>(LockResource(LoadResource(nullptr, r)));
    INT_PTR result = DialogBoxIndirectParamW(nullptr, t, frame_, WaitDlgProc, reinterpret_cast<LPARAM>(frame_));
    EXPECT_EQ(result, 1);
    ASSERT_GE(g_seen.size(), 2u);
    EXPECT_EQ(g_seen[0], (std::pair<UINT, WPARAM>{WM_INITDIALOG, 0}));  // the owner was disabled
    EXPECT_EQ(g_seen[1].first, static_cast<UINT>(WM_USER + 5));
    EXPECT_TRUE(IsWindowEnabled(frame_));
    EXPECT_EQ(DialogBoxIndirectParamW(nullptr, nullptr, frame_, WaitDlgProc, 0), -1);
}

INT_PTR QuietDlgProc(HWND, UINT msg, WPARAM, LPARAM) { return msg == WM_INITDIALOG; }

// Dialog base units as the phone defines them, measured on the dialog's own font: the average
// width of the 52 Latin letters, rounded, and the font's cell height (tmHeight). A template
// with a font is laid out in units of that font; one without, in the system's.
TEST_F(Modal, DialogBaseUnitsAreTheCellOfTheTemplatesFont) {
    struct Units {
        int x, y;
    };
    auto measured = [](HFONT font) {
        HDC dc = CreateCompatibleDC(nullptr);
        HGDIOBJ old = SelectObject(dc, font);
        SIZE size{};
        TEXTMETRICW tm{};
        GetTextExtentPoint32W(dc, L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz", 52, &size);
        GetTextMetricsW(dc, &tm);
        SelectObject(dc, old);
        DeleteDC(dc);
        return Units{static_cast<int>((size.cx / 26 + 1) / 2), static_cast<int>(tm.tmHeight)};
    };
    auto make = [&](DWORD style, WORD fontSize) {
        auto tmpl = platform::ui::BuildDialogTemplate(WS_POPUP | style, 0, 0, 0, 100, 80, fontSize, L"MS Shell Dlg");
        return CreateDialogIndirectParamW(nullptr, reinterpret_cast<LPCDLGTEMPLATEW>(tmpl.data()), frame_, QuietDlgProc,
                                          0);
    };
    auto mapped = [](HWND dlg) {
        RECT r{0, 0, 4, 8};
        EXPECT_TRUE(MapDialogRect(dlg, &r));
        return Units{r.right, r.bottom};
    };
    int lastHeight = 0;
    for (WORD size : {WORD(6), WORD(9), WORD(14), WORD(24)}) {
        SCOPED_TRACE(size);
        HWND dlg = make(DS_SETFONT, size);
        ASSERT_NE(dlg, nullptr);
        auto font = reinterpret_cast<HFONT>(SendMessageW(dlg, WM_GETFONT, 0, 0));
        ASSERT_NE(font, nullptr);
        Units want = measured(font), got = mapped(dlg);
        EXPECT_EQ(got.x, want.x);
        EXPECT_EQ(got.y, want.y);
        EXPECT_GT(got.y, lastHeight) << "a bigger font, taller units";
        lastHeight = got.y;
        RECT w;
        GetWindowRect(dlg, &w);
        EXPECT_EQ(w.right - w.left, 100 * want.x / 4);
        EXPECT_EQ(w.bottom - w.top, 80 * want.y / 8);
        DestroyWindow(dlg);
    }
    // Without a font of its own: the system's units, which a template of the system's size
    // (9 points, the dialog font's) measures too.
    LONG system = GetDialogBaseUnits();
    HWND plain = make(0, 0);
    ASSERT_NE(plain, nullptr);
    Units p = mapped(plain);
    EXPECT_EQ(p.x, LOWORD(system));
    EXPECT_EQ(p.y, HIWORD(system));
    DestroyWindow(plain);
    HWND nine = make(DS_SETFONT, 9);
    ASSERT_NE(nine, nullptr);
    Units n = measured(reinterpret_cast<HFONT>(SendMessageW(nine, WM_GETFONT, 0, 0)));
    EXPECT_EQ(LOWORD(system), n.x);
    EXPECT_EQ(HIWORD(system), n.y);
    DestroyWindow(nine);
}

TEST_F(Modal, PopupMenuFromResourcesAndTheSoftKeyBar) {
    using platform::ui::MenuItemDef;
    platform::ui::AddMenu(MAKEINTRESOURCEW(401),
                          {MenuItemDef{0, L"menu", {{32773, L"推荐  (&1)", {}}, {32772, L"分类  (&2)", {}}, {0, L"", {}},
                                                    {40010, L"退出  (&0)", {}}}}});
    platform::ui::AddString(104, L"退出");
    platform::ui::AddString(105, L"菜单");
    platform::ui::AddResource(RT_RCDATA, MAKEINTRESOURCEW(502),
                              platform::ui::BuildMenuBar(401, {{40010, 104, 0x10, 0xFFFF}, {40001, 105, 0x18, 0}}));
    HWND bar = SoftKeyBar(frame_, 502);
    ASSERT_NE(bar, nullptr);
    RECT r;
    GetWindowRect(bar, &r);
    EXPECT_EQ(r.bottom, 800);
    EXPECT_EQ(r.bottom - r.top, platform::ui::SoftKeyBarHeight());

    // Left soft key: its command to the bar's parent.
    InjectKey("soft1");
    EXPECT_TRUE(PumpUntil([] { return !g_seen.empty(); }));
    ASSERT_EQ(g_seen.size(), 1u);
    EXPECT_EQ(g_seen[0], (std::pair<UINT, WPARAM>{WM_COMMAND, 40010}));

    // Right soft key: the drop-down of the menu's first pop-up; the second item chosen.
    g_seen.clear();
    std::thread keys([] {
        if (!WaitForWindowOfClass(L"#PopupMenu")) return;
        InjectKey("down");
        InjectKey("down");
        InjectKey("enter");
        CloseMenuIfStillOpen();
    });
    InjectKey("soft2");
    EXPECT_TRUE(PumpUntil([] { return !g_seen.empty(); }));
    keys.join();
    ASSERT_EQ(g_seen.size(), 1u);
    EXPECT_EQ(g_seen[0], (std::pair<UINT, WPARAM>{WM_COMMAND, 32772}));

    // The drop-down may still be closing after its command arrived; the next step's
    // helper must not find it and type into it.
    EXPECT_TRUE(PumpUntil([] {
        HWND h = FindWindowW(L"#PopupMenu", nullptr);
        return !h || !IsWindowVisible(h);
    }));

    // TrackPopupMenu with the same resource; an access key chooses.
    HMENU menu = LoadMenuW(nullptr, MAKEINTRESOURCEW(401));
    ASSERT_NE(menu, nullptr);
    std::thread text([] {
        if (WaitForWindowOfClass(L"#PopupMenu")) platform::ui::InjectText(L"0");
        CloseMenuIfStillOpen();
    });
    BOOL chosen = TrackPopupMenu(GetSubMenu(menu, 0), TPM_RETURNCMD, 10, 10, 0, frame_, nullptr);
    text.join();
    EXPECT_EQ(chosen, 40010);
    DestroyMenu(menu);
    EXPECT_TRUE(DestroyWindow(bar));
    EXPECT_FALSE(IsWindow(bar));
    SetLastError(0);
    EXPECT_EQ(SoftKeyBar(frame_, 999), nullptr);  // no such record
    EXPECT_NE(GetLastError(), 0u);
}

TEST_F(Modal, SoftKeyBarTakesNoTapsWhileABoxIsUp) {
    platform::ui::AddString(104, L"退出");
    platform::ui::AddResource(RT_RCDATA, MAKEINTRESOURCEW(501),
                              platform::ui::BuildMenuBar(0, {{40014, 107, 0x10, 0xFFFF}, {40010, 104, 0x10, 0xFFFF}}));
    HWND bar = SoftKeyBar(frame_, 501);
    ASSERT_NE(bar, nullptr);
    RECT r;
    GetWindowRect(bar, &r);
    int x = r.right - 10, y = (r.top + r.bottom) / 2;  // the right key
    std::atomic<int> result{-1};
    std::thread worker([&] { result = MessageBoxW(frame_, L"确定要退出吗？", L"提示", MB_YESNO); });
    // This thread keeps its loop, as the program's does, while the worker's box comes up.
    ASSERT_TRUE(PumpUntil([&] {
        HWND box = FindWindowW(L"#MessageBox", nullptr);
        return box && IsWindowVisible(box) && !IsWindowEnabled(frame_);
    }));
    platform::ui::InjectPenDown(x, y);
    platform::ui::InjectPenUp(x, y);
    // Nothing may arrive: run this thread's queue a moment to be sure.
    DWORD until = GetTickCount() + 300;
    PumpUntil([&] { return static_cast<LONG>(GetTickCount() - until) > 0; });
    EXPECT_TRUE(g_seen.empty());
    platform::ui::AnswerNextMessageBox(IDNO);
    EXPECT_TRUE(PumpUntil([&] { return result != -1; }));
    worker.join();
    EXPECT_EQ(result.load(), IDNO);
    // With the box gone the bar works again.
    platform::ui::InjectPenDown(x, y);
    platform::ui::InjectPenUp(x, y);
    EXPECT_TRUE(PumpUntil([] { return !g_seen.empty(); }));
    ASSERT_EQ(g_seen.size(), 1u);
    EXPECT_EQ(g_seen[0], (std::pair<UINT, WPARAM>{WM_COMMAND, 40010}));
    DestroyWindow(bar);
}

// Keys go to the program's window again once a menu or box in front of it has closed:
// never to the soft-key bar, which takes no keys of its own.
TEST_F(Modal, KeysReturnToTheOwnerWhenADropDownOrBoxCloses) {
    using platform::ui::MenuItemDef;
    platform::ui::AddMenu(MAKEINTRESOURCEW(401), {MenuItemDef{0, L"menu", {{32773, L"推荐  (&1)", {}}}}});
    platform::ui::AddString(104, L"退出");
    platform::ui::AddString(105, L"菜单");
    platform::ui::AddResource(RT_RCDATA, MAKEINTRESOURCEW(502),
                              platform::ui::BuildMenuBar(401, {{40010, 104, 0x10, 0xFFFF}, {40001, 105, 0x18, 0}}));
    HWND bar = SoftKeyBar(frame_, 502);
    ASSERT_NE(bar, nullptr);
    SetFocus(nullptr);
    ACCEL help{FVIRTKEY | FCONTROL, '6', 40009};
    HACCEL accel = CreateAcceleratorTableW(&help, 1);
    auto helpReachesTheFrame = [&] {
        g_seen.clear();
        InjectKey("ctrl+6");
        // Until Control is up again too, so no pressed key outlives the test.
        return PumpUntil([] { return !g_seen.empty() && !(GetKeyState(VK_CONTROL) & 0x8000); }, accel) &&
               g_seen.size() == 1 &&
               g_seen[0].first == WM_COMMAND && LOWORD(g_seen[0].second) == 40009;
    };
    ASSERT_TRUE(helpReachesTheFrame());

    std::atomic<bool> closed{false};
    std::thread keys([&] {
        if (WaitForWindowOfClass(L"#PopupMenu")) InjectKey("back");
        closed = true;
    });
    g_seen.clear();
    InjectKey("soft2");
    EXPECT_TRUE(PumpUntil([&] {
        HWND h = FindWindowW(L"#PopupMenu", nullptr);
        return closed && (!h || !IsWindowVisible(h));
    }));
    keys.join();
    EXPECT_TRUE(g_seen.empty());  // closed without a choice
    EXPECT_EQ(GetActiveWindow(), frame_);
    EXPECT_TRUE(helpReachesTheFrame());

    platform::ui::AnswerNextMessageBox(IDNO);
    EXPECT_EQ(MessageBoxW(frame_, L"确定要退出吗？", L"提示", MB_YESNO), IDNO);
    EXPECT_EQ(GetActiveWindow(), frame_);
    EXPECT_TRUE(helpReachesTheFrame());
    DestroyAcceleratorTable(accel);
    DestroyWindow(bar);
}

// A window that a modal window has disabled takes no keys, even while it is still the
// active one (as in the moment a box comes up): they go to the window in front.
TEST_F(Modal, KeysPassOverADisabledActiveWindow) {
    HWND front = CreateWindowExW(0, L"TestModalFrame", L"front", WS_POPUP, 0, 0, 100, 100, frame_, nullptr, nullptr,
                                 nullptr);
    ASSERT_NE(front, nullptr);
    ShowWindow(front, SW_SHOWNA);
    ASSERT_EQ(GetActiveWindow(), frame_);
    SetFocus(nullptr);
    EnableWindow(frame_, FALSE);
    InjectKey("up");
    EXPECT_TRUE(PumpUntil([] { return !g_keys.empty(); }));
    ASSERT_EQ(g_keys.size(), 1u);
    EXPECT_EQ(g_keys[0].first, front);
    EnableWindow(frame_, TRUE);
    DestroyWindow(front);
}

// A pop-up menu is made, then shown and given the focus: keys sent as soon as it exists are
// its own, as the phone's menu loop takes every key while a menu is open.
std::vector<WPARAM> g_menuChars;
LRESULT RecordingMenuProc(HWND, UINT msg, WPARAM wParam, LPARAM) {
    if (msg == WM_CHAR) g_menuChars.push_back(wParam);
    return 0;
}

TEST_F(Modal, KeysGoToAPopupMenuFromTheMomentItExists) {
    g_menuChars.clear();
    HWND menu = CreateWindowExW(WS_EX_TOPMOST, L"#PopupMenu", L"", WS_POPUP, 0, 0, 100, 100, frame_, nullptr, nullptr,
                                nullptr);
    ASSERT_NE(menu, nullptr);
    SetWindowLongPtrW(menu, GWL_WNDPROC, reinterpret_cast<LONG_PTR>(RecordingMenuProc));
    SetFocus(frame_);
    platform::ui::InjectText(L"2");
    EXPECT_TRUE(PumpUntil([] { return !g_menuChars.empty(); }));
    EXPECT_EQ(g_menuChars, std::vector<WPARAM>{L'2'});
    EXPECT_TRUE(g_keys.empty());
    DestroyWindow(menu);
}

}  // namespace
