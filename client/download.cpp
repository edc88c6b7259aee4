#include "download.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cwchar>

#include "codecs.h"
#include "connMgr.h"
#include "entryGlobals.h"
#include "listview.h"
#include "log.h"
#include "phoneInfo.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/format.h"
#include "platform/gdi.h"
#include "platform/image.h"
#include "platform/lasterror.h"
#include "platform/winuser.h"

DownloadManager g_downloader;

namespace {

std::atomic<DownloadSleep> g_sleep{Sleep};

void GiveBack(DownloadManager* dm, HINTERNET session) {
    platform::CsLock lock(&dm->csPool);
    dm->sessions.push_back(session);
}

HINTERNET TakeSession(DownloadManager* dm) {
    for (int i = 0; i < DOWNLOAD_SESSION_POLLS; ++i) {
        {
            platform::CsLock lock(&dm->csPool);
            if (!dm->sessions.empty()) {
                HINTERNET s = dm->sessions.front();
                dm->sessions.pop_front();
                return s;
            }
        }
        g_sleep.load()(DOWNLOAD_SESSION_POLL_MS);
    }
    return nullptr;
}

// The query as percent-encoded UTF-8 of its ANSI form; false when it does not fit the
// fixed buffers (511 bytes of ANSI text, 511 characters encoded).
bool EncodeQuery(const wchar_t* query, std::wstring* encoded) {
    encoded->clear();
    if (!query || !*query) return true;
    char ansi[DOWNLOAD_TEXT_LEN];
    int n = WideCharToMultiByte(CP_ACP, WC_COMPOSITECHECK, query, -1, ansi, sizeof(ansi), nullptr, nullptr);
    if (n <= 0) return false;
    std::string out;
    if (Utf8UrlEncode(std::string(ansi), out) != 0) return false;
    if (out.size() >= DOWNLOAD_TEXT_LEN) return false;
    wchar_t wide[DOWNLOAD_TEXT_LEN];
    int m = MultiByteToWideChar(CP_ACP, 0, out.c_str(), -1, wide, DOWNLOAD_TEXT_LEN);
    if (m <= 0) return false;
    *encoded = wide;
    return true;
}

std::atomic<unsigned> g_partSerial{0};

// Where a file is written until it has come whole: beside it, with its extension (so that
// clearing a cache by pattern takes what a killed run left), and with a name no cache
// file has, since names made from the service's texts never hold "..".
std::wstring PartPath(const wchar_t* target) {
    std::wstring t = target;
    size_t folder = t.find_last_of(L"\\/");
    size_t dot = t.rfind(L'.');
    if (dot == std::wstring::npos || (folder != std::wstring::npos && dot < folder) || dot == folder + 1)
        dot = t.size();
    return t.substr(0, dot) + platform::FormatW(L"..%u.part", g_partSerial.fetch_add(1) + 1) + t.substr(dot);
}

// Puts the file `from` in the place of `to`, whatever stood there. False (logged, the code
// in g_errno) when it cannot be moved.
bool PutInPlace(const wchar_t* from, const wchar_t* to) {
    DeleteFileW(to);
    if (MoveFileW(from, to)) return true;
    g_errno = GetLastError();
    LOG(LOG_WARNING, L"MoveFile failed : errno=%d, msg=%s, path=%s", g_errno, GetErrorMsg(g_errno), to);
    return false;
}

// A download's file: written under its part name and put in the target's place only
// once the body is whole, so a failed download leaves the target as it was.
class PartFile {
public:
    PartFile() = default;
    PartFile(const PartFile&) = delete;
    PartFile& operator=(const PartFile&) = delete;
    ~PartFile() {
        if (file_) fclose(file_);
        if (!part_.empty()) DeleteFileW(part_.c_str());
    }
    bool Open(const wchar_t* target, int isBinary) {
        target_ = target;
        part_ = PartPath(target);
        file_ = _wfopen(part_.c_str(), isBinary ? L"wb" : L"w");
        if (!file_) part_.clear();
        return file_ != nullptr;
    }
    bool Write(const char* data, size_t n) { return fwrite(data, 1, n, file_) == n; }
    bool Commit() {
        bool flushed = fflush(file_) == 0;
        int err = errno;
        if (fclose(file_) != 0 && flushed) {
            flushed = false;
            err = errno;
        }
        file_ = nullptr;
        if (!flushed) {
            g_errno = platform::ErrnoToWin32(err);
            LOG(LOG_WARNING, L"fwrite failed : errno=%d, msg=%s", g_errno, GetErrorMsg(g_errno));
            return false;
        }
        if (!PutInPlace(part_.c_str(), target_.c_str())) return false;
        part_.clear();
        return true;
    }

private:
    std::wstring target_, part_;
    FILE* file_ = nullptr;
};

}  // namespace

