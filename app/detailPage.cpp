// The detail page: the current video's thumbnail, facts and description, and the related
// videos that a thread of its own fetches.
#include "detailPage.h"

#include <algorithm>
#include <memory>

#include "connMgr.h"
#include "download.h"
#include "entryGlobals.h"
#include "gif.h"
#include "listView.h"
#include "listview.h"
#include "log.h"
#include "lumeo.h"
#include "pictures.h"
#include "player.h"
#include "skin.h"
#include "platform/aygshell.h"
#include "platform/files.h"
#include "platform/format.h"
#include "platform/gdi.h"

int g_relSel = -1;
HBITMAP g_dtlPicture;
HANDLE g_hRelThread;
HMENU g_hDtlPopup;
const ButtonDef DtlButtons[1] = {{BS_OWNERDRAW, L"PLAY", IDC_DETAIL_PLAY}};
HWND g_hDtlBtn[1];
std::atomic<LONG> g_relRequest{0};

namespace {

SHACTIVATEINFO g_dtlActivate;
std::atomic<int> g_relThreads{0};
int g_dtlWidth, g_dtlHeight;

const COLORREF kBackground = 0xEFEFEF;
const COLORREF kThumbFrame = 0xC48403;
const COLORREF kSeparator = 0xF6BA66;
const COLORREF kSelectedRow = 0xFAD6A3;
const UINT kBodyFlags = DT_WORDBREAK | DT_NOCLIP | DT_NOPREFIX | DT_EDITCONTROL | DT_END_ELLIPSIS;
const UINT kRowFlags = DT_NOCLIP | DT_NOPREFIX | DT_EDITCONTROL | DT_END_ELLIPSIS;

RECT Rect(const LayoutRect& r) { return RECT{r.x, r.y, r.x + r.w, r.y + r.h}; }

bool Superseded(const RelVideoParam& job) { return g_relRequest.load() != job.request; }

bool Readable(const wchar_t* path) {
    FILE* f = _wfopen(path, L"r");
    if (!f) return false;
    fclose(f);
    return true;
}

// The related list of the job's video: the cached answer when there is one, else (online)
// the service's, which is cached only once it has come whole; an answer that cannot be
// read is not kept. 0 or -1.
int FetchRelated(const RelVideoParam& job, std::vector<VideoItem>& items) {
    CStringW url, cachePath;
    if (BuildRelatedVideosRequest(job.vid, job.pz, url, cachePath) != 0) return -1;
    if (!Readable(cachePath)) {
        if (!job.online) return -1;
        LOG(LOG_NOTICE, L"RelVideo XML : %s", url.GetString());
        CStringW part = platform::FormatW(L"%s.%ld.part", cachePath.GetString(), static_cast<long>(job.request));
        CStringA unused;
        if (DownloadEx(&g_downloader, url, nullptr, part, 0, 0, unused, 1) != 0) {
            LOG(LOG_WARNING, L"DownloadEx failed");  // it leaves nothing under `part`
            return -1;
        }
        // Another request for this video may have stored its answer meanwhile; either is whole.
        if (!MoveFileW(part, cachePath)) DeleteFileW(part);
    }
    if (Superseded(job)) return -1;
    int total = 0;
    EnterCriticalSection(&g_csXml);
    int r = GetVideoList(cachePath, items, total, job.pz);
    LeaveCriticalSection(&g_csXml);
    if (r != 0) {
        LOG(LOG_WARNING, L"parse xml failed");
        items.clear();
        DeleteFileW(cachePath);
        return -1;
    }
    if (static_cast<int>(items.size()) > job.pz) items.resize(static_cast<size_t>(job.pz));
    return 0;
}

// Starts the related-videos thread for g_curVideo; its answer comes back as WM_REL_VIDEOS.
void StartRelated(HWND page) {
    g_relSel = -1;
    g_relVideos.clear();
    auto* job = new RelVideoParam{page, g_curVideo.vid, std::max(g_skin.relatedRowsPortrait, g_skin.relatedRowsLandscape),
                                  ++g_relRequest, GetConnectStatus(&g_connMgr) ? 1 : 0};
    g_relLoading = 1;
    ++g_relThreads;
    g_hRelThread = CreateThread(nullptr, 0, RelVideoThread, job, 0, nullptr);
    if (!g_hRelThread) {
        LOG(LOG_WARNING, L"RelVideoThread Create failed");
        --g_relThreads;
        delete job;
        g_relLoading = 0;
        return;
    }
    CloseHandle(g_hRelThread);
    g_hRelThread = nullptr;
}

// Everything below the details: the related rows and the loading animation.
RECT RelatedArea() {
    const DetailLayout& d = g_skin.detail;
    int top = d.separatorY >= 0 ? d.separatorY + 1 : d.desc.y;
    return RECT{0, top, g_dtlWidth, g_dtlHeight};
}

void RelatedArrived(HWND hwnd, RelVideoResult* result) {
    std::unique_ptr<RelVideoResult> r(result);
    // Only the answer of the latest request, for the video still shown, is taken.
    if (r->request != g_relRequest.load() || r->vid != g_curVideo.vid) return;
    if (r->ok == 0) g_relVideos = std::move(r->items);
    StopGif(&g_dtlGif);
    g_relLoading = 0;
    if (g_skin.wideDetail || g_dtlViewMode == 2) {
        RECT area = RelatedArea();
        InvalidateRect(hwnd, &area, FALSE);
        UpdateWindow(hwnd);
    }
}

int CreateDetailControls(HWND hwnd) {
    for (int i = 0; i < 1; ++i) {
        const ButtonDef& row = DtlButtons[i];
        g_hDtlBtn[i] = CreateWindowExW(0x100, L"button", row.caption,
                                       static_cast<DWORD>(row.style) | WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, hwnd,
                                       reinterpret_cast<HMENU>(static_cast<INT_PTR>(row.id)), g_hInst, nullptr);
        if (!g_hDtlBtn[i]) {
            LOG(LOG_WARNING, L"CreateWindow failed.");
            return -1;
        }
    }
    // The pop-up is named in the resources by its name or by its number.
    HMENU menu = LoadMenuW(g_hInst, L"IDR_MENU_DETAIL");
    if (!menu) menu = LoadMenuW(g_hInst, MAKEINTRESOURCEW(IDR_MENU_DETAIL));
    g_hDtlPopup = menu ? GetSubMenu(menu, 0) : nullptr;
    if (!g_hDtlPopup) LOG(LOG_WARNING, L"LoadMenu failed : IDR_MENU_DETAIL");
    InitGif(&g_dtlGif, GetDC(hwnd));
    if (!LoadGif(&g_dtlGif, g_skin.imagePath[SKIN_REL_VIDEO_GIF])) {
        LOG(LOG_WARNING, L"gif load failed");
        return -1;
    }
    return 0;
}

int MoveDetailControls() {
    const LayoutRect& b = g_skin.detail.playBtn;
    MoveWindow(g_hDtlBtn[0], b.x, b.y, b.w, b.h, FALSE);
    return 0;
}

void DrawBody(HDC dc, const wchar_t* text, const LayoutRect& where) {
    RECT r = Rect(where);
    DrawTextW(dc, text, -1, &r, kBodyFlags);
}

void PaintDetail(HWND hwnd) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd, &ps);
    {
        const Skin& s = g_skin;
        const DetailLayout& d = s.detail;
        int W = g_dtlWidth, H = g_dtlHeight;
        BackBuffer b(dc, W, H);
        FillSolidRect(b.dc, 0, 0, W, H, kBackground);
        SIZE bar = BitmapSize(s.innerTitleBar);
        DrawPicture(b.dc, s.innerTitleBar, 0, 0, W, bar.cy);
        HBITMAP picture = g_dtlPicture ? g_dtlPicture : s.picBk;
        if (picture)
            PaintThumbnail(b.dc, s.thumbFramePen, kThumbFrame, picture, d.thumb.x - 1, d.thumb.y - 1, d.thumb.w + 2,
                           d.thumb.h + 2, d.thumb.x, d.thumb.y, d.thumb.w, d.thumb.h, -1);
        if (s.wideDetail) {
            HPEN pen = CreatePen(PS_SOLID, 1, kSeparator);
            HGDIOBJ oldPen = SelectObject(b.dc, pen);
            MoveToEx(b.dc, 0, d.separatorY, nullptr);
            LineTo(b.dc, W, d.separatorY);
            SelectObject(b.dc, oldPen);
            DeleteObject(pen);
        }

        SetBkMode(b.dc, TRANSPARENT);
        HFONT titleFont = CreateFontIndirectW(&s.fonts[1]);
        HFONT bodyFont = CreateFontIndirectW(&s.fonts[0]);
        HFONT rowFont = CreateFontIndirectW(&s.fonts[2]);
        HGDIOBJ oldFont = SelectObject(b.dc, titleFont);
        SetTextColor(b.dc, RGB(255, 255, 255));
        RECT title = Rect(s.titleRect);
        DrawTextW(b.dc, L"视频详情", -1, &title, DT_NOPREFIX);

        const VideoItem& v = g_curVideo;
        SelectObject(b.dc, bodyFont);
        SetTextColor(b.dc, RGB(0, 0, 0));
        DrawBody(b.dc, v.title, d.title);
        DrawBody(b.dc, CStringW(L"时长:") + v.duration, d.duration);
        DrawBody(b.dc, CStringW(L"发布:") + v.user, d.published);
        DrawBody(b.dc, platform::FormatW(L"播放:%d", static_cast<int>(v.pv)).c_str(), d.plays);
        DrawBody(b.dc, CStringW(L"标签:") + v.tags, d.tags);
        if (s.wideDetail || g_dtlViewMode == 1) DrawBody(b.dc, CleanDescription(v.desc), d.desc);
        if (s.showRelatedCaption) {
            SelectObject(b.dc, titleFont);
            DrawBody(b.dc, L"相关视频", d.caption);
        }

        SelectObject(b.dc, rowFont);
        int limit = g_orientation == 1 ? s.relatedRowsPortrait : s.relatedRowsLandscape;
        int n = std::min(limit, static_cast<int>(g_relVideos.size()));
        for (int i = 0; i < n; ++i) {
            RECT r;
            if (!GetRelatedRowRect(i, &r, nullptr)) continue;
            const VideoItem& rel = g_relVideos[static_cast<size_t>(i)];
            CStringW text = CStringW(L"● ") + rel.duration + L" " + rel.title;
            if (i == g_relSel) {
                SetBkMode(b.dc, OPAQUE);
                SetBkColor(b.dc, kSelectedRow);
            }
            DrawTextW(b.dc, text, -1, &r, kRowFlags);
            SetBkMode(b.dc, TRANSPARENT);
        }
        SelectObject(b.dc, oldFont);
        DeleteObject(titleFont);
        DeleteObject(bodyFont);
        DeleteObject(rowFont);
    }
    EndPaint(hwnd, &ps);
    if (g_relLoading == 1 && (g_skin.wideDetail || g_dtlViewMode == 2)) {
        SetGifPosition(&g_dtlGif, g_skin.detail.loadingPos.x, g_skin.detail.loadingPos.y);
        PlayGif(&g_dtlGif);
    } else {
        StopGif(&g_dtlGif);
    }
}

