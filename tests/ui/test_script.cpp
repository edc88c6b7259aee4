// The headless script: its language, and a run that taps, types and takes a screenshot
// whose pixels are checked at known places.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

#include "platform/gdi.h"
#include <png.h>

#include "platform/surface.h"
#include "platform/sync.h"
#include "platform/ui.h"
#include "platform/winuser.h"

namespace {

using platform::ui::ScriptCommand;

// A folder of the test's own, gone with it.
struct TempFolder {
    std::string path;
    explicit TempFolder(const std::string& name) : path(testing::TempDir() + "/" + name + "-" + std::to_string(getpid())) {
        mkdir(path.c_str(), 0700);
    }
    ~TempFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
};

bool ReadPng(const std::string& path, int* width, int* height, std::vector<uint8_t>* px) {
    png_image img{};
    img.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&img, path.c_str())) return false;
    img.format = PNG_FORMAT_RGB;
    px->resize(PNG_IMAGE_SIZE(img));
    if (!png_image_finish_read(&img, nullptr, px->data(), 0, nullptr)) return false;
    *width = static_cast<int>(img.width);
    *height = static_cast<int>(img.height);
    return true;
}

int Rgb(const std::vector<uint8_t>& px, int width, int x, int y) {
    const uint8_t* p = &px[(static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)) * 3];
    return (p[0] << 16) | (p[1] << 8) | p[2];
}

TEST(Script, EveryCommandParses) {
    const char* text =
        "# a comment, then a blank line\n"
        "\n"
        "tap 10 20\n"
        "hold 30 40\r\n"
        "drag 1 2 3 4 250\n"
        "key soft1\n"
        "key ctrl+5\n"
        "text 澜映 search words\n"
        "rotate\n"
        "answer yes\n"
        "wait 100\n"
        "screenshot out/shot.png\n"
        "quit\n";
    std::vector<ScriptCommand> c;
    std::string err;
    ASSERT_TRUE(platform::ui::ParseScript(text, &c, &err)) << err;
    ASSERT_EQ(c.size(), 11u);
    EXPECT_EQ(c[0].kind, ScriptCommand::Tap);
    EXPECT_EQ(c[0].x1, 10);
    EXPECT_EQ(c[0].y1, 20);
    EXPECT_EQ(c[0].line, 3);
    EXPECT_EQ(c[1].kind, ScriptCommand::Hold);
    EXPECT_EQ(c[2].kind, ScriptCommand::Drag);
    EXPECT_EQ(c[2].x2, 3);
    EXPECT_EQ(c[2].y2, 4);
    EXPECT_EQ(c[2].ms, 250);
    EXPECT_EQ(c[4].arg, "ctrl+5");
    EXPECT_EQ(c[5].arg, "澜映 search words");  // the rest of the line, blanks kept
    EXPECT_EQ(c[6].kind, ScriptCommand::Rotate);
    EXPECT_EQ(c[7].arg, "yes");
    EXPECT_EQ(c[8].ms, 100);
    EXPECT_EQ(c[9].arg, "out/shot.png");
    EXPECT_EQ(c[10].kind, ScriptCommand::Quit);
}

TEST(Script, BadLinesAreRefusedWithTheirLineNumber) {
    struct Case {
        const char* text;
        const char* where;
    } cases[] = {
        {"tap 1\n", "line 1"},          {"tap a b\n", "line 1"},       {"tap 1 2\nhold 1 2 3\n", "line 2"},
        {"drag 1 2 3 4\n", "line 1"},   {"drag 1 2 3 4 -5\n", "line 1"}, {"key menu\n", "line 1"},
        {"key ctrl+x\n", "line 1"},     {"answer maybe\n", "line 1"},  {"wait\n", "line 1"},
        {"screenshot\n", "line 1"},     {"text\n", "line 1"},          {"jump 1 2\n", "line 1"},
        {"\n\nrotate now\n", "line 3"}, {"quit please\n", "line 1"},  {"wait idle soon\n", "line 1"},
        {"wait idle 0\n", "line 1"},   {"wait idle 5 6\n", "line 1"}, {"wait busy\n", "line 1"},
        {"wait file\n", "line 1"},     {"wait file a b\n", "line 1"}, {"wait file a 1 2\n", "line 1"},
    };
    for (auto& c : cases) {
        std::vector<ScriptCommand> out;
        std::string err;
        EXPECT_FALSE(platform::ui::ParseScript(c.text, &out, &err)) << c.text;
        EXPECT_EQ(err.rfind(c.where, 0), 0u) << c.text << " -> " << err;
        EXPECT_TRUE(out.empty());
    }
}

