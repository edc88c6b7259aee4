#include "listview.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <mutex>
#include <string>
#include <string_view>

#include "download.h"
#include "entryGlobals.h"
#include "log.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/format.h"
#include "platform/lasterror.h"
#include "platform/sync.h"
#include "platform/winuser.h"

// Built in this order before the program's entry runs; destroyed in reverse order.
VideoList g_listSearch(RSS_SEARCH, L"搜索结果", nullptr, 100, 0, 0, 10);
VideoList g_listHot(RSS_HOT, L"热点推荐", L"热点推荐", 100, 0, 0, 10);
VideoList g_listNews(RSS_NEWS, L"资讯频道", L"资讯频道", 100, 0, 0, 10);
VideoList g_listOriginal(RSS_ORIGINAL, L"原创频道", L"原创频道", 100, 0, 0, 10);
VideoList g_listMusic(RSS_MUSIC, L"音乐频道", L"音乐频道", 100, 0, 0, 10);
VideoList g_listSport(RSS_SPORT, L"体育频道", L"体育频道", 100, 0, 0, 10);
VideoList g_listFunny(RSS_FUNNY, L"搞笑频道", L"搞笑频道", 100, 0, 0, 10);
VideoList g_listMostPlayedToday(RSS_MOST_PLAYED, L"排行榜", L"今日最多播放", 50, 1, 1, 10);
VideoList g_listMostPlayedWeek(RSS_MOST_PLAYED, L"排行榜", L"本周最多播放", 50, 1, 2, 10);
VideoList g_listMostPlayedMonth(RSS_MOST_PLAYED, L"排行榜", L"本月最多播放", 50, 1, 3, 10);
VideoList g_listMostFavToday(RSS_MOST_FAV, L"排行榜", L"今日最多收藏", 50, 1, 1, 10);
VideoList g_listMostFavWeek(RSS_MOST_FAV, L"排行榜", L"本周最多收藏", 50, 1, 2, 10);
VideoList g_listMostFavMonth(RSS_MOST_FAV, L"排行榜", L"本月最多收藏", 50, 1, 3, 10);
VideoList g_listMostCommentToday(RSS_MOST_COMMENT, L"排行榜", L"今日最多评论", 50, 1, 1, 10);
VideoList g_listMostCommentWeek(RSS_MOST_COMMENT, L"排行榜", L"本周最多评论", 50, 1, 2, 10);
VideoList g_listMostCommentMonth(RSS_MOST_COMMENT, L"排行榜", L"本月最多评论", 50, 1, 3, 10);