// The picture the page waited for is in the cache, or could not be had.
void PictureArrived(HWND hwnd) {
    if (!TakeDetailPicture(g_curVideo.vid)) return;
    HBITMAP picture = HoldPicture(&g_downloader, g_curVideo.vid);
    if (picture == g_skin.picBk) picture = g_skin.emptyPic;
    ReleasePicture(&g_downloader, g_dtlPicture);
    g_dtlPicture = picture;
    // The thumbnail with its frame.
    const LayoutRect& t = g_skin.detail.thumb;
    int m = g_skin.thumbFramePen + 1;
    RECT r{t.x - m, t.y - m, t.x + t.w + m, t.y + t.h + m};
    InvalidateRect(hwnd, &r, FALSE);
    UpdateWindow(hwnd);
}

void PlayCurrent(HWND hwnd) {
    EnterCriticalSection(&g_csPlay);
    if (g_playBusy) {
        LeaveCriticalSection(&g_csPlay);
        return;
    }
    g_playBusy = 1;
    LeaveCriticalSection(&g_csPlay);
    if (BeginPlayVideo(hwnd) != 0) {
        LOG(LOG_WARNING, L"BeginPlayVideo failed.");
        EnterCriticalSection(&g_csPlay);
        g_playBusy = 0;
        LeaveCriticalSection(&g_csPlay);
    }
}

