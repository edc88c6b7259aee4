// The detail page: the current video's thumbnail, facts and description, and the related
// videos that a thread of its own fetches.
#pragma once

#include <atomic>
#include <vector>

#include "parseXML.h"
#include "tools.h"
#include "platform/cstring.h"
#include "platform/windows.h"
#include "platform/winuser.h"

// A related-videos thread's answer to the page: lParam is a RelVideoResult* the page owns.
#define WM_REL_VIDEOS (WM_APP + 0x117)

// One related-videos request, owned by its thread.
struct RelVideoParam {
    HWND owner;     // the page, which hears of the result
    CStringW vid;   // the video whose related list is fetched
    int pz;         // videos asked for
    LONG request;   // the request's number; a newer one supersedes it
    int online;     // 0: only an answer already cached is read
};

struct RelVideoResult {
    LONG request;
    CStringW vid;
    int ok;  // 0 read, -1 failed
    std::vector<VideoItem> items;
};

extern int g_relSel;
extern HBITMAP g_dtlPicture;
extern HANDLE g_hRelThread;
extern HMENU g_hDtlPopup;
extern const ButtonDef DtlButtons[1];
extern HWND g_hDtlBtn[1];
// The number of the latest related-videos request.
extern std::atomic<LONG> g_relRequest;

DWORD RelVideoThread(LPVOID param);
// Related-videos threads that have not ended yet.
int RelVideoThreadsRunning();
// The description as the page draws it: tabs as blanks, runs of blanks as one, no line breaks.
CStringW CleanDescription(const wchar_t* text);