namespace {

const int kRt = 1, kF = 8, kSeg = 1, kRp = 1;

struct HostSetting {
    std::mutex lock;
    std::wstring host = DEFAULT_API_HOST;
    HostSetting() {
        if (const char* env = std::getenv("LUMEO_API_HOST")) {
            std::wstring h = platform::Utf8ToWide(env);
            if (Valid(h)) host = h;
        }
    }
    static bool Valid(const std::wstring& h) {
        size_t colon = h.find(L':');
        std::wstring name = h.substr(0, colon);
        if (name.empty() || name.size() > 253) return false;
        for (wchar_t c : name)
            if (!((c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') || c == L'.' ||
                  c == L'-'))
                return false;
        if (colon == std::wstring::npos) return true;
        std::wstring port = h.substr(colon + 1);
        if (port.empty() || port.size() > 5) return false;
        for (wchar_t c : port)
            if (c < L'0' || c > L'9') return false;
        long p = std::wcstol(port.c_str(), nullptr, 10);
        return p >= 1 && p <= 65535;
    }
};

HostSetting& Host() {
    static HostSetting* h = new HostSetting();
    return *h;
}

// Cache and temporary files live under the program's Xml folder.
template <class... A>
bool CachePath(CStringW& out, const wchar_t* fmt, const A&... args) {
    std::wstring p = platform::FormatW(fmt, g_appDir, args...);
    if (p.size() >= MAX_PATH) {
        LOG(LOG_WARNING, L"path too long : %s", p.c_str());
        return false;
    }
    out = p;
    return true;
}

bool Url(CStringW& out, const std::wstring& text) {
    if (text.size() >= LIST_URL_LEN) {
        LOG(LOG_WARNING, L"url too long : %s", text.c_str());
        return false;
    }
    out = text;
    return true;
}

int ChannelId(int rssType) {
    switch (rssType) {
        case RSS_NEWS: return 91;
        case RSS_ORIGINAL: return 92;
        case RSS_MUSIC: return 95;
        case RSS_SPORT: return 98;
        case RSS_FUNNY: return 94;
    }
    return -1;
}

const wchar_t* ChannelPrefix(int rssType) {
    switch (rssType) {
        case RSS_NEWS: return L"news";
        case RSS_ORIGINAL: return L"original";
        case RSS_MUSIC: return L"music";
        case RSS_SPORT: return L"sport";
        case RSS_FUNNY: return L"funny";
    }
    return L"";
}

// A video id inside the related-videos query: characters that would end or bend the
// query, or read as a template directive later, are percent-encoded.
std::wstring QueryValue(const wchar_t* text) {
    std::wstring out;
    for (const wchar_t* p = text; p && *p; ++p) {
        wchar_t c = *p;
        if (c == L'%' || c == L'&' || c == L'#' || c == L'?' || c == L' ' || c < 0x20 || c == 0x7F)
            out += platform::FormatW(L"%%%.2X", static_cast<unsigned>(c));
        else
            out += c;
    }
    return out;
}

}  // namespace

VideoList::VideoList(int rssType_, const wchar_t* title_, const wchar_t* subTitle_, int maxTotal_, int isRanking_,
                     int period_, int pageSize_)
    : rssType(rssType_),
      pagesLoaded(0),
      total(maxTotal_),
      maxTotal(maxTotal_),
      pageSize(pageSize_),
      title(title_),
      subTitle(subTitle_),
      isRanking(isRanking_),
      period(period_) {}

CStringW GetApiHost() {
    HostSetting& h = Host();
    std::lock_guard<std::mutex> g(h.lock);
    return CStringW(h.host);
}

int SetApiHost(const wchar_t* host) {
    if (!host || !HostSetting::Valid(host)) return -1;
    HostSetting& h = Host();
    std::lock_guard<std::mutex> g(h.lock);
    h.host = host;
    return 0;
}

CStringW SafeFileNamePart(const wchar_t* text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::wstring out;
    auto escape = [&](unsigned byte) {
        out += L'%';
        out += static_cast<wchar_t>(kHex[byte >> 4]);
        out += static_cast<wchar_t>(kHex[byte & 15]);
    };
    const wchar_t* s = text ? text : L"";
    if (!*s) return CStringW(L"%00");  // no text holds a zero character
    for (const wchar_t* p = s; *p; ++p) {
        uint32_t c = static_cast<uint32_t>(*p);
        bool kept = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                    c == '_';
        // A dot stays only between two other characters and never beside another dot, so
        // no name is ".", "..", ends in a dot or holds "..".
        if (c == '.') kept = p != s && p[-1] != L'.' && p[1] != 0;
        if (kept) {
            out += static_cast<wchar_t>(c);
        } else if (c < 0x80) {
            escape(c);
        } else if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            // Not a character: its value, so that it stays apart from every character.
            out += platform::FormatW(L"%%u%08X", static_cast<unsigned>(c));
        } else {
            std::string utf8 = platform::WideToUtf8(std::wstring_view(p, 1));
            for (unsigned char b : utf8) escape(b);
        }
    }
    return CStringW(out);
}