void PlayRelated(HWND hwnd, int index, const RECT& row) {
    g_relSel = index;
    InvalidateRect(hwnd, &row, FALSE);
    UpdateWindow(hwnd);
    EnterCriticalSection(&g_csPlay);
    if (g_playBusy) {
        LeaveCriticalSection(&g_csPlay);
        return;
    }
    g_playBusy = 1;
    LeaveCriticalSection(&g_csPlay);
    // The page keeps its video unless the related one really starts.
    VideoItem shown = g_curVideo;
    g_curVideo = g_relVideos[static_cast<size_t>(index)];
    if (BeginPlayVideo(hwnd) == 0) {
        g_dtlOpenMode = 2;
        if (ShowDtlInfo(hwnd) != 0) LOG(LOG_WARNING, L"ShowDtlInfo failed.");
    } else {
        LOG(LOG_WARNING, L"BeginPlayVideo failed");
        g_curVideo = shown;
        EnterCriticalSection(&g_csPlay);
        g_playBusy = 0;
        LeaveCriticalSection(&g_csPlay);
    }
}

void Tapped(HWND hwnd, POINT p) {
    SHRGINFO gesture{};
    gesture.cbSize = sizeof(gesture);
    gesture.hwndClient = hwnd;
    gesture.ptDown = p;
    gesture.dwFlags = SHRG_RETURNCMD;
    if (SHRecognizeGesture(&gesture) == GN_CONTEXTMENU) {
        if (g_hDtlPopup) {
            POINT screen = p;
            ClientToScreen(hwnd, &screen);
            TrackPopupMenu(g_hDtlPopup, 0, screen.x, screen.y, 0, hwnd, nullptr);
        }
        return;
    }
    const LayoutRect& t = g_skin.detail.thumb;
    if (p.x >= t.x && p.x <= t.x + t.w && p.y >= t.y && p.y <= t.y + t.h) {
        PostMessageW(hwnd, WM_COMMAND, IDC_DETAIL_PLAY, 0);
        return;
    }
    int limit = g_orientation == 1 ? g_skin.relatedRowsPortrait : g_skin.relatedRowsLandscape;
    int n = std::min(limit, static_cast<int>(g_relVideos.size()));
    for (int i = 0; i < n; ++i) {
        RECT r;
        if (GetRelatedRowRect(i, &r, &p) == 1) {
            PlayRelated(hwnd, i, r);
            return;
        }
    }
}

}  // namespace