void SetDownloadSleep(DownloadSleep sleep) { g_sleep.store(sleep ? sleep : Sleep); }

DownloadManager::DownloadManager() : wsaData{} {
    InitializeCriticalSection(&csPool);
    InitializeCriticalSection(&csConnect);
    InitializeCriticalSection(&csPicture);
    InitializeCriticalSection(&csPending);
    for (int i = 0; i < DOWNLOAD_POOL_SIZE; ++i) {
        HINTERNET s = InternetOpenW(DOWNLOAD_AGENT, INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
        if (!s) {
            g_errno = GetLastError();
            LOG(LOG_WARNING, L"InternetOpen failed : i=%d, errno=%d, msg=%s", i, g_errno, GetErrorMsg(g_errno));
            break;
        }
        DWORD timeout = DOWNLOAD_TIMEOUT_MS;
        if (!InternetSetOptionW(s, INTERNET_OPTION_SEND_TIMEOUT, &timeout, sizeof(timeout)) ||
            !InternetSetOptionW(s, INTERNET_OPTION_RECEIVE_TIMEOUT, &timeout, sizeof(timeout))) {
            LOG(LOG_WARNING, L"InternetSetOption failed, i=%d", i);
            // A session without its time-outs is not pooled; nothing else holds it.
            InternetCloseHandle(s);
            break;
        }
        sessions.push_back(s);
    }
    int r = WSAStartup(MAKEWORD(2, 2), &wsaData);
    if (r != 0) LOG(LOG_WARNING, L"WSAStartup failed: %d", r);
}

DownloadManager::~DownloadManager() {
    while (!sessions.empty()) {
        InternetCloseHandle(sessions.front());
        sessions.pop_front();
    }
    WSACleanup();
    DeleteCriticalSection(&csPool);
    DeleteCriticalSection(&csConnect);
    DeleteCriticalSection(&csPicture);
    DeleteCriticalSection(&csPending);
}

CStringW FormatUrlTemplate(const wchar_t* urlFormat, const wchar_t* text) {
    std::wstring url = urlFormat ? urlFormat : L"";
    size_t at = url.find(L"%s");
    if (at != std::wstring::npos) url.replace(at, 2, text ? text : L"");
    return CStringW(url);
}

int Download(DownloadManager* dm, const wchar_t* urlFormat, const wchar_t* query, const wchar_t* filePath,
             int isBinary, CStringA& out, int sendUserAgent) {
    std::wstring encoded;
    if (!EncodeQuery(query, &encoded)) {
        LOG(LOG_WARNING, L"Utf8UrlEncode failed.");
        return DOWNLOAD_BAD_QUERY;
    }
    CStringW url = FormatUrlTemplate(urlFormat, encoded.c_str());

    wchar_t headers[DOWNLOAD_TEXT_LEN];
    if (sendUserAgent) {
        wchar_t phoneInfo[DOWNLOAD_TEXT_LEN] = {0};
        if (GetPhoneInfo(phoneInfo, DOWNLOAD_TEXT_LEN) == 0) {
            platform::FormatInto(headers, DOWNLOAD_TEXT_LEN, L"Accept: */*\r\nUser-Agent: %s\r\n", phoneInfo);
        } else {
            LOG(LOG_WARNING, L"GetPhoneInfo failed");
            platform::CopyCut(headers, DOWNLOAD_TEXT_LEN, L"Accept: */*\r\nUser-Agent: Can't get phone info.\r\n");
        }
    } else {
        platform::CopyCut(headers, DOWNLOAD_TEXT_LEN, L"Accept: */*\r\n\r\n");
    }

    HINTERNET session = TakeSession(dm);
    if (!session) {
        LOG(LOG_WARNING, L"Get HINTERNET timeout: %ds", DOWNLOAD_SESSION_POLLS * DOWNLOAD_SESSION_POLL_MS / 1000);
        return -1;
    }

    // The whole answer must have come within the session's receive time-out, counted from
    // the request: a server that trickles its bytes restarts no clock. (The wait for the
    // answer's headers is bounded so by WinINet itself.)
    DWORD limit = 0, limitLen = sizeof(limit);
    if (!InternetQueryOptionW(session, INTERNET_OPTION_RECEIVE_TIMEOUT, &limit, &limitLen) || limit == 0)
        limit = DOWNLOAD_TIMEOUT_MS;
    const DWORD start = GetTickCount();
    auto timedOut = [&] {
        LOG(LOG_WARNING, L"Download timeout: %dms, Url=%s", static_cast<int>(limit), url.GetString());
        return DOWNLOAD_TIMED_OUT;
    };

    HINTERNET request = InternetOpenUrlW(session, url, headers, static_cast<DWORD>(std::wcslen(headers)), 0, 0);
    if (!request) {
        g_errno = GetLastError();
        LOG(LOG_WARNING, L"InternetOpenUrl failed : errno=%d, msg=%s, Url=%s", g_errno, GetErrorMsg(g_errno),
            url.GetString());
        DWORD serverError = 0;
        wchar_t why[DOWNLOAD_TEXT_LEN] = {0};
        DWORD len = DOWNLOAD_TEXT_LEN - 1;
        if (!InternetGetLastResponseInfoW(&serverError, why, &len)) {
            LOG(LOG_WARNING, L"error text was failed written to the buffer, dwError=%d", serverError);
        } else if (serverError != 0) {
            LOG(LOG_WARNING, L"dwError=%d, why=%s", serverError, why);
        }
        GiveBack(dm, session);
        return g_errno == ERROR_INTERNET_TIMEOUT ? timedOut() : -1;
    }
    // The request is closed before its session goes back: once back, the session is
    // another thread's.
    auto finish = [&](int result) {
        InternetCloseHandle(request);
        GiveBack(dm, session);
        return result;
    };

    // Only a success answer is a download: an error page, or a redirection that was not
    // followed, is nobody's answer, picture or package.
    DWORD status = 0, statusLen = sizeof(status);
    if (!HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &statusLen, nullptr))
        status = 0;
    if (status < 200 || status > 299) {
        LOG(LOG_WARNING, L"HTTP error answer : status=%d, Url=%s", static_cast<int>(status), url.GetString());
        return finish(-1);
    }

    PartFile part;
    if (filePath && !part.Open(filePath, isBinary)) {
        LOG(LOG_WARNING, L"failed to open file : %s", filePath);
        return finish(-1);
    }

    std::string body;
    char buffer[DOWNLOAD_CHUNK + 1];
    for (;;) {
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= limit) {
            g_errno = ERROR_INTERNET_TIMEOUT;
            return finish(timedOut());
        }
        // Each wait for bytes ends by the deadline, and a read takes only what has come, so
        // that the deadline is looked at again however slowly the bytes arrive.
        DWORD left = limit - elapsed, available = 0, read = 0;
        InternetSetOptionW(request, INTERNET_OPTION_RECEIVE_TIMEOUT, &left, sizeof(left));
        if (!InternetQueryDataAvailable(request, &available, 0, 0) || available == 0 || available > DOWNLOAD_CHUNK)
            available = DOWNLOAD_CHUNK;  // the read says why, or that the body has ended
        if (!InternetReadFile(request, buffer, available, &read)) {
            g_errno = GetLastError();
            LOG(LOG_WARNING, L"InternetReadFile return FALSE : errno=%d, msg=%s", g_errno, GetErrorMsg(g_errno));
            return finish(g_errno == ERROR_INTERNET_TIMEOUT ? timedOut() : -1);
        }
        if (read == 0) break;
        if (read > DOWNLOAD_CHUNK) read = DOWNLOAD_CHUNK;
        buffer[read] = 0;
        if (filePath) {
            if (!part.Write(buffer, read)) {
                g_errno = platform::ErrnoToWin32(errno);
                LOG(LOG_WARNING, L"fwrite failed : errno=%d, msg=%s", g_errno, GetErrorMsg(g_errno));
                return finish(-1);
            }
        } else {
            body.append(buffer);  // a chunk ends at its first zero byte
        }
    }
    int result = finish(0);
    if (!filePath) {
        out.append(body.c_str());
        return result;
    }
    return part.Commit() ? result : -1;
}