int BuildListRequest(const VideoList* list, int pg, CStringW& url, CStringW& cachePath) {
    CStringW host = GetApiHost();
    std::wstring u;
    bool pathOk = false;
    int pz = list->pageSize, pd = list->period;
    switch (list->rssType) {
        case RSS_NEWS:
        case RSS_ORIGINAL:
        case RSS_MUSIC:
        case RSS_SPORT:
        case RSS_FUNNY:
            u = platform::FormatW(
                L"http://%s/openapi-common/listChannelVideos?pid=%s&cid=%d&pg=%d&pz=%d&rt=%d&f=%d&seg=%d&rp=%d",
                host.GetString(), PARTNER_ID, ChannelId(list->rssType), pg, pz, kRt, kF, kSeg, kRp);
            pathOk = CachePath(cachePath, L"%s\\Xml\\%s_%d.xml", ChannelPrefix(list->rssType), pg);
            break;
        case RSS_HOT:
            u = platform::FormatW(L"http://%s/openapi-common/getTopVideos?pid=%s&pz=%d&pg=%d&rt=%d&f=%d&seg=%d&rp=%d",
                                  host.GetString(), PARTNER_ID, pz, pg, kRt, kF, kSeg, kRp);
            pathOk = CachePath(cachePath, L"%s\\Xml\\%s_%d.xml", L"recommend", pg);
            break;
        case RSS_SEARCH:
            u = platform::FormatW(
                L"http://%s/openapi-common/searchVideos?pid=%s&keyword=%%s&pg=%d&pz=%d&rt=%d&f=%d&seg=%d&rp=%d",
                host.GetString(), PARTNER_ID, pg, pz, kRt, kF, kSeg, kRp);
            pathOk = CachePath(cachePath, L"%s\\Xml\\%s.xml", L"search");
            break;
        case RSS_MOST_PLAYED:
        case RSS_MOST_COMMENT:
        case RSS_MOST_FAV: {
            const wchar_t* method = list->rssType == RSS_MOST_PLAYED    ? L"getVideosOrderByPv"
                                    : list->rssType == RSS_MOST_COMMENT ? L"getVideosOrderByRel"
                                                                        : L"getVideosOrderByFav";
            // Most favourited has a cache name of its own, apart from most commented.
            const wchar_t* prefix = list->rssType == RSS_MOST_PLAYED    ? L"mostviewed"
                                    : list->rssType == RSS_MOST_COMMENT ? L"mostcomment"
                                                                        : L"mostfav";
            u = platform::FormatW(L"http://%s/openapi-common/%s?pid=%s&pg=%d&pz=%d&rt=%d&f=%d&pd=%d&seg=%d&rp=%d",
                                  host.GetString(), method, PARTNER_ID, pg, pz, kRt, kF, pd, kSeg, kRp);
            pathOk = CachePath(cachePath, L"%s\\Xml\\%s_%d_%d.xml", prefix, pd, pg);
            break;
        }
        default:
            LOG(LOG_WARNING, L"unknown RSS type : %d", list->rssType);
            return -1;
    }
    return pathOk && Url(url, u) ? 0 : -1;
}

int BuildRelatedVideosRequest(const wchar_t* vid, int pz, CStringW& url, CStringW& cachePath) {
    std::wstring u = platform::FormatW(L"http://%s/openapi-common/relatedVideos?pid=%s&vid=%s&pz=%d&rt=%d&f=%d&seg=%d&rp=%d",
                                       GetApiHost().GetString(), PARTNER_ID, QueryValue(vid).c_str(), pz, kRt, kF,
                                       kSeg, kRp);
    // The id comes from the service: it must stay one file name inside the Xml folder.
    CStringW safe = SafeFileNamePart(vid);
    if (!CachePath(cachePath, L"%s\\Xml\\%s_%s.xml", L"RelVideo", safe.GetString())) return -1;
    return Url(url, u) ? 0 : -1;
}

int BuildVersionRequest(CStringW& url, CStringW& cachePath) {
    std::wstring u = platform::FormatW(L"http://%s/openapi-common/getVersionInfo?pid=%s&ver=%s",
                                       GetApiHost().GetString(), PARTNER_ID, PROGRAM_VERSION);
    if (!CachePath(cachePath, L"%s\\Xml\\%s.xml", L"Update")) return -1;
    return Url(url, u) ? 0 : -1;
}

