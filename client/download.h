// The download manager: a pool of HTTP sessions opened once for the whole run, file and
// memory downloads through it, and the state of the thumbnail cache.
#pragma once

#include <deque>
#include <map>
#include <set>
#include <string>

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
    std::deque<CStringW> pictureOrder;
    std::set<CStringW> pending;
};

extern DownloadManager g_downloader;

// One GET of `urlFormat` (its one "%s" replaced by the URL-encoded query) into `filePath`
// ("wb" when isBinary, else "w"), or appended to `out` when filePath is null.
// 0 when the whole body was stored, -1 on any failure.
int Download(DownloadManager* dm, const wchar_t* urlFormat, const wchar_t* query, const wchar_t* filePath,
             int isBinary, CStringA& out, int sendUserAgent);
// Download with one reconnect and retry; the "not connected" message box when showMessage.
int DownloadEx(DownloadManager* dm, const wchar_t* urlFormat, const wchar_t* query, const wchar_t* filePath,
               int isBinary, int sendUserAgent, CStringA& out, int showMessage);

// The URL of a template: the first "%s" replaced by `text`; every other "%" stays as
// written, since templates may be a server's own URLs with escapes such as "%20".
CStringW FormatUrlTemplate(const wchar_t* urlFormat, const wchar_t* text);