namespace {
std::atomic<int> g_downloadsInFlight{0};
struct InFlight {
    InFlight() { ++g_downloadsInFlight; }
    ~InFlight() { --g_downloadsInFlight; }
};
}  // namespace

int DownloadsInFlight() { return g_downloadsInFlight.load(); }

int DownloadEx(DownloadManager* dm, const wchar_t* urlFormat, const wchar_t* query, const wchar_t* filePath,
               int isBinary, int sendUserAgent, CStringA& out, int showMessage) {
    InFlight counted;
    int first = Download(dm, urlFormat, query, filePath, isBinary, out, sendUserAgent);
    if (first == 0) return 0;
    LOG(LOG_ERROR, L"Download failed.");
    if (first == DOWNLOAD_BAD_QUERY) return -1;
    // A load that used up its time is not tried again: it is bounded as a whole.
    if (first == DOWNLOAD_TIMED_OUT) {
        if (showMessage) MessageBoxW(nullptr, L"无法连接网络，请检查网络设置。", L"提示", MB_ICONINFORMATION);
        return -1;
    }
    int connectResult, status;
    {
        platform::CsLock lock(&dm->csConnect);
        connectResult = Connect(&g_connMgr, 1);
        status = GetConnectStatus(&g_connMgr);
    }
    if (connectResult != 0 || status == 0) {
        if (showMessage) MessageBoxW(nullptr, L"无法连接网络，请检查网络设置。", L"提示", MB_ICONINFORMATION);
        LOG(LOG_WARNING, L"Can't connect");
        return -1;
    }
    if (Download(dm, urlFormat, query, filePath, isBinary, out, sendUserAgent) == 0) return 0;
    if (showMessage) MessageBoxW(nullptr, L"无法连接网络，请检查网络设置。", L"提示", MB_ICONINFORMATION);
    LOG(LOG_ERROR, L"Download failed.");
    return -1;
}

