#include "pending.h"

#include "log.h"
#include "skin.h"

HBITMAP GetPicture(DownloadManager*, const wchar_t*) { return g_skin.picBk; }
int LoadPicture(DownloadManager*, std::vector<VideoItem>&, int, Scroller*, int) { return 0; }

// The wait dialog's animation: not drawn in this build.
struct GifPlayer {};
GifPlayer g_waitGif;
void InitGif(GifPlayer*, HDC) {}
int LoadGif(GifPlayer*, const wchar_t*) { return 1; }
void SetGifPosition(GifPlayer*, int, int) {}
void PlayGif(GifPlayer*) {}
void StopGif(GifPlayer*) {}
int ShowDtlInfo(HWND) { return -1; }
int BeginPlayVideo(HWND) { return -1; }
int ShowPropertySheet(HWND, int, int, LPARAM) { return -1; }
int checkUpdate(HWND, const wchar_t*) { return 0; }
DWORD PlayerThread(LPVOID) { return 0; }

