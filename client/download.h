// The download manager: a pool of HTTP sessions opened once for the whole run, file and
// memory downloads through it, and the state of the thumbnail cache.
#pragma once

#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/cstring.h"
#include "platform/sync.h"
#include "platform/wininet.h"
#include "platform/winsock.h"
#include "platform/wintypes.h"

#define DOWNLOAD_POOL_SIZE 20
#define DOWNLOAD_AGENT L"Lumeo Client: Windows Mobile; Windows Phone"
#define DOWNLOAD_TIMEOUT_MS 120000
#define DOWNLOAD_SESSION_POLLS 200
#define DOWNLOAD_SESSION_POLL_MS 100
#define DOWNLOAD_CHUNK 2047
#define DOWNLOAD_TEXT_LEN 512
#define PICTURE_CACHE_LIMIT 500
#define PICTURE_PATH_LEN 512

// The wait between polls of an empty pool; tests put their own in its place (null: Sleep).
using DownloadSleep = void (*)(DWORD milliseconds);
void SetDownloadSleep(DownloadSleep sleep);

// A thumbnail held by the picture cache.
struct PictureEntry {
    HBITMAP bitmap = nullptr;  // owned by the cache
    int keepFile = 0;          // 1 keeps the picture file when the entry is evicted
};

class DownloadManager {
public:
    DownloadManager();
    ~DownloadManager();
    DownloadManager(const DownloadManager&) = delete;
    DownloadManager& operator=(const DownloadManager&) = delete;

    WSADATA wsaData;
    std::deque<HINTERNET> sessions;  // free sessions: taken at the front, given back at the back
    CRITICAL_SECTION csPool;
    CRITICAL_SECTION csConnect;
    CRITICAL_SECTION csPicture;
    CRITICAL_SECTION csPending;
    std::map<CStringW, PictureEntry> pictures;
    std::deque<CStringW> pictureOrder;  // one id per entry of `pictures`, oldest first
    std::set<CStringW> pending;

    // The skin's stock pictures, handed over when the skin loads (the data side cannot
    // reach the skin): emptyPic stands for a picture that could not be had, picBk for
    // one that is not there yet. Never cached, never deleted here.
    HBITMAP emptyPic = nullptr;
    HBITMAP picBk = nullptr;
    // Bitmaps a window keeps drawing (HoldPicture), with their counts, and evicted or
    // replaced bitmaps whose deletion waits for their last release. Under csPicture.
    std::map<HBITMAP, int> holds;
    std::vector<HBITMAP> retired;
};

extern DownloadManager g_downloader;

// One GET of `urlFormat` (its one "%s" replaced by the URL-encoded query) into `filePath`
// ("wb" when isBinary, else "w"), or appended to `out` when filePath is null.
// 0 when the whole body was stored, -1 on any failure, DOWNLOAD_BAD_QUERY when the query
// cannot be encoded within its bound (nothing was sent), DOWNLOAD_TIMED_OUT when the answer
// had not come whole within the session's receive time-out counted from the request. Only
// an answer with a 2xx status is a download. The file is written under a part name and
// takes the place of `filePath` only once whole; after a failure `filePath` and `out` are
// as they were.
#define DOWNLOAD_BAD_QUERY (-2)
#define DOWNLOAD_TIMED_OUT (-3)
int Download(DownloadManager* dm, const wchar_t* urlFormat, const wchar_t* query, const wchar_t* filePath,
             int isBinary, CStringA& out, int sendUserAgent);
// Download with one reconnect and retry; the "not connected" message box when showMessage.
// A query that cannot be encoded fails at once: no network would help it; a download that
// timed out is not tried again, so that a load is bounded by one time-out.
int DownloadEx(DownloadManager* dm, const wchar_t* urlFormat, const wchar_t* query, const wchar_t* filePath,
               int isBinary, int sendUserAgent, CStringA& out, int showMessage);
// DownloadEx calls under way on any thread (their message boxes included).
int DownloadsInFlight();

// The URL of a template: the first "%s" replaced by `text`; every other "%" stays as
// written, since templates may be a server's own URLs with escapes such as "%20".
CStringW FormatUrlTemplate(const wchar_t* urlFormat, const wchar_t* text);

// The picture cache. Thumbnails are kept as "<program folder>\Image\<vid>.jpg" (the vid
// made fit for a file name) and, at most PICTURE_CACHE_LIMIT of them, as bitmaps.

// Gives the cache the skin's stock pictures (see DownloadManager::emptyPic and picBk).
void SetPictureStock(DownloadManager* dm, HBITMAP emptyPic, HBITMAP picBk);
// The picture file of `vid`; -1 when the path does not fit PICTURE_PATH_LEN.
int GetPicturePath(const wchar_t* vid, CStringW& path);
// The cached bitmap of `vid`, else the picture fetched from `url` (online) or read from
// its file (offline) and cached; emptyPic when none can be had. Always 0. A download that
// fails or is not a picture leaves no file behind.
int DownloadPicture(DownloadManager* dm, const wchar_t* vid, const wchar_t* url, int online, int keepFile,
                    HBITMAP* out);
// Caches `bitmap` (which the cache then owns) as the newest picture of `vid`, replacing
// an older one, and evicts the oldest beyond PICTURE_CACHE_LIMIT (its file too unless it
// was added with keepFile 1). A replaced or evicted bitmap that is held is deleted at its
// last ReleasePicture.
void AddPicture(DownloadManager* dm, HBITMAP bitmap, const wchar_t* vid, int keepFile);
// The cached bitmap of `vid`, or picBk. Valid only until the next AddPicture on any
// thread: a window that draws it later, or draws it while picture threads run, takes it
// with HoldPicture instead.
HBITMAP GetPicture(DownloadManager* dm, const wchar_t* vid);
// GetPicture, and the bitmap stays valid until ReleasePicture even when it is evicted.
HBITMAP HoldPicture(DownloadManager* dm, const wchar_t* vid);
// Ends one HoldPicture of `bitmap`; the stock pictures and null are ignored.
void ReleasePicture(DownloadManager* dm, HBITMAP bitmap);
// 1 while a thumbnail thread is under way for `vid`, else 0.
int IsPicturePending(DownloadManager* dm, const wchar_t* vid);