namespace {

// Where a picture is downloaded before it has proved to be one: the part name of its file.
int GetPictureTempPath(const CStringW& picturePath, CStringW& path) {
    std::wstring p = PartPath(picturePath);
    if (p.size() >= PICTURE_PATH_LEN) return -1;
    path = p;
    return 0;
}

// Deletes the retired bitmaps that nobody holds any more. Under csPicture.
void DeleteRetired(DownloadManager* dm) {
    auto& r = dm->retired;
    r.erase(std::remove_if(r.begin(), r.end(),
                           [dm](HBITMAP b) {
                               if (dm->holds.count(b)) return false;
                               // A bitmap still selected somewhere cannot go yet; a handle
                               // that is no longer valid has nothing left to delete.
                               return DeleteObject(b) || GetObjectType(b) == 0;
                           }),
            r.end());
}

// A bitmap the cache no longer keeps: deleted now, or once its holders have released it.
// Under csPicture.
void DropBitmap(DownloadManager* dm, HBITMAP b) {
    if (!b || b == dm->emptyPic || b == dm->picBk) return;
    dm->retired.push_back(b);
    DeleteRetired(dm);
}

}  // namespace

void SetPictureStock(DownloadManager* dm, HBITMAP emptyPic, HBITMAP picBk) {
    platform::CsLock lock(&dm->csPicture);
    dm->emptyPic = emptyPic;
    dm->picBk = picBk;
}

int GetPicturePath(const wchar_t* vid, CStringW& path) {
    // The id comes from the service: it must stay one file name inside the Image folder.
    std::wstring p = platform::FormatW(L"%s\\Image\\%s.jpg", g_appDir, SafeFileNamePart(vid).GetString());
    if (p.size() >= PICTURE_PATH_LEN) return -1;
    path = p;
    return 0;
}

