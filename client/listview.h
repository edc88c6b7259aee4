// The video lists the user can open, the web API's addresses and the answer cache.
#pragma once

#include <vector>

#include "parseXML.h"
#include "platform/cstring.h"
#include "platform/wintypes.h"
#include "version.h"

#define RSS_NEWS 111
#define RSS_ORIGINAL 112
#define RSS_MUSIC 113
#define RSS_SPORT 114
#define RSS_FUNNY 115
#define RSS_HOT 123
#define RSS_SEARCH 124
#define RSS_MOST_PLAYED 126
#define RSS_MOST_COMMENT 127
#define RSS_MOST_FAV 128

#define LIST_URL_LEN 512
#define LIST_KEYWORD_LEN 128
#define PARTNER_ID L"4f7be1c09a2d6e53"

class VideoList {
public:
    VideoList(int rssType, const wchar_t* title, const wchar_t* subTitle, int maxTotal, int isRanking, int period,
              int pageSize);

    int lastError;
    int rssType;
    int pagesLoaded;
    int total;
    int maxTotal;
    int pageSize;
    CStringW title;
    CStringW subTitle;
    int isRanking;
    int period;
    std::vector<VideoItem> items;
    std::vector<VideoItem> pageItems;
};

extern VideoList g_listSearch;
extern VideoList g_listHot;
extern VideoList g_listNews;
extern VideoList g_listOriginal;
extern VideoList g_listMusic;
extern VideoList g_listSport;
extern VideoList g_listFunny;
extern VideoList g_listMostPlayedToday;
extern VideoList g_listMostPlayedWeek;
extern VideoList g_listMostPlayedMonth;
extern VideoList g_listMostFavToday;
extern VideoList g_listMostFavWeek;
extern VideoList g_listMostFavMonth;
extern VideoList g_listMostCommentToday;
extern VideoList g_listMostCommentWeek;
extern VideoList g_listMostCommentMonth;

// First page (the search list always starts afresh; others load once per run). 0 or -1.
int ShowMe(VideoList* list, int online);
// The next page from the network: 1 when already complete, 0 done, -1 failed.
int LengthenMe(VideoList* list);
// Fetches (download != 0) or reads from the cache and appends one page: 1 complete, 0, -1.
int LoadListPage(VideoList* list, int download);
int IsComplete(VideoList* list);

std::vector<VideoItem>& GetItems(VideoList* list);
int GetRssType(VideoList* list);
const CStringW& GetTitle(VideoList* list);
const CStringW& GetSubTitle(VideoList* list);
int IsRanking(VideoList* list);
int GetPeriod(VideoList* list);

// The address of a list page and its cache file; -1 for an unknown kind (or a path that
// does not fit). The search address keeps one "%s" for the keyword.
int BuildListRequest(const VideoList* list, int page, CStringW& url, CStringW& cachePath);
// The related videos of `vid` (pz of them) and their cache file.
int BuildRelatedVideosRequest(const wchar_t* vid, int pz, CStringW& url, CStringW& cachePath);
// The version check and its cache file.
int BuildVersionRequest(CStringW& url, CStringW& cachePath);

// A text from the service made fit to be one file name, one name per text: letters,
// digits, "-", "_" and single dots between other characters stay, every other byte of
// its UTF-8 form becomes "%XX" (so "%" too), and the empty text becomes "%00". The name
// never reaches outside its folder, and ids of letters and digits keep their names.
CStringW SafeFileNamePart(const wchar_t* text);

// The web API host, "HOST" or "HOST:PORT". The default is the sample service on this
// machine; the environment variable LUMEO_API_HOST overrides it at first use, and the
// program's --api-host option through SetApiHost.
#define DEFAULT_API_HOST L"127.0.0.1:18080"
CStringW GetApiHost();
// 0, or -1 (and the host is kept) when `host` is not a host name or address with an
// optional port 1-65535.
int SetApiHost(const wchar_t* host);
