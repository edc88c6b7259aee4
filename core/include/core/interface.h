// The entry points of "interface.plg", the player core as the main program loads it, and
// the records they exchange. Both records are laid out for the outside world: their
// text is UTF-16LE.
#pragma once

#include <cstdint>

#define PLAYREQUEST_CHARS 3072   // UTF-16 units of the play request block

// Filled by GetPlayerInfo: 2192 bytes.
struct PlayerDriverSlot {
    char16_t name[34];  // NUL-terminated
};
struct PlayerInfo {
    PlayerDriverSlot videoDrivers[16];
    int32_t reserved1;
    int32_t videoDriverCount;
    PlayerDriverSlot audioDrivers[16];
    int32_t reserved2;
    int32_t audioDriverCount;
};
static_assert(sizeof(PlayerInfo) == 2192, "PlayerInfo is a wire record");

extern "C" {
// Runs the core on the calling thread until it ends (ExitPlayer, or the process ends).
using MainFn = int (*)(const wchar_t* appName, const wchar_t* version, int mode, const wchar_t* commandLine);
// The play request: consecutive NUL-terminated UTF-16 strings (duration, title, N, total
// size, N offsets, N start seconds, N urls). 0 = accepted; playing starts in Main.
using PlayVideoFn = int (*)(const char16_t* request);
using GetPlayCountFn = int (*)(int* count);
using GetPlayerInfoFn = int (*)(PlayerInfo* info);
using SetVideoOutputFn = int (*)(int index);
using SetAudioOutputFn = int (*)(int index);
// Ends Main (for the host's own use and tests; the main program does not call it).
using ExitPlayerFn = int (*)();
}
