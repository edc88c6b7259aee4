// A player core for the program's tests. TESTCORE_WITHOUT names the entry point a variant
// leaves out (1 GetPlayerInfo, 4 SetAudioOutput, 6 Main).
#include <unistd.h>

#include <cwchar>

#include "testcore.h"

#ifndef TESTCORE_WITHOUT
#define TESTCORE_WITHOUT 0
#endif

#define EXPORT extern "C" __attribute__((visibility("default")))

namespace {
TestCoreControl g_control;
}  // namespace

EXPORT TestCoreControl* TestCore() { return &g_control; }

struct PlayerInfo;  // the program's record, filled here byte by byte

#if TESTCORE_WITHOUT != 1
EXPORT int GetPlayerInfo(PlayerInfo* info) {
    // Two video drivers and one audio driver, laid out as the record wants.
    auto* bytes = reinterpret_cast<unsigned char*>(info);
    for (int i = 0; i < 2192; ++i) bytes[i] = 0;
    auto* video = reinterpret_cast<char16_t*>(bytes);
    const char16_t* names[] = {u"DirectDraw", u"GDI"};
    for (int slot = 0; slot < 2; ++slot)
        for (int k = 0; names[slot][k]; ++k) video[slot * 34 + k] = names[slot][k];
    *reinterpret_cast<int*>(bytes + 1092) = 2;
    auto* audio = reinterpret_cast<char16_t*>(bytes + 1096);
    const char16_t wave[] = u"WaveOut";
    for (int k = 0; wave[k]; ++k) audio[k] = wave[k];
    *reinterpret_cast<int*>(bytes + 2188) = 1;
    return 0;
}
#endif

EXPORT int GetPlayCount(int* count) {
    ++g_control.countQueries;
    *count = g_control.requests;
    return 0;
}

EXPORT int SetVideoOutput(int index) {
    g_control.videoOutput = index;
    return 0;
}

#if TESTCORE_WITHOUT != 4
EXPORT int SetAudioOutput(int index) {
    g_control.audioOutput = index;
    return 0;
}
#endif

EXPORT int PlayVideo(const char16_t*) {
    ++g_control.requests;
    return 0;
}

#if TESTCORE_WITHOUT != 6
static void Copy(wchar_t* to, const wchar_t* from, size_t n) {
    std::wcsncpy(to, from ? from : L"", n - 1);
    to[n - 1] = 0;
}
#endif

#if TESTCORE_WINDOW
// The windows come from the test program's own window system, whose functions it exports.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/winuser.h"

static LRESULT CoreWindowProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_COPYDATA) {
        auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
        g_control.copyWParam = static_cast<uintptr_t>(wParam);
        g_control.copyDwData = data->dwData;
        g_control.copyBytes = data->cbData;
        std::memcpy(g_control.copied, data->lpData, std::min<size_t>(data->cbData, sizeof g_control.copied));
        ++g_control.copies;
        return 1;
    }
    return DefWindowProcW(h, msg, wParam, lParam);
}

static void RunWindows(const wchar_t* appName) {
    std::wstring className = std::wstring(appName) + L"_Win";
    WNDCLASSW wc{};
    wc.lpfnWndProc = CoreWindowProc;
    wc.lpszClassName = className.c_str();
    RegisterClassW(&wc);
    auto make = [&](HWND owner) {
        return CreateWindowExW(0, className.c_str(), L"", WS_POPUP, 0, 0, 40, 40, owner, nullptr, nullptr, nullptr);
    };
    HWND target = make(nullptr);
    std::vector<HWND> all{target};
    HWND reached = target;
    int chain = g_control.chain;
    if (chain > 0) EnableWindow(target, FALSE);
    for (int i = 0; i < chain; ++i) {
        all.push_back(make(nullptr));  // beside the line: owned by none
        reached = make(reached);
        all.push_back(reached);
        if (i + 1 < chain) EnableWindow(reached, FALSE);
    }
    g_control.target = target;
    g_control.reached = reached;
    g_control.windowsUp = 1;
    while (!g_control.endMain) {
        MSG m;
        while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&m);
        usleep(1000);
    }
    for (auto it = all.rbegin(); it != all.rend(); ++it) DestroyWindow(*it);
    g_control.windowsUp = 0;
}
#endif

#if TESTCORE_WITHOUT != 6
EXPORT int Main(const wchar_t* appName, const wchar_t* version, int mode, const wchar_t* commandLine) {
    Copy(g_control.appName, appName, 32);
    Copy(g_control.version, version, 32);
    g_control.mode = mode;
    Copy(g_control.commandLine, commandLine, 64);
    ++g_control.mainCalls;
    g_control.mainRunning = 1;
#if TESTCORE_WINDOW
    RunWindows(appName);
#else
    for (int i = 0; i < 30000 && !g_control.endMain; ++i) usleep(1000);
#endif
    g_control.mainRunning = 0;
    return 0;
}
#endif