TEST(Script, WaitIdleAndWaitFileTakeAnOptionalBound) {
    std::vector<ScriptCommand> c;
    std::string err;
    ASSERT_TRUE(platform::ui::ParseScript("wait idle\nwait idle 2500\nwait 40\nwait file go.txt\nwait file a/b 700\n", &c,
                                          &err))
        << err;
    ASSERT_EQ(c.size(), 5u);
    EXPECT_EQ(c[0].kind, ScriptCommand::WaitIdle);
    EXPECT_EQ(c[0].ms, platform::ui::kWaitIdleDefaultMs);
    EXPECT_EQ(c[1].kind, ScriptCommand::WaitIdle);
    EXPECT_EQ(c[1].ms, 2500);
    EXPECT_EQ(c[2].kind, ScriptCommand::Wait);
    EXPECT_EQ(c[2].ms, 40);
    EXPECT_EQ(c[3].kind, ScriptCommand::WaitFile);
    EXPECT_EQ(c[3].arg, "go.txt");
    EXPECT_EQ(c[3].ms, platform::ui::kWaitIdleDefaultMs);
    EXPECT_EQ(c[4].arg, "a/b");
    EXPECT_EQ(c[4].ms, 700);
}

TEST(Script, OptionsFromArgumentsAndEnvironment) {
    unsetenv("LUMEO_SCREEN");
    unsetenv("LUMEO_HEADLESS");
    const char* argv[] = {"Lumeo", "--screen", "800x480", "--api-host", "127.0.0.1:8080"};
    auto o = platform::ui::ParseDisplayOptions(5, argv);
    EXPECT_TRUE(o.error.empty());
    EXPECT_EQ(o.width, 800);
    EXPECT_EQ(o.height, 480);
    EXPECT_FALSE(o.headless);
    EXPECT_EQ(o.rest, (std::vector<std::string>{"--api-host", "127.0.0.1:8080"}));
    auto d = platform::ui::ParseDisplayOptions(1, argv);
    EXPECT_EQ(d.width, 480);  // portrait by default
    EXPECT_EQ(d.height, 800);
    setenv("LUMEO_SCREEN", "320x240", 1);
    setenv("LUMEO_HEADLESS", "1", 1);
    auto e = platform::ui::ParseDisplayOptions(1, argv);
    EXPECT_EQ(e.width, 320);
    EXPECT_TRUE(e.headless);
    auto w = platform::ui::ParseDisplayOptions(3, argv);  // the option wins over the environment
    EXPECT_EQ(w.width, 800);
    unsetenv("LUMEO_SCREEN");
    unsetenv("LUMEO_HEADLESS");
    const char* script[] = {"Lumeo", "--script", "s.txt"};
    EXPECT_TRUE(platform::ui::ParseDisplayOptions(3, script).headless);
    const char* bad[] = {"Lumeo", "--screen", "800by480"};
    EXPECT_FALSE(platform::ui::ParseDisplayOptions(3, bad).error.empty());
    const char* missing[] = {"Lumeo", "--screen"};
    EXPECT_FALSE(platform::ui::ParseDisplayOptions(2, missing).error.empty());
    auto line = platform::ui::ParseDisplayOptions(std::wstring(L"--headless --screen 640x480 \"a b\""));
    EXPECT_TRUE(line.headless);
    EXPECT_EQ(line.width, 640);
    EXPECT_EQ(line.rest, (std::vector<std::string>{"a b"}));
}

// A window that paints its left half red and right half blue; taps and text are logged.
std::vector<std::string> g_events;
LRESULT PaintProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(h, &ps);
        RECT c;
        GetClientRect(h, &c);
        RECT left{0, 0, c.right / 2, c.bottom}, right{c.right / 2, 0, c.right, c.bottom};
        HBRUSH red = CreateSolidBrush(RGB(255, 0, 0)), blue = CreateSolidBrush(RGB(0, 0, 255));
        FillRect(dc, &left, red);
        FillRect(dc, &right, blue);
        DeleteObject(red);
        DeleteObject(blue);
        EndPaint(h, &ps);
        return 0;
    }
    case WM_LBUTTONDOWN:
        g_events.push_back("down " + std::to_string(static_cast<SHORT>(LOWORD(lParam))) + " " +
                           std::to_string(static_cast<SHORT>(HIWORD(lParam))));
        return 0;
    case WM_CHAR: g_events.push_back("char " + std::to_string(wParam)); return 0;
    case WM_KEYDOWN: g_events.push_back("key " + std::to_string(wParam)); return 0;
    case WM_DESTROY: PostQuitMessage(7); return 0;
    default: return DefWindowProcW(h, msg, wParam, lParam);
    }
}