int IsComplete(VideoList* list) {
    int n = static_cast<int>(list->items.size());
    return (n >= list->maxTotal || n >= list->total) ? 1 : 0;
}

int LoadListPage(VideoList* list, int download) {
    if (IsComplete(list)) return 1;
    list->pageItems.clear();
    int pg = list->pagesLoaded + 1;
    CStringW tempPath = platform::FormatW(L"%s\\Xml\\temp.xml", g_appDir);
    wchar_t keyword[LIST_KEYWORD_LEN] = {0};
    CStringW url, cachePath;
    if (list->rssType == RSS_SEARCH) GetWindowTextW(g_hSearchEdit, keyword, LIST_KEYWORD_LEN);
    if (BuildListRequest(list, pg, url, cachePath) != 0) return -1;

    int result = 0;
    bool read = true;
    bool answered = false;
    const int totalBefore = list->total;
    if (download) {
        LOG(LOG_NOTICE, L"wXMLUrlFormat=%s", url.GetString());
        CStringA unused;
        if (DownloadEx(&g_downloader, url, keyword, tempPath, 0, 1, unused, 1) != 0) {
            LOG(LOG_WARNING, L"DownloadEx failed");
            result = -1;
            read = false;
        } else {
            EnterCriticalSection(&g_csRunning);
            if (g_running != 1) {
                LOG(LOG_NOTICE, L"cancel copy");
                LeaveCriticalSection(&g_csRunning);
                return -1;
            }
            if (!CopyFileW(tempPath, cachePath, FALSE)) {
                list->lastError = static_cast<int>(GetLastError());
                LOG(LOG_WARNING, L"CopyFile failed, errno=%d", list->lastError);
                result = -1;
                read = false;
            }
            LeaveCriticalSection(&g_csRunning);
        }
    } else {
        read = false;
        if (list->rssType != RSS_SEARCH) {
            FILE* f = _wfopen(cachePath, L"r");
            if (f) {
                fclose(f);
                read = true;
            }
        }
    }

    if (read) {
        EnterCriticalSection(&g_csXml);
        int r = GetVideoList(cachePath, list->pageItems, list->total, list->maxTotal);
        LeaveCriticalSection(&g_csXml);
        if (r != 0) {
            LOG(LOG_WARNING, L"parse xml failed, wXMLUrlFormat=%s, wQuery=%s", url.GetString(), keyword);
            result = -1;
        } else {
            answered = true;
        }
    }

    if (!list->pageItems.empty()) {
        list->items.insert(list->items.end(), list->pageItems.begin(), list->pageItems.end());
        list->pagesLoaded += 1;
    }
    // Only an answer that was read decides how long the list is: a failed or missing page
    // leaves it open, so the next load tries again.
    if (!answered) list->total = totalBefore;
    else if (list->pageItems.empty()) list->total = static_cast<int>(list->items.size());
    return result;
}

int ShowMe(VideoList* list, int online) {
    if (list->rssType == RSS_SEARCH) {
        list->pagesLoaded = 0;
        list->total = list->maxTotal;
        list->items.clear();
    } else if (!list->items.empty()) {
        return 0;
    }
    int r = LoadListPage(list, online);
    if (r != 0 && r != 1) {
        LOG(LOG_WARNING, L"ShowMe error : result=%d", r);
        return -1;
    }
    return 0;
}

int LengthenMe(VideoList* list) { return LoadListPage(list, 1); }

std::vector<VideoItem>& GetItems(VideoList* list) { return list->items; }
int GetRssType(VideoList* list) { return list->rssType; }
const CStringW& GetTitle(VideoList* list) { return list->title; }
const CStringW& GetSubTitle(VideoList* list) { return list->subTitle; }
int IsRanking(VideoList* list) { return list->isRanking; }
int GetPeriod(VideoList* list) { return list->period; }