int DownloadPicture(DownloadManager* dm, const wchar_t* vid, const wchar_t* url, int online, int keepFile,
                    HBITMAP* out) {
    if (!vid) vid = L"";
    HBITMAP empty;
    {
        platform::CsLock lock(&dm->csPicture);
        if (out) *out = nullptr;
        auto it = dm->pictures.find(vid);
        if (it != dm->pictures.end()) {
            if (out) *out = it->second.bitmap;
            return 0;
        }
        empty = dm->emptyPic;
    }
    CStringW path;
    if (GetPicturePath(vid, path) != 0) {
        LOG(LOG_WARNING, L"path too long : vid=%s", vid);
        if (out) *out = empty;
        return 0;
    }
    HBITMAP bitmap = nullptr;
    if (online) {
        CStringW temp;
        if (GetPictureTempPath(path, temp) != 0) {
            LOG(LOG_WARNING, L"path too long : vid=%s", vid);
            if (out) *out = empty;
            return 0;
        }
        CStringA unused;
        if (DownloadEx(dm, url ? url : L"", nullptr, temp, 1, 0, unused, 0) != 0) {
            LOG(LOG_WARNING, L"DownloadEx failed");
            if (out) *out = empty;
            return 0;
        }
        bitmap = SHLoadImageFile(temp);
        if (!bitmap) {
            // A body that is no picture: nothing of it may stay for a later start.
            LOG(LOG_WARNING, L"SHLoadImageFile failed : path=%s", path.GetString());
            DeleteFileW(temp);
            if (out) *out = empty;
            return 0;
        }
        if (!PutInPlace(temp, path)) DeleteFileW(temp);
    } else {
        bitmap = SHLoadImageFile(path);
        if (!bitmap) {
            if (out) *out = empty;
            return 0;
        }
    }
    if (out) *out = bitmap;
    AddPicture(dm, bitmap, vid, keepFile);
    return 0;
}

void AddPicture(DownloadManager* dm, HBITMAP bitmap, const wchar_t* vid, int keepFile) {
    if (!bitmap) return;
    CStringW key(vid ? vid : L"");
    platform::CsLock lock(&dm->csPicture);
    auto it = dm->pictures.find(key);
    if (it != dm->pictures.end()) {
        // The vid becomes the newest picture; its old bitmap goes, unless it is this one.
        if (it->second.bitmap != bitmap) DropBitmap(dm, it->second.bitmap);
        it->second = PictureEntry{bitmap, keepFile};
        auto at = std::find(dm->pictureOrder.begin(), dm->pictureOrder.end(), key);
        if (at != dm->pictureOrder.end()) dm->pictureOrder.erase(at);
    } else {
        dm->pictures[key] = PictureEntry{bitmap, keepFile};
    }
    dm->pictureOrder.push_back(key);
    while (dm->pictures.size() > PICTURE_CACHE_LIMIT && !dm->pictureOrder.empty()) {
        CStringW oldest = dm->pictureOrder.front();
        dm->pictureOrder.pop_front();
        auto e = dm->pictures.find(oldest);
        if (e == dm->pictures.end()) continue;
        PictureEntry entry = e->second;
        dm->pictures.erase(e);
        if (entry.bitmap == dm->emptyPic) continue;
        DropBitmap(dm, entry.bitmap);
        if (entry.keepFile != 1) {
            CStringW path;
            if (GetPicturePath(oldest, path) == 0 && !DeleteFileW(path)) {
                g_errno = GetLastError();
                LOG(LOG_WARNING, L"DeleteFile failed : errno=%d, msg=%s, path=%s", g_errno, GetErrorMsg(g_errno),
                    path.GetString());
            }
        }
    }
}

HBITMAP GetPicture(DownloadManager* dm, const wchar_t* vid) {
    platform::CsLock lock(&dm->csPicture);
    auto it = dm->pictures.find(vid ? vid : L"");
    return it != dm->pictures.end() ? it->second.bitmap : dm->picBk;
}

HBITMAP HoldPicture(DownloadManager* dm, const wchar_t* vid) {
    platform::CsLock lock(&dm->csPicture);
    auto it = dm->pictures.find(vid ? vid : L"");
    if (it == dm->pictures.end()) return dm->picBk;
    dm->holds[it->second.bitmap]++;
    return it->second.bitmap;
}

void ReleasePicture(DownloadManager* dm, HBITMAP bitmap) {
    platform::CsLock lock(&dm->csPicture);
    auto it = dm->holds.find(bitmap);
    if (it == dm->holds.end()) return;
    if (--it->second > 0) return;
    dm->holds.erase(it);
    DeleteRetired(dm);
}

int IsPicturePending(DownloadManager* dm, const wchar_t* vid) {
    platform::CsLock lock(&dm->csPending);
    return dm->pending.count(vid ? vid : L"") ? 1 : 0;
}