CStringW CleanDescription(const wchar_t* text) {
    std::wstring out;
    if (!text) return CStringW();
    auto blankOf = [](wchar_t c) { return c == L'\t' ? L' ' : c; };
    for (const wchar_t* c = text; *c; ++c) {
        wchar_t ch = blankOf(*c);
        if (ch == L'\r' || ch == L'\n') continue;
        if (ch == L' ' && c[1] && blankOf(c[1]) == L' ') continue;
        out += ch;
    }
    return CStringW(out);
}

int GetRelatedRowRect(int index, RECT* out, POINT* point) {
    const Skin& s = g_skin;
    const DetailLayout& d = s.detail;
    int limit = g_orientation == 1 ? s.relatedRowsPortrait : s.relatedRowsLandscape;
    if (index < 0 || index >= limit || index >= static_cast<int>(g_relVideos.size())) return 0;
    int step = d.relatedRowHeight + d.relatedGap;
    int left = d.relatedStart.x, top;
    if (g_orientation == 1) {
        if (!s.wideDetail && g_dtlViewMode != 2) return 0;
        top = d.relatedStart.y + step * index;
    } else if (s.wideDetail) {
        if (index % 2) left += d.relatedWidth + d.relatedGap;
        top = d.relatedStart.y + step * (index / 2);
    } else {
        if (g_dtlViewMode != 2) return 0;
        top = d.relatedStart.y + step * index;
    }
    RECT r{left, top, left + d.relatedWidth, top + d.relatedRowHeight};
    if (out) *out = r;
    return point ? (PtInRect(&r, *point) ? 1 : 0) : 1;
}