// Starts the headless display on `script` at 320x240 with one focused window of `proc`,
// then runs the program's loop until it ends; returns the window and the loop's exit code.
std::pair<HWND, WPARAM> RunScriptedWindow(const std::string& script, WNDPROC proc, const wchar_t* className) {
    const char* argv[] = {"Lumeo", "--script", script.c_str(), "--screen", "320x240"};
    auto o = platform::ui::ParseDisplayOptions(5, argv);
    WNDCLASSW wc{};
    wc.lpfnWndProc = proc;
    wc.lpszClassName = className;
    if (!o.error.empty() || !RegisterClassW(&wc) || platform::ui::StartDisplay(o) != 0) {
        ADD_FAILURE() << "no scripted display: " << o.error;
        return {nullptr, 0};
    }
    HWND h = CreateWindowExW(0, className, L"", WS_VISIBLE, 0, 0, 320, 240, nullptr, nullptr, nullptr, nullptr);
    if (!h) return {nullptr, 0};
    SetFocus(h);
    MSG m;
    while (GetMessageW(&m, nullptr, 0, 0)) {
        TranslateMessage(&m);
        DispatchMessageW(&m);
    }
    return {h, m.wParam};
}

TEST(Script, HeadlessRunTapsTypesAndShootsTheScreen) {
    TempFolder folder("ui-script");
    const std::string& dir = folder.path;
    std::string shot = dir + "/ui_shot.png", script = dir + "/ui_script.txt";
    std::remove(shot.c_str());
    {
        std::ofstream out(script);
        out << "tap 50 100\ntext 好\nkey enter\nscreenshot " << shot << "\nquit\n";
    }
    // The script's quit closes the window, which ends the loop.
    auto [h, code] = RunScriptedWindow(script, PaintProc, L"TestPainted");
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(code, 7u);
    platform::ui::WaitForScript();
    platform::ui::StopDisplay();
    EXPECT_FALSE(IsWindow(h));
    std::vector<std::string> want{"down 50 100", "char " + std::to_string(L'好'), "key 13", "char 13"};
    EXPECT_EQ(g_events, want);
    // Read back with libpng itself.
    png_image img{};
    img.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_file(&img, shot.c_str()));
    img.format = PNG_FORMAT_RGB;
    std::vector<uint8_t> px(PNG_IMAGE_SIZE(img));
    ASSERT_TRUE(png_image_finish_read(&img, nullptr, px.data(), 0, nullptr));
    ASSERT_EQ(img.width, 320u);
    ASSERT_EQ(img.height, 240u);
    auto at = [&](int x, int y) {
        const uint8_t* p = &px[(static_cast<size_t>(y) * 320 + static_cast<size_t>(x)) * 3];
        return (p[0] << 16) | (p[1] << 8) | p[2];
    };
    EXPECT_EQ(at(10, 10), 0xFF0000);
    EXPECT_EQ(at(159, 239), 0xFF0000);
    EXPECT_EQ(at(160, 0), 0x0000FF);
    EXPECT_EQ(at(319, 120), 0x0000FF);
}

// A program that ends while the script waits for it to settle, leaving work undone, ends
// at once: the script does not hold it up for the rest of its settling time.
LRESULT EndOnKeyProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_KEYDOWN) {
        InvalidateRect(h, nullptr, FALSE);  // a paint the ended loop never runs
        PostQuitMessage(3);
        return 0;
    }
    if (msg == WM_PAINT) {
        PAINTSTRUCT ps;
        BeginPaint(h, &ps);
        EndPaint(h, &ps);
        return 0;
    }
    return DefWindowProcW(h, msg, wParam, lParam);
}

TEST(Script, AProgramThatEndsWhileTheScriptWaitsIsNotHeldUp) {
    TempFolder folder("ui-script-end");
    const std::string& dir = folder.path;
    std::string script = dir + "/end.txt";
    std::ofstream(script) << "key enter\n";
    auto [h, code] = RunScriptedWindow(script, EndOnKeyProc, L"TestEndOnKey");
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(code, 3u);
    // The script waits up to 5 s for a program to settle; ending must not wait for that.
    DWORD start = GetTickCount();
    platform::ui::StopDisplay();
    EXPECT_LT(GetTickCount() - start, 2500u);
    DestroyWindow(h);
}

