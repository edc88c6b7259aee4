#include "waitDlg.h"

#include <atomic>
#include <cwchar>
#include <memory>

#include "download.h"
#include "entryGlobals.h"
#include "gif.h"
#include "listview.h"
#include "log.h"
#include "lumeo.h"
#include "pictures.h"
#include "registry.h"
#include "scroller.h"
#include "skin.h"
#include "tools.h"
#include "platform/aygshell.h"
#include "platform/gdi.h"
#include "platform/lasterror.h"

int g_waitMode;
wchar_t g_waitText[WAIT_TEXT_LEN];
HWND g_waitDlgParam;
HWND g_hWaitBtn;
int g_waitWidth, g_waitHeight;

namespace {

const ButtonDef g_waitButtons[1] = {{BS_OWNERDRAW, L"取消", IDC_WAIT_CANCEL}};

// Never deleted: a worker may still be inside a load while the process ends.
CRITICAL_SECTION* ListsSection() {
    static CRITICAL_SECTION* cs = [] {
        auto* c = new CRITICAL_SECTION;
        InitializeCriticalSection(c);
        return c;
    }();
    return cs;
}

// One load behind the dialog: the list it is for, and the copy the worker loads into so
// that nothing on screen changes under the painting or the thumbnail threads.
struct WaitJob {
    int mode;
    VideoList* target;
    VideoList staged;
    HWND dialog = nullptr;
    int result = 1;
    std::atomic<bool> done{false};
    WaitJob(int m, VideoList* t) : mode(m), target(t), staged(*t) {}
};

// User-interface thread only.
std::shared_ptr<WaitJob> g_waitJob;
bool g_waitBusy;
HDC g_waitDc;
// The dialog's own copy of the frame's soft-key bar: the frame is disabled behind the
// dialog, so its bar takes no input, yet the user may leave during a load.
SHMENUBARINFO g_waitBar;

// The frame's commands from the dialog's bar and keys; the frame acts only on exit while
// the dialog is up.
void ForwardToFrame(WPARAM wParam, LPARAM lParam) { PostMessageW(g_hFrame, WM_COMMAND, wParam, lParam); }

void MakeWaitBar(HWND dialog) {
    g_waitBar = SHMENUBARINFO{};
    UINT barId = g_menuBar.nToolBarId;
    if (!barId) return;
    HWND owner = dialog;
    if (MyCreateMenu(&g_waitBar, &owner, static_cast<int>(barId)) != 0) LOG(LOG_WARNING, L"MyCreateMenu Failed");
}

Scroller* CurrentScroller() { return g_orientation == 1 ? &g_scrollerPortrait : &g_scrollerLandscape; }

VideoList* ChooseList(int rssType, int period) {
    auto byPeriod = [period](VideoList& today, VideoList& week, VideoList& month) {
        return period == 1 ? &today : period == 2 ? &week : &month;
    };
    switch (rssType) {
    case RSS_NEWS: return &g_listNews;
    case RSS_ORIGINAL: return &g_listOriginal;
    case RSS_MUSIC: return &g_listMusic;
    case RSS_SPORT: return &g_listSport;
    case RSS_FUNNY: return &g_listFunny;
    case RSS_HOT: return &g_listHot;
    case RSS_SEARCH: return &g_listSearch;
    case RSS_MOST_PLAYED: return byPeriod(g_listMostPlayedToday, g_listMostPlayedWeek, g_listMostPlayedMonth);
    case RSS_MOST_COMMENT: return byPeriod(g_listMostCommentToday, g_listMostCommentWeek, g_listMostCommentMonth);
    case RSS_MOST_FAV: return byPeriod(g_listMostFavToday, g_listMostFavWeek, g_listMostFavMonth);
    default: return nullptr;
    }
}

// The search word goes to the front of the history; a word already there moves up, a new
// one pushes the oldest out.
void RememberSearchWord(Skin* skin, const wchar_t* keyword) {
    int n = skin->searchHistoryCount;
    CStringW* history = skin->searchHistory;
    if (n <= 0 || !history) return;
    int at = n - 1;
    for (int i = 0; i < n; ++i)
        if (std::wcscmp(history[i].GetString(), keyword) == 0) {
            at = i;
            break;
        }
    for (int i = at; i > 0; --i) history[i] = history[i - 1];
    history[0] = keyword;
    if (SetSearchWordReg(g_hKeySearchWord, history, n) != 0) LOG(LOG_WARNING, L"SetSearchWordReg failed");
}

// The worker's result becomes the lists' on the user-interface thread, under the lock the
// thumbnail threads read with. A first page that did not load changes nothing.
void TakeOver(WaitJob& job) {
    if (job.mode == 1) {
        if (job.result != 0) {
            job.target->lastError = job.staged.lastError;
            return;
        }
        LockLists();
        *job.target = std::move(job.staged);
        g_curList = job.target;
        int laidOut = InitTf();
        UnlockLists();
        if (laidOut != 0) LOG(LOG_WARNING, L"InitTf failed");
        return;
    }
    LockLists();
    *job.target = std::move(job.staged);
    int n = static_cast<int>(GetItems(job.target).size());
    g_scrollerPortrait.SetItemCount(n);
    g_scrollerLandscape.SetItemCount(n);
    UnlockLists();
}

// The worker's end: its result, then the dialog is asked to close.
DWORD FinishJob(std::shared_ptr<WaitJob> job, int result) {
    job->result = result;
    job->done.store(true);
    PostMessageW(job->dialog, WM_CLOSE, 0, 0);
    return static_cast<DWORD>(result);
}

std::shared_ptr<WaitJob> TakeJob(LPVOID param) {
    auto* holder = static_cast<std::shared_ptr<WaitJob>*>(param);
    std::shared_ptr<WaitJob> job = std::move(*holder);
    delete holder;
    return job;
}

void EndWaitDialog(HWND dialog) {
    if (g_hWaitDlg == dialog) g_hWaitDlg = nullptr;
    if (g_waitBar.hwndParent == dialog) DestroyMenuBar(&g_waitBar);
    StopGif(&g_waitGif);
    if (g_waitDc) {
        ReleaseDC(dialog, g_waitDc);
        g_waitDc = nullptr;
    }
}

void WaitPaint(HWND dialog) {
    int w = g_waitWidth, h = g_waitHeight;
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(dialog, &ps);
    HDC mem = CreateCompatibleDC(dc);
    HBITMAP bmp = CreateCompatibleBitmap(dc, w > 0 ? w : 1, h > 0 ? h : 1);
    HGDIOBJ oldBmp = SelectObject(mem, bmp);
    HPEN pen = CreatePen(PS_SOLID, 1, RGB(0x33, 0x99, 0xFF));
    HBRUSH brush = CreateSolidBrush(RGB(0xFF, 0xFF, 0xFF));
    HGDIOBJ oldPen = SelectObject(mem, pen);
    HGDIOBJ oldBrush = SelectObject(mem, brush);
    Rectangle(mem, 0, 0, w, h);
    SetBkMode(mem, TRANSPARENT);
    HFONT font = CreateFontIndirectW(&g_skin.fonts[9]);
    HGDIOBJ oldFont = SelectObject(mem, font);
    SetTextColor(mem, RGB(0, 0, 0));
    RECT text{0, 0, g_orientation == 1 ? g_skin.waitMetric5 : g_skin.waitMetric9, g_skin.waitMetric2 - 1};
    DrawTextW(mem, g_waitText, -1, &text, DT_CENTER | DT_NOCLIP | DT_EDITCONTROL);
    BitBlt(dc, 0, 0, w, h, mem, 0, 0, SRCCOPY);
    SelectObject(mem, oldPen);
    SelectObject(mem, oldBrush);
    SelectObject(mem, oldFont);
    SelectObject(mem, oldBmp);
    DeleteObject(pen);
    DeleteObject(brush);
    DeleteObject(font);
    DeleteObject(bmp);
    DeleteDC(mem);
    EndPaint(dialog, &ps);
    // Started after the box is on screen: the animation takes what lies under it as its
    // background. A running one goes on.
    SetGifPosition(&g_waitGif, g_skin.waitMetric1, g_skin.waitMetric2);
    PlayGif(&g_waitGif);
}

}  // namespace

