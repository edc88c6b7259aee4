// Entry points of the parts that come with other pages: the thumbnail cache, the animated
// picture, the detail page, playback and the settings sheet. Until those land each reports
// that it is not there (the callers log the failure as they would any other).
#pragma once

#include <vector>

#include "platform/windows.h"
#include "platform/winuser.h"
#include "platform/gdi.h"

struct VideoItem;
class DownloadManager;
class Scroller;
struct GifPlayer;

// The thumbnail cache: nothing cached (the background picture) and nothing fetched yet.
HBITMAP GetPicture(DownloadManager* manager, const wchar_t* vid);
int LoadPicture(DownloadManager* manager, std::vector<VideoItem>& items, int online, Scroller* scroller, int rssType);
// The wait dialog's animated picture.
extern GifPlayer g_waitGif;
void InitGif(GifPlayer* gif, HDC dc);
int LoadGif(GifPlayer* gif, const wchar_t* path);
void SetGifPosition(GifPlayer* gif, int x, int y);
void PlayGif(GifPlayer* gif);
void StopGif(GifPlayer* gif);

int ShowDtlInfo(HWND hwnd);
int BeginPlayVideo(HWND hwnd);
int ShowPropertySheet(HWND hwnd, int id, int code, LPARAM lParam);
// Nothing to update: 0, the result the init thread goes on after.
int checkUpdate(HWND owner, const wchar_t* appDir);
// No player core in this build: the thread ends at once.
DWORD PlayerThread(LPVOID commandLine);