// Work the queues do not show: a worker that reports back now and then, as a download does,
// with the program's probe saying so meanwhile. The window turns blue at the last report.
const UINT kReport = WM_APP + 1;
const int kReports = 8;
std::atomic<int> g_reports{0};
std::thread g_worker;
void Paint(HWND h, COLORREF colour) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(h, &ps);
    RECT c;
    GetClientRect(h, &c);
    HBRUSH b = CreateSolidBrush(colour);
    FillRect(dc, &c, b);
    DeleteObject(b);
    EndPaint(h, &ps);
}
LRESULT SlowWorkProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_LBUTTONDOWN:
        g_worker = std::thread([h] {
            for (int i = 0; i < kReports; ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(40));  // the work itself, not a wait
                PostMessageW(h, kReport, 0, 0);
            }
        });
        return 0;
    case kReport:
        if (++g_reports == kReports) InvalidateRect(h, nullptr, FALSE);
        return 0;
    case WM_PAINT: Paint(h, g_reports == kReports ? RGB(0, 0, 255) : RGB(255, 0, 0)); return 0;
    case WM_DESTROY: PostQuitMessage(0); return 0;
    default: return DefWindowProcW(h, msg, wParam, lParam);
    }
}

TEST(Script, WaitIdleWaitsForWhatTheProgramSaysIsUnderWay) {
    TempFolder folder("ui-script-idle");
    std::string shot = folder.path + "/shot.png", script = folder.path + "/idle.txt";
    std::ofstream(script) << "tap 10 10\nwait idle\nscreenshot " << shot << "\nquit\n";
    std::atomic<int> asked{0};
    platform::ui::SetIdleProbe([&]() -> std::string {
        ++asked;
        return g_reports < kReports ? "reports missing" : "";
    });
    auto [h, code] = RunScriptedWindow(script, SlowWorkProc, L"TestSlowWork");
    platform::ui::WaitForScript();
    platform::ui::StopDisplay();
    platform::ui::SetIdleProbe(nullptr);
    if (g_worker.joinable()) g_worker.join();
    ASSERT_NE(h, nullptr);
    EXPECT_GT(asked.load(), 0);
    EXPECT_EQ(g_reports.load(), kReports);
    int w = 0, hgt = 0;
    std::vector<uint8_t> px;
    ASSERT_TRUE(ReadPng(shot, &w, &hgt, &px));
    EXPECT_EQ(Rgb(px, w, 100, 100), 0x0000FF) << "the screenshot was taken before the work was done";
}

// A window timer is work under way too (an animation): the window turns blue when its
// timer has run out.
int g_ticks = 0;
LRESULT TimerProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_KEYDOWN: SetTimer(h, 1, 30, nullptr); return 0;
    case WM_TIMER:
        if (++g_ticks == 10) {
            KillTimer(h, 1);
            InvalidateRect(h, nullptr, FALSE);
        }
        return 0;
    case WM_PAINT: Paint(h, g_ticks >= 10 ? RGB(0, 0, 255) : RGB(255, 0, 0)); return 0;
    case WM_DESTROY: PostQuitMessage(0); return 0;
    default: return DefWindowProcW(h, msg, wParam, lParam);
    }
}

TEST(Script, WaitIdleWaitsForAWindowTimerToEnd) {
    TempFolder folder("ui-script-timer");
    std::string shot = folder.path + "/shot.png", script = folder.path + "/timer.txt";
    std::ofstream(script) << "key enter\nwait idle\nscreenshot " << shot << "\nquit\n";
    auto [h, code] = RunScriptedWindow(script, TimerProc, L"TestTimer");
    platform::ui::WaitForScript();
    platform::ui::StopDisplay();
    ASSERT_NE(h, nullptr);
    int w = 0, hgt = 0;
    std::vector<uint8_t> px;
    ASSERT_TRUE(ReadPng(shot, &w, &hgt, &px));
    EXPECT_EQ(Rgb(px, w, 100, 100), 0x0000FF) << "the screenshot was taken while the timer ran";
}

