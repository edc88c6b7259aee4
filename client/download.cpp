#include "download.h"

#include <cerrno>
#include <cstdio>
#include <cwchar>

#include "codecs.h"
#include "connMgr.h"
#include "log.h"
#include "phoneInfo.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/format.h"
#include "platform/lasterror.h"
#include "platform/winuser.h"

DownloadManager g_downloader;

namespace {

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
        Sleep(DOWNLOAD_SESSION_POLL_MS);
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

}  // namespace

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
        return -1;
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
        return -1;
    }

    FILE* file = nullptr;
    if (filePath) {
        file = _wfopen(filePath, isBinary ? L"wb" : L"w");
        if (!file) {
            LOG(LOG_WARNING, L"failed to open file : %s", filePath);
            InternetCloseHandle(request);
            GiveBack(dm, session);
            return -1;
        }
    }

    char buffer[DOWNLOAD_CHUNK + 1];
    for (;;) {
        DWORD read = 0;
        if (!InternetReadFile(request, buffer, DOWNLOAD_CHUNK, &read)) {
            g_errno = GetLastError();
            LOG(LOG_WARNING, L"InternetReadFile return FALSE : errno=%d, msg=%s", g_errno, GetErrorMsg(g_errno));
            if (file) fclose(file);
            InternetCloseHandle(request);
            GiveBack(dm, session);
            return -1;
        }
        if (read == 0) break;
        if (read > DOWNLOAD_CHUNK) read = DOWNLOAD_CHUNK;
        buffer[read] = 0;
        if (file) {
            if (fwrite(buffer, 1, read, file) < read) {
                g_errno = platform::ErrnoToWin32(errno);
                LOG(LOG_WARNING, L"fwrite failed : errno=%d, msg=%s", g_errno, GetErrorMsg(g_errno));
                fclose(file);
                InternetCloseHandle(request);
                GiveBack(dm, session);
                return -1;
            }
        } else {
            out.append(buffer);  // a chunk ends at its first zero byte
        }
    }
    GiveBack(dm, session);
    if (file) {
        fflush(file);
        fclose(file);
    }
    InternetCloseHandle(request);
    return 0;
}

int DownloadEx(DownloadManager* dm, const wchar_t* urlFormat, const wchar_t* query, const wchar_t* filePath,
               int isBinary, int sendUserAgent, CStringA& out, int showMessage) {
    if (Download(dm, urlFormat, query, filePath, isBinary, out, sendUserAgent) == 0) return 0;
    LOG(LOG_ERROR, L"Download failed.");
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