void LockLists() { EnterCriticalSection(ListsSection()); }
void UnlockLists() { LeaveCriticalSection(ListsSection()); }


int InitTf() {
    platform::CsLock lock(ListsSection());
    int n = g_curList ? static_cast<int>(GetItems(g_curList).size()) : 0;
    const RowLayout& p = g_skin.portrait;
    const RowLayout& q = g_skin.landscape;
    const COLORREF back = RGB(0xEF, 0xEF, 0xEF);
    if (g_scrollerPortrait.ReInit(g_skin.shortSide, g_skin.longSide, p.listRect.w, p.listRect.h, p.rowRect.w,
                                  p.rowRect.h, 2, back, n) != 0) {
        LOG(LOG_WARNING, L"ReInit failed");
        return -1;
    }
    if (g_scrollerLandscape.ReInit(g_skin.longSide, g_skin.shortSide, q.listRect.w, q.listRect.h, q.rowRect.w,
                                   q.rowRect.h, g_skin.landscapeColumns ? 1 : 2, back, n) != 0) {
        LOG(LOG_WARNING, L"ReInit failed");
        return -1;
    }
    return 0;
}

int SwitchChannel(int rssType, int period, Skin* skin) {
    // Until start-up is complete the init thread owns the home list; while a dialog is up
    // nothing may be switched.
    if (g_initDone != 1 || g_waitBusy) return -1;
    VideoList* list = ChooseList(rssType, period);
    if (!list) {
        LOG(LOG_WARNING, L"unknown rssType=%d", rssType);
        return -1;
    }
    wchar_t prompt[WAIT_TEXT_LEN];
    if (rssType == RSS_SEARCH) {
        wchar_t keyword[WAIT_TEXT_LEN] = {0};
        GetWindowTextW(g_hSearchEdit, keyword, WAIT_TEXT_LEN);
        RememberSearchWord(skin, keyword);
        CStringW shown = keyword;
        int limit = skin->mainMetric10;
        if (limit > 0 && shown.GetLength() > limit) shown = CStringW(shown.Left(limit - 1).str() + L"…");
        _snwprintf(prompt, WAIT_TEXT_LEN, L"\r\n正在搜索：\r\n\"%s\"", shown.GetString());
    } else {
        _snwprintf(prompt, WAIT_TEXT_LEN, L"\r\n正在读取\r\n\"%s\"视频", GetSubTitle(list).GetString());
    }
    prompt[WAIT_TEXT_LEN - 1] = 0;
    g_pendingList = list;
    if (ShowDlgBox(g_hListView, 1, prompt) != 0) {
        LOG(LOG_WARNING, L"ShowDlgBox failed");
        return -1;
    }
    return 0;
}