// The caret that blinks in a focused edit is the program waiting for the user's text, not
// an animation: `wait idle` ends there. The key puts the focus in a box.
LRESULT EditBoxProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_KEYDOWN: {
        HWND box = CreateWindowExW(0, L"EDIT", L"猫咪", WS_CHILD | WS_VISIBLE | WS_BORDER, 10, 10, 200, 30, h, nullptr,
                                   nullptr, nullptr);
        SetFocus(box);
        return 0;
    }
    case WM_PAINT: Paint(h, RGB(255, 255, 255)); return 0;
    case WM_DESTROY: PostQuitMessage(0); return 0;
    default: return DefWindowProcW(h, msg, wParam, lParam);
    }
}

TEST(ScriptDeathTest, WaitIdleEndsAtAFocusedEditWhoseCaretBlinks) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    TempFolder folder("ui-script-edit");
    std::string script = folder.path + "/edit.txt";
    std::ofstream(script) << "key enter\nwait idle 5000\nquit\n";
    EXPECT_EXIT(
        {
            RunScriptedWindow(script, EditBoxProc, L"TestEditBox");
            platform::ui::WaitForScript();
            std::_Exit(0);
        },
        testing::ExitedWithCode(0), "");
}

// A message box waiting for its answer is the program waiting for the user.
std::atomic<int> g_answer{0};
LRESULT AskProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_KEYDOWN: g_answer = MessageBoxW(h, L"继续？", L"提示", MB_YESNO); return 0;
    case WM_PAINT: Paint(h, RGB(255, 0, 0)); return 0;
    case WM_DESTROY: PostQuitMessage(0); return 0;
    default: return DefWindowProcW(h, msg, wParam, lParam);
    }
}

TEST(Script, WaitIdleEndsAtAMessageBoxThatWaitsForItsAnswer) {
    TempFolder folder("ui-script-box");
    std::string script = folder.path + "/box.txt";
    std::ofstream(script) << "key enter\nwait idle 20000\nanswer no\nwait idle\nquit\n";
    platform::ui::SetIdleProbe([]() -> std::string { return g_answer ? "" : "no answer yet"; });
    auto [h, code] = RunScriptedWindow(script, AskProc, L"TestAsk");
    platform::ui::WaitForScript();
    platform::ui::StopDisplay();
    platform::ui::SetIdleProbe(nullptr);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(g_answer.load(), IDNO);
}

// A wait that runs out ends the run at once, naming the line and what was under way.
TEST(ScriptDeathTest, AWaitIdleThatRunsOutEndsTheRunNamingItsLine) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    TempFolder folder("ui-script-stuck");
    std::string script = folder.path + "/stuck.txt";
    std::ofstream(script) << "# never settles\nwait idle 300\nquit\n";
    EXPECT_EXIT(
        {
            platform::ui::SetIdleProbe([] { return std::string("a download that never ends"); });
            RunScriptedWindow(script, PaintProc, L"TestStuck");
            std::_Exit(0);
        },
        testing::ExitedWithCode(3), "script line 2: wait idle: still busy after 300 ms \\(a download that never ends\\)");
}

// A harness holds the run at `wait file` until it makes the file: the window here makes it
// when its key comes, and counts the keys; the second key waits for the file.
std::string g_gate;
std::atomic<int> g_keys{0};
LRESULT GateProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_KEYDOWN:
        if (++g_keys == 1) std::ofstream(g_gate) << "go\n";
        return 0;
    case WM_DESTROY: PostQuitMessage(0); return 0;
    default: return DefWindowProcW(h, msg, wParam, lParam);
    }
}

TEST(Script, WaitFileGoesOnOnceTheFileIsThere) {
    TempFolder folder("ui-script-gate");
    g_gate = folder.path + "/gate";
    std::string script = folder.path + "/gate.txt";
    std::ofstream(script) << "key enter\nwait file " << g_gate << " 20000\nkey enter\nquit\n";
    auto [h, code] = RunScriptedWindow(script, GateProc, L"TestGate");
    platform::ui::WaitForScript();
    platform::ui::StopDisplay();
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(g_keys.load(), 2);
}

TEST(ScriptDeathTest, AWaitFileThatRunsOutEndsTheRunNamingItsLine) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    TempFolder folder("ui-script-nofile");
    std::string script = folder.path + "/nofile.txt", missing = folder.path + "/never";
    std::ofstream(script) << "wait file " << missing << " 300\nquit\n";
    EXPECT_EXIT(
        {
            RunScriptedWindow(script, PaintProc, L"TestNoFile");
            std::_Exit(0);
        },
        testing::ExitedWithCode(3), "script line 1: wait file: no [^ ]*/never after 300 ms");
}

}  // namespace
