#include "pictures.h"

#include <atomic>
#include <mutex>
#include <new>

#include "listview.h"
#include "log.h"
#include "scroller.h"
#include "tools.h"
#include "waitDlg.h"
#include "platform/sync.h"
#include "platform/winuser.h"

namespace {

std::atomic<int> g_pictureThreads{0};

Scroller* CurrentScroller() { return g_orientation == 1 ? &g_scrollerPortrait : &g_scrollerLandscape; }

// Whether the job's row is still on screen in the list it was started for. A stale
// reading costs or saves one repaint; the vid test keeps a picture off a changed row.
bool RowStillShown(const PictureJob* job) {
    if (g_hWaitDlg) return false;
    VideoList* list = g_curList;
    if (!list || GetRssType(list) != job->rssType) return false;
    Scroller* scroller = CurrentScroller();
    if (job->index < scroller->GetFirstVisible() || job->index > scroller->GetLastVisible()) return false;
    const std::vector<VideoItem>& items = GetItems(list);
    if (job->index < 0 || job->index >= static_cast<int>(items.size())) return false;
    return items[job->index].vid == job->vid;
}

// The picture the detail page waits for, and the page. A thumbnail thread of that vid,
// whoever started it, tells the page once it has ended.
struct DetailWait {
    std::mutex mu;
    CStringW vid;
    HWND notify = nullptr;
};

DetailWait& Wait() {
    static auto* w = new DetailWait;
    return *w;
}

void TellDetailPage(const CStringW& vid) {
    HWND notify = nullptr;
    {
        std::lock_guard lk(Wait().mu);
        if (Wait().notify && Wait().vid == vid) notify = Wait().notify;
    }
    if (notify) PostMessageW(notify, WM_DTL_PICTURE, 0, 0);
}

// Starts a thumbnail thread for `work` (a copy of it, which the thread owns from then on)
// and marks its vid pending. 0; -1 without memory, -2 when no thread starts (both logged,
// nothing left pending). Under csPending.
int StartJob(const PictureJob& work) {
    PictureJob* job = new (std::nothrow) PictureJob(work);
    if (!job) {
        LOG(LOG_ERROR, L"not enough memory");
        return -1;
    }
    DownloadManager* mgr = work.mgr;
    mgr->pending.insert(work.vid);
    ++g_pictureThreads;
    HANDLE thread = CreateThread(nullptr, 0, PictureThreadProc, job, 0, nullptr);
    if (!thread) {
        LOG(LOG_ERROR, L"CreateThread failed : item=%d", work.index);
        --g_pictureThreads;
        // Nothing runs for the vid: a later load may try again.
        mgr->pending.erase(work.vid);
        delete job;
        return -2;
    }
    CloseHandle(thread);
    return 0;
}

}  // namespace

int LoadDetailPicture(DownloadManager* mgr, const VideoItem& item, HWND notify) {
    {
        std::lock_guard lk(Wait().mu);
        Wait().vid = item.vid;
        Wait().notify = notify;
    }
    // Stored meanwhile by a thread that has told nobody: the page takes it now.
    if (GetPicture(mgr, item.vid) != mgr->picBk) {
        PostMessageW(notify, WM_DTL_PICTURE, 0, 0);
        return 0;
    }
    platform::CsLock lock(&mgr->csPending);
    // A thread on its way for the vid tells the page when it ends.
    if (mgr->pending.count(item.vid)) return 0;
    PictureJob work{.mgr = mgr, .vid = item.vid, .img = item.img, .keepFile = 0, .online = 1,
                    .index = -1, .rssType = -1};  // no row of a list
    return StartJob(work) == 0 ? 0 : -1;
}

bool TakeDetailPicture(const wchar_t* vid) {
    std::lock_guard lk(Wait().mu);
    if (!Wait().notify || Wait().vid != vid) return false;
    Wait().notify = nullptr;
    Wait().vid.Empty();
    return true;
}

int LoadPicture(DownloadManager* mgr, const std::vector<VideoItem>& items, int online, Scroller* scroller,
                int rssType) {
    int first = scroller->GetFirstVisible();
    int last = scroller->GetLastVisible();
    int perView = scroller->GetItemsPerView();
    for (int index = first; index <= last; ++index) {
        if (index < 0 || index >= static_cast<int>(items.size())) continue;
        const VideoItem& item = items[index];
        if (GetPicture(mgr, item.vid) != mgr->picBk) continue;
        platform::CsLock lock(&mgr->csPending);
        if (mgr->pending.count(item.vid)) continue;
        PictureJob work{.mgr = mgr, .vid = item.vid, .img = item.img, .keepFile = index < perView ? 1 : 0,
                        .online = online, .index = index, .rssType = rssType};
        if (StartJob(work) == -1) return -1;
    }
    return 0;
}

DWORD PictureThreadProc(LPVOID param) {
    PictureJob* job = static_cast<PictureJob*>(param);
    DWORD result = static_cast<DWORD>(PictureThread(job->mgr, job));
    --g_pictureThreads;  // after its repaint
    return result;
}

int PictureThreadsRunning() { return g_pictureThreads.load(); }

int PictureThread(DownloadManager* mgr, PictureJob* job) {
    int result = 0;
    HBITMAP bitmap = nullptr;
    if (DownloadPicture(mgr, job->vid, job->img, job->online, job->keepFile, &bitmap) != 0) {
        LOG(LOG_WARNING, L"DownloadPicture failed");
        result = 1;
    }
    {
        platform::CsLock lock(&mgr->csPending);
        mgr->pending.erase(job->vid);
    }
    TellDetailPage(job->vid);
    // The list and the scroller are read under the lists' lock, the repaint made outside it.
    LockLists();
    bool shown = RowStillShown(job);
    UnlockLists();
    if (shown) {
        InvalidateRect(g_hListView, nullptr, FALSE);
        UpdateWindow(g_hListView);
    }
    delete job;
    return result;
}