int ShowDlgBox(HWND, int mode, const wchar_t* text) {
    // One dialog at a time: a drag or a tick that arrives while one is up does nothing.
    if (g_waitBusy || g_hWaitDlg || g_initDone != 1) return 0;
    VideoList* target = mode == 1 ? g_pendingList : g_curList;
    if (!target) return mode == 1 ? -1 : 0;
    if (mode == 2 && IsComplete(g_curList) == 1) return 0;
    g_waitMode = mode;
    _snwprintf(g_waitText, WAIT_TEXT_LEN, L"%s", text ? text : L"");
    g_waitText[WAIT_TEXT_LEN - 1] = 0;

    g_waitBusy = true;
    g_waitJob = std::make_shared<WaitJob>(mode, target);
    HRSRC res = FindResourceW(g_hInst, MAKEINTRESOURCEW(WAIT_DLG_ID), RT_DIALOG);
    HGLOBAL data = res ? LoadResource(g_hInst, res) : nullptr;
    auto* dialogTemplate = data ? static_cast<LPCDLGTEMPLATEW>(LockResource(data)) : nullptr;
    INT_PTR r = DialogBoxIndirectParamW(g_hInst, dialogTemplate, g_hFrame, WaitDlgProc, 0);
    int result = 0;
    if (r == 0 || r == -1) {
        g_errno = GetLastError();
        LOG(LOG_WARNING, L"DialogBox failed, ret=%d, errno=%d", static_cast<int>(r), static_cast<int>(g_errno));
        result = -1;
    }
    g_waitJob.reset();
    g_waitBusy = false;
    SHOrdinal332(g_menuBar.hwndMB, 1, 1, 1);
    // The program may be ending (the dialog went with the frame): nothing more to start.
    if (ProgramClosing() || !g_curList) return result;
    if (LoadPicture(&g_downloader, GetItems(g_curList), 1, CurrentScroller(), GetRssType(g_curList)) != 0)
        LOG(LOG_WARNING, L"LoadPicture failed");
    InvalidateRect(g_hListWnd, nullptr, FALSE);
    InvalidateRect(g_hListView, nullptr, FALSE);
    return result;
}

int WaitMoveControls(HWND dialog) {
    if (g_orientation == 1)
        MoveWindow(dialog, g_skin.waitMetric3, g_skin.waitMetric4, g_skin.waitMetric5, g_skin.waitMetric6, FALSE);
    else
        MoveWindow(dialog, g_skin.waitMetric7, g_skin.waitMetric8, g_skin.waitMetric9, g_skin.waitMetric10, FALSE);
    return 0;
}

