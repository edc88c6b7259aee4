// Thumbnail threads: one per visible row whose picture is neither cached nor on its way.
//
// What a thumbnail thread reads of the user interface, once its picture is stored, to
// decide whether to repaint the list view: g_hWaitDlg, g_curList (its rssType, its item
// count and the vid at the job's index), g_orientation and the first and last visible
// index of the scroller in use, all under LockLists (waitDlg.h). It writes nothing of them;
// it only invalidates and updates g_hListView, after the lock is let go, and posts
// WM_DTL_PICTURE to the detail page when the page waits for its vid.
#pragma once

#include <vector>

#include "download.h"
#include "parseXML.h"
#include "platform/cstring.h"
#include "platform/windows.h"
#include "platform/winuser.h"

class Scroller;

// Posted to the window of LoadDetailPicture when the picture's thread has ended.
#define WM_DTL_PICTURE (WM_APP + 0x118)

// One thumbnail thread's work; made by LoadPicture or LoadDetailPicture, deleted by the thread.
struct PictureJob {
    DownloadManager* mgr = nullptr;
    CStringW vid;
    CStringW img;
    int keepFile = 0;  // 1 for the first screenful of a list
    int online = 0;
    int index = 0;     // the row in the list it was started for
    int rssType = 0;   // the kind of that list
};

// Starts a thumbnail thread for every row between the scroller's first and last visible
// index that has no picture cached and none on its way. 0, or -1 when a job cannot be made.
int LoadPicture(DownloadManager* mgr, const std::vector<VideoItem>& items, int online, Scroller* scroller,
                int rssType);
// The detail page's picture of `item` when the cache has none: a thumbnail thread fetches
// it (online) unless one is on its way already, and `notify` is posted WM_DTL_PICTURE once
// the thread that fetches it has ended, picture or not. Nothing here waits on the network.
// 0, or -1 when no thread could be started.
int LoadDetailPicture(DownloadManager* mgr, const VideoItem& item, HWND notify);
// Whether the detail page still waits for the picture of `vid`; true only once after a
// LoadDetailPicture for it (the page then takes the picture from the cache).
bool TakeDetailPicture(const wchar_t* vid);
// Thread procedure: PictureThread(job->mgr, job).
DWORD PictureThreadProc(LPVOID job);
// Thumbnail threads started by LoadPicture or LoadDetailPicture that have not yet ended.
int PictureThreadsRunning();
// Fetches the job's picture, repaints the list view when its row is still in sight, and
// deletes the job. 0, or 1 when DownloadPicture failed.
int PictureThread(DownloadManager* mgr, PictureJob* job);
