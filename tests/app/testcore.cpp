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

EXPORT int Main(const wchar_t* appName, const wchar_t* version, int mode, const wchar_t* commandLine) {
    Copy(g_control.appName, appName, 32);
    Copy(g_control.version, version, 32);
    g_control.mode = mode;
    Copy(g_control.commandLine, commandLine, 64);
    ++g_control.mainCalls;
    g_control.mainRunning = 1;
    for (int i = 0; i < 30000 && !g_control.endMain; ++i) usleep(1000);
    g_control.mainRunning = 0;
    return 0;
}
#endif