int RelVideoThreadsRunning() { return g_relThreads.load(); }

DWORD RelVideoThread(LPVOID param) {
    std::unique_ptr<RelVideoParam> job(static_cast<RelVideoParam*>(param));
    if (!Superseded(*job)) {
        auto result = std::make_unique<RelVideoResult>();
        result->request = job->request;
        result->vid = job->vid;
        result->ok = FetchRelated(*job, result->items);
        if (!Superseded(*job) && PostMessageW(job->owner, WM_REL_VIDEOS, 0, reinterpret_cast<LPARAM>(result.get())))
            result.release();
    }
    --g_relThreads;
    return 0;
}

int ShowDtlInfo(HWND) {
    HBITMAP picture = HoldPicture(&g_downloader, g_curVideo.vid);
    if (g_dtlOpenMode != 1) {
        // A related video: its picture comes through a thumbnail thread, and the page shows
        // the placeholder until then (WM_DTL_PICTURE).
        if (picture == g_skin.picBk && LoadDetailPicture(&g_downloader, g_curVideo, g_hDtlWnd) != 0)
            picture = g_skin.emptyPic;
    } else if (picture == g_skin.picBk) {
        picture = g_skin.emptyPic;
    }
    ReleasePicture(&g_downloader, g_dtlPicture);
    g_dtlPicture = picture;
    StartRelated(g_hDtlWnd);
    // The page may be shown already (a related video): it shows the new video at once.
    InvalidateRect(g_hDtlWnd, nullptr, FALSE);
    if (g_dtlOpenMode == 1) {
        SwitchPage(g_hDtlWnd);
        if (MyChangeMenu(&g_menuBar, &g_hFrame, IDB_DETAIL, 0) != 0) LOG(LOG_WARNING, L"MyChangeMenu Failed");
    } else {
        UpdateWindow(g_hDtlWnd);
    }
    return 0;
}

LRESULT DtlWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_CREATE:
        g_dtlActivate = SHACTIVATEINFO{};
        g_dtlActivate.cbSize = 12;
        if (CreateDetailControls(hwnd) != 0) return CreateControlsFailed();
        return 0;
    case WM_DESTROY:
        PostMessageW(g_hFrame, WM_DESTROY, 0, 0);
        return 0;
    case WM_SIZE:
        g_dtlWidth = LOWORD(lParam);
        g_dtlHeight = HIWORD(lParam);
        return 0;
    case WM_ACTIVATE:
        SHHandleWMActivate(hwnd, wParam, lParam, &g_dtlActivate, 0);
        return 0;
    case WM_SETTINGCHANGE:
        SHHandleWMSettingChange(hwnd, wParam, lParam, &g_dtlActivate);
        return 0;
    case WM_DRAWITEM: {
        auto* di = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        if (!di || di->CtlID != IDC_DETAIL_PLAY) return DefWindowProcW(hwnd, msg, wParam, lParam);
        DrawPicture(di->hDC, g_skin.detailBtn[(di->itemState & ODS_SELECTED) ? 0 : 1], 0, 0);
        return TRUE;
    }
    case WM_PAINT:
        if (MoveDetailControls() != 0) {
            LOG(LOG_WARNING, L"MoveControls failed");
            SendMessageW(hwnd, WM_DESTROY, 0, 0);
            return 0;
        }
        PaintDetail(hwnd);
        return 0;
    case WM_COMMAND:
        if (OnCommand(hwnd, LOWORD(wParam), HIWORD(wParam), lParam) == 1) return 0;
        if (LOWORD(wParam) == IDC_DETAIL_PLAY) {
            PlayCurrent(hwnd);
            return 0;
        }
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    case WM_LBUTTONDOWN:
        Tapped(hwnd, POINT{static_cast<SHORT>(LOWORD(lParam)), static_cast<SHORT>(HIWORD(lParam))});
        return 0;
    case WM_REL_VIDEOS:
        RelatedArrived(hwnd, reinterpret_cast<RelVideoResult*>(lParam));
        return 0;
    case WM_DTL_PICTURE:
        PictureArrived(hwnd);
        return 0;
    default:
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
}
