#include "pending.h"

#include "log.h"
#include "skin.h"

GifPlayer g_dtlGif;
GifPlayer g_waitGif;
void InitGif(GifPlayer*, HDC) {}
int LoadGif(GifPlayer*, const wchar_t*) { return 1; }
void SetGifPosition(GifPlayer*, int, int) {}
void PlayGif(GifPlayer* gif) { gif->playing = 0; }
void StopGif(GifPlayer* gif) { gif->playing = 0; }
int BeginPlayVideo(HWND) { return -1; }
int ShowPropertySheet(HWND, int, int, LPARAM) { return -1; }
DWORD PlayerThread(LPVOID) { return 0; }
