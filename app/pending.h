// Entry points of the parts that come with the pages: the init thread and the list loaders
// of the wait dialog. Until those land each reports that it is not there (the callers log
// the failure as they would any other).
#pragma once

#include <vector>

#include "platform/windows.h"
#include "platform/winuser.h"
#include "platform/gdi.h"
#include "update.h"  // checkUpdate, called by the init thread

struct Skin;
struct VideoItem;
class DownloadManager;
class Scroller;

DWORD InitThread(LPVOID param);
int SwitchChannel(int rssType, int period, Skin* skin);
// The wait dialog of the list loaders.
int ShowDlgBox(HWND window, int mode, const wchar_t* text);
