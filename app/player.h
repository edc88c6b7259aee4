// The player core's binding: the player thread that loads "interface.plg" and runs its Main,
// the play command with its play request, the automatic video driver and the watch on
// the core's play counter.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/cstring.h"
#include "platform/windows.h"
#include "platform/winuser.h"

struct VideoItem;

#define PLAY_REQUEST_CHARS 3072
#define DRIVER_SLOTS 16
#define DRIVER_NAME_CHARS 34

// Filled by the core's GetPlayerInfo: 2192 bytes laid out for the core, names in UTF-16.
struct DriverSlot {
    char16_t name[DRIVER_NAME_CHARS];  // NUL-terminated; the rest of the slot is not read
};
struct PlayerInfo {
    DriverSlot videoDrivers[DRIVER_SLOTS];
    int32_t reserved1;
    int32_t videoDriverCount;
    DriverSlot audioDrivers[DRIVER_SLOTS];
    int32_t reserved2;
    int32_t audioDriverCount;
};
static_assert(sizeof(PlayerInfo) == 2192, "PlayerInfo is the core's record");

// The core's entry points.
using MainProc = int (*)(const wchar_t* appName, const wchar_t* version, int mode, const wchar_t* commandLine);
using PlayVideoProc = int (*)(const char16_t* request);
using GetPlayCountProc = int (*)(int* count);
using GetPlayerInfoProc = int (*)(PlayerInfo* info);
using SetVideoOutputProc = int (*)(int index);
using SetAudioOutputProc = int (*)(int index);

// Null until resolved and again once the core has ended. Calls go through Call* below.
extern std::atomic<GetPlayerInfoProc> FuncGetPlayerInfo;
extern std::atomic<GetPlayCountProc> FuncGetPlayCount;
extern std::atomic<SetVideoOutputProc> FuncSetVideoOutput;
extern std::atomic<SetAudioOutputProc> FuncSetAudioOutput;
extern std::atomic<PlayVideoProc> FuncPlayVideo;
extern std::atomic<MainProc> FuncMain;

// Each calls the entry point when it is there and returns false, calling nothing, when it
// is not. The core is not unloaded while a call is in progress.
bool CallGetPlayerInfo(PlayerInfo* info, int* result);
bool CallGetPlayCount(int* count);
bool CallSetVideoOutput(int index);
bool CallSetAudioOutput(int index);
bool CallPlayVideo(const char16_t* request, int* result);

// A record's counts within 0..16, and a slot's name read within the slot.
int VideoDriverCount(const PlayerInfo& info);
int AudioDriverCount(const PlayerInfo& info);
CStringW DriverName(const DriverSlot& slot);

extern PlayerInfo g_playerInfo;
extern char16_t g_playRequest[PLAY_REQUEST_CHARS];
extern int g_lastPlayCount;
extern int g_driverChosen;
extern int g_playerMode;
extern HANDLE g_hPlayerThread;
extern HANDLE g_hCheckThread;

// Thread procedure: runs Player with the wide text `commandLine`; 1 when it failed.
DWORD PlayerThread(LPVOID commandLine);
int Player(const wchar_t* commandLine);
int FindPlayerWindow(const wchar_t* commandLine);
BOOL FindOwnedWindowProc(HWND hwnd, LPARAM found);
HMODULE LoadPlayerModule(const wchar_t* name);
int SetDriver();
int callPlayer(const VideoItem& video, int videoType);
// Callers have set g_playBusy; on failure they clear it.
int BeginPlayVideo(HWND hwnd);
DWORD CheckPlayThread(LPVOID window);
// The waits of CheckPlayThread; tests put their own in its place (null: Sleep).
using PlayCheckSleep = void (*)(DWORD milliseconds);
void SetPlayCheckSleep(PlayCheckSleep sleep);
