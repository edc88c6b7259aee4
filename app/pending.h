// Entry points of the parts that come with other pages: the animated picture, playback and
// the settings sheet. Until those land each reports that it is not there (the callers log
// the failure as they would any other).
#pragma once

#include <vector>

#include "platform/windows.h"
#include "platform/winuser.h"
#include "platform/gdi.h"
#include "update.h"  // checkUpdate, called by the init thread

// The animations of the detail page and the wait dialog: they load (so that their windows
// can be made) and never play.
struct GifPlayer {
    int playing = 0;
};
extern GifPlayer g_dtlGif;
extern GifPlayer g_waitGif;
void InitGif(GifPlayer* gif, HDC dc);
int LoadGif(GifPlayer* gif, const wchar_t* path);
void SetGifPosition(GifPlayer* gif, int x, int y);
void PlayGif(GifPlayer* gif);
void StopGif(GifPlayer* gif);
int BeginPlayVideo(HWND hwnd);
int ShowPropertySheet(HWND hwnd, int id, int code, LPARAM lParam);
// No player core in this build: the thread ends at once.
DWORD PlayerThread(LPVOID commandLine);