int WaitCreateControls(HWND dialog) {
    g_waitDc = GetDC(dialog);
    InitGif(&g_waitGif, g_waitDc);
    const wchar_t* gif = g_skin.imagePath[SKIN_DLG_GIF];
    if (!LoadGif(&g_waitGif, gif)) LOG(LOG_WARNING, L"Load gif failed : %s", gif);
    const ButtonDef& b = g_waitButtons[0];
    g_hWaitBtn = CreateWindowExW(0x100, L"button", b.caption, static_cast<DWORD>(b.style) | WS_CHILD | WS_VISIBLE, 0,
                                 0, 0, 0, dialog, reinterpret_cast<HMENU>(static_cast<INT_PTR>(b.id)), g_hInst,
                                 nullptr);
    if (!g_hWaitBtn) {
        LOG(LOG_WARNING, L"CreateWindow failed.");
        return -1;
    }
    WaitMoveControls(dialog);
    return 0;
}

INT_PTR WaitDlgProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_INITDIALOG: {
        g_hWaitDlg = dialog;
        std::shared_ptr<WaitJob> job = g_waitJob;
        if (!job || WaitCreateControls(dialog) != 0) {
            LOG(LOG_WARNING, L"CreateControls failed");
            // Without its controls no worker starts: the dialog closes as a failure.
            EndWaitDialog(dialog);
            EndDialog(dialog, -1);
            return 0;
        }
        MakeWaitBar(dialog);
        g_waitDlgParam = dialog;
        job->dialog = dialog;
        auto* param = new std::shared_ptr<WaitJob>(job);
        HANDLE thread = CreateThread(nullptr, 0, g_waitMode == 1 ? FirstPageThread : NextPageThread, param, 0, nullptr);
        if (!thread) {
            delete param;
            LOG(LOG_ERROR, L"CreateThread failed");
            SendMessageW(g_hFrame, WM_DESTROY, 0, 0);
            return 0;
        }
        CloseHandle(thread);
        return 0;
    }
    case WM_CLOSE: {
        // Only the dialog's own worker closes it, once it has finished.
        std::shared_ptr<WaitJob> job = g_waitJob;
        if (job && (job->dialog != dialog || !job->done.load())) return 1;
        EndWaitDialog(dialog);
        if (job) TakeOver(*job);
        g_waitJob.reset();
        EndDialog(dialog, 1);
        return 1;
    }
    case WM_DESTROY:
        // Gone with the frame at exit: the worker's result is not wanted any more.
        EndWaitDialog(dialog);
        return 0;
    case WM_COMMAND: {
        // From the dialog's soft-key bar and its menu; the 取消 button (and the dialog's own
        // OK and cancel) have no action.
        int id = LOWORD(wParam);
        if (id != IDC_WAIT_CANCEL && id != IDOK && id != IDCANCEL) ForwardToFrame(wParam, lParam);
        return 1;
    }
    case WM_KEYDOWN: {
        // The soft keys work the dialog's bar; the frame's key commands (Ctrl+0 is exit)
        // go to the frame.
        if ((wParam == VK_TSOFT1 || wParam == VK_TSOFT2) && g_waitBar.hwndMB) {
            PostMessageW(g_waitBar.hwndMB, WM_KEYDOWN, wParam, lParam);
            return 1;
        }
        static HACCEL accel = LoadAcceleratorsW(g_hInst, MAKEINTRESOURCEW(IDA_LUMEO));
        MSG key{dialog, msg, wParam, lParam, 0, {0, 0}};
        return TranslateAcceleratorW(g_hFrame, accel, &key) ? 1 : 0;
    }
    case WM_SIZE:
        g_waitWidth = LOWORD(lParam);
        g_waitHeight = HIWORD(lParam);
        return 0;
    case WM_PAINT:
        if (WaitMoveControls(dialog) != 0) {
            LOG(LOG_WARNING, L"MoveControls failed");
            SendMessageW(dialog, WM_DESTROY, 0, 0);
            return 0;
        }
        WaitPaint(dialog);
        return 1;
    case WM_SETTINGCHANGE:
        if (wParam == SETTINGCHANGE_RESET) {
            SetOrientation();
            // A paint that came before this message placed the box for the old orientation.
            WaitMoveControls(dialog);
            InvalidateRect(dialog, nullptr, FALSE);
        }
        return 0;
    default:
        return 0;
    }
}

DWORD FirstPageThread(LPVOID param) {
    std::shared_ptr<WaitJob> job = TakeJob(param);
    int result = 0;
    if (ShowMe(&job->staged, 1) != 0) {
        LOG(LOG_WARNING, L"ShowMe failed");
        result = 1;
    }
    return FinishJob(std::move(job), result);
}

DWORD NextPageThread(LPVOID param) {
    std::shared_ptr<WaitJob> job = TakeJob(param);
    int result = 0;
    if (LengthenMe(&job->staged) != 0) {
        LOG(LOG_WARNING, L"LengthenMe failed");
        result = 1;
    }
    return FinishJob(std::move(job), result);
}
