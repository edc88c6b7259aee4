// The sixteen video lists against the sample service: addresses, cache files, paging.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <regex>
#include <set>

#include "clientenv.h"
#include "connMgr.h"
#include "download.h"
#include "entryGlobals.h"
#include "listview.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/winuser.h"

namespace {

using nettest::ClientEnv;

void ResetList(VideoList* l) {
    l->items.clear();
    l->pageItems.clear();
    l->pagesLoaded = 0;
    l->total = l->maxTotal;
}

std::string Fmt(const char* f, int a, int b = 0) {
    char buf[512];
    std::snprintf(buf, sizeof buf, f, a, b);
    return buf;
}

int TotalOf(const std::string& answer) {
    std::smatch m;
    return std::regex_search(answer, m, std::regex("<total>(\\d+)</total>")) ? std::stoi(m[1]) : -1;
}

std::vector<std::string> VidsOf(const std::string& answer) {
    std::vector<std::string> out;
    std::regex re("<vid>([^<]*)</vid>");
    for (auto it = std::sregex_iterator(answer.begin(), answer.end(), re); it != std::sregex_iterator(); ++it)
        out.push_back((*it)[1]);
    return out;
}

struct ListKind {
    VideoList* list;
    const char* target;  // request after "/openapi-common/", %d = page
    const char* cache;   // cache file under the program folder, %d = page
    int rssType, maxTotal, period;
    const wchar_t* subTitle;
};

// Addresses as the web API's documentation writes them, byte for byte.
const ListKind kKinds[] = {
    {&g_listHot, "getTopVideos?pid=4f7be1c09a2d6e53&pz=10&pg=%d&rt=1&f=8&seg=1&rp=1", "Xml/recommend_%d.xml", 123, 100, 0, L"热点推荐"},
    {&g_listNews, "listChannelVideos?pid=4f7be1c09a2d6e53&cid=91&pg=%d&pz=10&rt=1&f=8&seg=1&rp=1", "Xml/news_%d.xml", 111, 100, 0, L"资讯频道"},
    {&g_listOriginal, "listChannelVideos?pid=4f7be1c09a2d6e53&cid=92&pg=%d&pz=10&rt=1&f=8&seg=1&rp=1", "Xml/original_%d.xml", 112, 100, 0, L"原创频道"},
    {&g_listMusic, "listChannelVideos?pid=4f7be1c09a2d6e53&cid=95&pg=%d&pz=10&rt=1&f=8&seg=1&rp=1", "Xml/music_%d.xml", 113, 100, 0, L"音乐频道"},
    {&g_listSport, "listChannelVideos?pid=4f7be1c09a2d6e53&cid=98&pg=%d&pz=10&rt=1&f=8&seg=1&rp=1", "Xml/sport_%d.xml", 114, 100, 0, L"体育频道"},
    {&g_listFunny, "listChannelVideos?pid=4f7be1c09a2d6e53&cid=94&pg=%d&pz=10&rt=1&f=8&seg=1&rp=1", "Xml/funny_%d.xml", 115, 100, 0, L"搞笑频道"},
    {&g_listMostPlayedToday, "getVideosOrderByPv?pid=4f7be1c09a2d6e53&pg=%d&pz=10&rt=1&f=8&pd=1&seg=1&rp=1", "Xml/mostviewed_1_%d.xml", 126, 50, 1, L"今日最多播放"},
    {&g_listMostPlayedWeek, "getVideosOrderByPv?pid=4f7be1c09a2d6e53&pg=%d&pz=10&rt=1&f=8&pd=2&seg=1&rp=1", "Xml/mostviewed_2_%d.xml", 126, 50, 2, L"本周最多播放"},
    {&g_listMostPlayedMonth, "getVideosOrderByPv?pid=4f7be1c09a2d6e53&pg=%d&pz=10&rt=1&f=8&pd=3&seg=1&rp=1", "Xml/mostviewed_3_%d.xml", 126, 50, 3, L"本月最多播放"},
    {&g_listMostFavToday, "getVideosOrderByFav?pid=4f7be1c09a2d6e53&pg=%d&pz=10&rt=1&f=8&pd=1&seg=1&rp=1", "Xml/mostfav_1_%d.xml", 128, 50, 1, L"今日最多收藏"},
    {&g_listMostFavWeek, "getVideosOrderByFav?pid=4f7be1c09a2d6e53&pg=%d&pz=10&rt=1&f=8&pd=2&seg=1&rp=1", "Xml/mostfav_2_%d.xml", 128, 50, 2, L"本周最多收藏"},
    {&g_listMostFavMonth, "getVideosOrderByFav?pid=4f7be1c09a2d6e53&pg=%d&pz=10&rt=1&f=8&pd=3&seg=1&rp=1", "Xml/mostfav_3_%d.xml", 128, 50, 3, L"本月最多收藏"},
    {&g_listMostCommentToday, "getVideosOrderByRel?pid=4f7be1c09a2d6e53&pg=%d&pz=10&rt=1&f=8&pd=1&seg=1&rp=1", "Xml/mostcomment_1_%d.xml", 127, 50, 1, L"今日最多评论"},
    {&g_listMostCommentWeek, "getVideosOrderByRel?pid=4f7be1c09a2d6e53&pg=%d&pz=10&rt=1&f=8&pd=2&seg=1&rp=1", "Xml/mostcomment_2_%d.xml", 127, 50, 2, L"本周最多评论"},
    {&g_listMostCommentMonth, "getVideosOrderByRel?pid=4f7be1c09a2d6e53&pg=%d&pz=10&rt=1&f=8&pd=3&seg=1&rp=1", "Xml/mostcomment_3_%d.xml", 127, 50, 3, L"本月最多评论"},
};

struct ListTest : ::testing::Test {
    ClientEnv& env = ClientEnv::Get();
    void SetUp() override {
        env.Begin();
        for (auto& k : kKinds) ResetList(k.list);
        ResetList(&g_listSearch);
        SetWindowTextW(g_hSearchEdit, L"");
    }
    void TearDown() override { env.End(); }
    std::string Answer(const ListKind& k, int page) { return env.service().Get("/openapi-common/" + Fmt(k.target, page)); }
};

TEST_F(ListTest, TheSixteenListsAreBuiltAsListed) {
    EXPECT_EQ(g_listSearch.rssType, 124);
    EXPECT_EQ(g_listSearch.title, L"搜索结果");
    EXPECT_TRUE(g_listSearch.subTitle.IsEmpty());
    EXPECT_EQ(g_listSearch.maxTotal, 100);
    for (const ListKind& k : kKinds) {
        EXPECT_EQ(GetRssType(k.list), k.rssType);
        EXPECT_EQ(k.list->maxTotal, k.maxTotal);
        EXPECT_EQ(GetPeriod(k.list), k.period);
        EXPECT_EQ(IsRanking(k.list), k.maxTotal == 50 ? 1 : 0);
        EXPECT_EQ(GetSubTitle(k.list), k.subTitle);
        EXPECT_EQ(k.list->pageSize, 10);
        if (k.maxTotal == 50) {
            EXPECT_EQ(GetTitle(k.list), L"排行榜");
        }
    }
}

TEST_F(ListTest, EveryKindPagesToCompleteness) {
    for (const ListKind& k : kKinds) {
        SCOPED_TRACE(k.target);
        std::string first = Answer(k, 1);
        int serviceTotal = TotalOf(first);
        ASSERT_GT(serviceTotal, 0);
        int expected = std::min(serviceTotal, k.maxTotal);
        env.service().Get("/control/reset");

        ASSERT_EQ(ShowMe(k.list, 1), 0);
        EXPECT_EQ(k.list->pagesLoaded, 1);
        EXPECT_EQ(k.list->total, expected);
        ASSERT_FALSE(GetItems(k.list).empty());
        EXPECT_EQ(platform::WideToUtf8(GetItems(k.list)[0].vid.str()), VidsOf(first)[0]);
        EXPECT_TRUE(env.dir().Exists(Fmt(k.cache, 1)));
        EXPECT_EQ(ShowMe(k.list, 1), 0) << "a list with items is shown from memory";

        int rounds = 0, r = 0;
        while ((r = LengthenMe(k.list)) == 0 && ++rounds < 20) {}
        EXPECT_EQ(r, 1);
        EXPECT_EQ(IsComplete(k.list), 1);
        EXPECT_EQ(static_cast<int>(GetItems(k.list).size()), expected);
        int pages = (expected + 9) / 10;
        EXPECT_EQ(k.list->pagesLoaded, pages);
        auto seen = env.RequestsWith("/openapi-common/");
        ASSERT_EQ(static_cast<int>(seen.size()), pages) << "one request per page, none once complete";
        for (int p = 1; p <= pages; ++p) {
            EXPECT_EQ(seen[p - 1], "GET /openapi-common/" + Fmt(k.target, p));
            EXPECT_TRUE(env.dir().Exists(Fmt(k.cache, p))) << Fmt(k.cache, p);
        }
        std::set<CStringW> vids;
        for (auto& v : GetItems(k.list)) vids.insert(v.vid);
        EXPECT_EQ(static_cast<int>(vids.size()), expected) << "no page read twice";
    }
}

TEST_F(ListTest, RankingTotalIsCappedAtFifty) {
    const ListKind& month = kKinds[8];
    ASSERT_GT(TotalOf(Answer(month, 1)), 50) << "the service has more than fifty this month";
    env.service().Get("/control/reset");
    ASSERT_EQ(ShowMe(month.list, 1), 0);
    EXPECT_EQ(month.list->total, 50);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(LengthenMe(month.list), 0);
    EXPECT_EQ(GetItems(month.list).size(), 50u);
    EXPECT_EQ(LengthenMe(month.list), 1);
    EXPECT_EQ(env.RequestsWith("getVideosOrderByPv").size(), 5u);
    // The week's second page: pd=2 and the cache file "mostviewed_2_2.xml".
    EXPECT_TRUE(env.dir().Exists("Xml/mostviewed_3_5.xml"));
}

TEST_F(ListTest, SearchStartsAfreshWithTheEncodedKeyword) {
    SetWindowTextW(g_hSearchEdit, L"猫咪");
    ASSERT_EQ(ShowMe(&g_listSearch, 1), 0);
    auto seen = env.RequestsWith("searchVideos");
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0],
              "GET /openapi-common/searchVideos?pid=4f7be1c09a2d6e53&keyword=%E7%8C%AB%E5%92%AA&pg=1&pz=10&rt=1&f=8&seg=1&rp=1");
    std::string answer = env.service().Get(seen[0].substr(4));
    EXPECT_EQ(g_listSearch.total, TotalOf(answer));
    EXPECT_EQ(GetItems(&g_listSearch).size(), VidsOf(answer).size());
    EXPECT_TRUE(env.dir().Exists("Xml/search.xml"));
    env.service().Get("/control/reset");

    SetWindowTextW(g_hSearchEdit, L"猫咪 幕后");
    ASSERT_EQ(ShowMe(&g_listSearch, 1), 0);
    seen = env.RequestsWith("searchVideos");
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_NE(seen[0].find("&keyword=%E7%8C%AB%E5%92%AA+%E5%B9%95%E5%90%8E&pg=1&"), std::string::npos) << seen[0];
    EXPECT_EQ(g_listSearch.pagesLoaded, 1);
    EXPECT_EQ(GetItems(&g_listSearch).size(), 1u) << "the earlier results are gone";
    EXPECT_EQ(GetItems(&g_listSearch)[0].title, L"猫咪幕后花絮");
}

TEST_F(ListTest, AnswersWithoutTotalOrItems) {
    // No total: the page's records are the total, so the list is complete.
    env.service().QueueFault("nototal", 1, "getTopVideos");
    ASSERT_EQ(ShowMe(&g_listHot, 1), 0);
    EXPECT_EQ(g_listHot.total, 10);
    EXPECT_EQ(IsComplete(&g_listHot), 1);
    EXPECT_EQ(LengthenMe(&g_listHot), 1);

    // An empty second page ends the list at what it holds.
    ASSERT_EQ(ShowMe(&g_listNews, 1), 0);
    ASSERT_EQ(IsComplete(&g_listNews), 0);
    env.service().QueueFault("empty", 1, "cid=91&pg=2");
    EXPECT_EQ(LengthenMe(&g_listNews), 0);
    EXPECT_EQ(g_listNews.total, 10);
    EXPECT_EQ(g_listNews.pagesLoaded, 1);
    EXPECT_EQ(LengthenMe(&g_listNews), 1);
    EXPECT_EQ(env.RequestsWith("cid=91").size(), 2u);
}

TEST_F(ListTest, FailedThirdPageLeavesTwoPages) {
    ASSERT_EQ(ShowMe(&g_listHot, 1), 0);
    ASSERT_EQ(LengthenMe(&g_listHot), 0);
    // Both the try and the retry after reconnecting are cut off.
    env.service().QueueFault("drop", 2, "pg=3");
    EXPECT_EQ(LengthenMe(&g_listHot), -1);
    EXPECT_EQ(g_listHot.pagesLoaded, 2);
    EXPECT_EQ(GetItems(&g_listHot).size(), 20u);
    EXPECT_GE(env.LogCount("DownloadEx failed"), 1);
    EXPECT_EQ(env.Boxes().size(), 1u) << "lists ask for the message box";

    // A page that is not XML is a failed read; an error page too.
    ResetList(&g_listMusic);
    env.service().QueueFault("malformed", 1, "cid=95");
    EXPECT_EQ(ShowMe(&g_listMusic, 1), -1);
    EXPECT_GE(env.LogCount("parse xml failed, wXMLUrlFormat=http://"), 1);
    EXPECT_GE(env.LogCount("ShowMe error : result=-1"), 1);
    env.service().QueueFault("failstatus", 1, "cid=95");
    ResetList(&g_listMusic);
    EXPECT_EQ(ShowMe(&g_listMusic, 1), -1);
    EXPECT_TRUE(GetItems(&g_listMusic).empty());
}

TEST_F(ListTest, OfflineReadsTheCacheButNeverForSearch) {
    ASSERT_EQ(ShowMe(&g_listOriginal, 1), 0);
    std::vector<CStringW> online;
    for (auto& v : GetItems(&g_listOriginal)) online.push_back(v.vid);
    ResetList(&g_listOriginal);
    env.service().Get("/control/reset");
    ASSERT_EQ(ShowMe(&g_listOriginal, 0), 0);
    std::vector<CStringW> cached;
    for (auto& v : GetItems(&g_listOriginal)) cached.push_back(v.vid);
    EXPECT_EQ(cached, online);
    EXPECT_TRUE(env.RequestsWith("/openapi-common/").empty());

    SetWindowTextW(g_hSearchEdit, L"猫咪");
    ASSERT_EQ(ShowMe(&g_listSearch, 1), 0);
    ASSERT_TRUE(env.dir().Exists("Xml/search.xml"));
    env.service().Get("/control/reset");
    EXPECT_EQ(ShowMe(&g_listSearch, 0), 0);
    EXPECT_TRUE(GetItems(&g_listSearch).empty());
    EXPECT_EQ(IsComplete(&g_listSearch), 0) << "nothing was answered";

    // No cache file: no records, and the list stays open for the network.
    std::filesystem::remove_all(env.dir().path() + "/Xml/sport_1.xml");
    EXPECT_EQ(ShowMe(&g_listSport, 0), 0);
    EXPECT_TRUE(GetItems(&g_listSport).empty());
    EXPECT_EQ(IsComplete(&g_listSport), 0);
    EXPECT_TRUE(env.RequestsWith("/openapi-common/").empty());
    ASSERT_EQ(ShowMe(&g_listSport, 1), 0);
    EXPECT_EQ(GetItems(&g_listSport).size(), 10u) << "back online, the first page loads";
}

// Only an answer that was read ends a list: a page that failed in any way leaves it open,
// and the same page is asked for again and appended once it comes.
TEST_F(ListTest, FailedPagesNeverEndTheList) {
    const char* faults[] = {"drop", "status:500", "status:404", "malformed", "failstatus"};
    for (const char* fault : faults) {
        SCOPED_TRACE(fault);
        ResetList(&g_listNews);
        env.Reset();
        // The first page: both the try and the retry after reconnecting fail.
        env.service().QueueFault(fault, 2, "cid=91&pg=1");
        EXPECT_EQ(ShowMe(&g_listNews, 1), -1);
        env.service().Get("/control/fault");  // a fault the retry did not take goes
        EXPECT_TRUE(GetItems(&g_listNews).empty());
        EXPECT_EQ(IsComplete(&g_listNews), 0);
        EXPECT_EQ(g_listNews.total, 100);
        ASSERT_EQ(ShowMe(&g_listNews, 1), 0);
        ASSERT_EQ(GetItems(&g_listNews).size(), 10u);

        // A later page.
        env.service().QueueFault(fault, 2, "cid=91&pg=2");
        EXPECT_EQ(LengthenMe(&g_listNews), -1);
        env.service().Get("/control/fault");
        EXPECT_EQ(GetItems(&g_listNews).size(), 10u);
        EXPECT_EQ(g_listNews.pagesLoaded, 1);
        EXPECT_EQ(IsComplete(&g_listNews), 0);
        EXPECT_EQ(LengthenMe(&g_listNews), 0);
        EXPECT_EQ(GetItems(&g_listNews).size(), 20u);
        auto seen = env.RequestsWith("cid=91");
        ASSERT_GE(seen.size(), 4u);
        EXPECT_NE(seen.back().find("&pg=2&"), std::string::npos) << "the failed page is asked for again";
    }
}

// An error answer, or one cut short, is a failed download: after its retry nothing of it
// is in the answer cache, neither as the page nor as the file it came through.
TEST_F(ListTest, AFailedAnswerLeavesNoFileInTheCache) {
    for (const char* fault : {"status:500", "status:404", "status:503", "drop"}) {
        SCOPED_TRACE(fault);
        ResetList(&g_listHot);
        env.Reset();
        std::filesystem::remove_all(env.dir().path() + "/Xml");
        std::filesystem::create_directories(env.dir().path() + "/Xml");
        int failed = env.LogCount("DownloadEx failed");
        env.service().QueueFault(fault, 2, "getTopVideos");
        EXPECT_EQ(ShowMe(&g_listHot, 1), -1);
        EXPECT_EQ(env.RequestsWith("getTopVideos").size(), 2u) << "the try and the retry";
        EXPECT_EQ(env.LogCount("DownloadEx failed"), failed + 1);
        EXPECT_EQ(env.Boxes().size(), 1u);
        EXPECT_TRUE(std::filesystem::is_empty(env.dir().path() + "/Xml"));
        EXPECT_TRUE(GetItems(&g_listHot).empty());
    }
}

TEST_F(ListTest, ClosingProgramCancelsTheCopy) {
    std::filesystem::remove_all(env.dir().path() + "/Xml/funny_1.xml");
    EnterCriticalSection(&g_csRunning);
    g_running = 0;
    LeaveCriticalSection(&g_csRunning);
    EXPECT_EQ(ShowMe(&g_listFunny, 1), -1);
    EXPECT_EQ(env.RequestsWith("cid=94").size(), 1u) << "the download still ran";
    EXPECT_FALSE(env.dir().Exists("Xml/funny_1.xml"));
    EXPECT_GE(env.LogCount("NOTICE"), 1);
    EXPECT_GE(env.LogCount("cancel copy"), 1);
    EXPECT_TRUE(GetItems(&g_listFunny).empty());
    EXPECT_EQ(g_listFunny.total, 100) << "the list is unchanged";
    EXPECT_EQ(g_listFunny.pagesLoaded, 0);
}

TEST_F(ListTest, FailedCacheCopyKeepsTheError) {
    // A folder where the cache file should be makes the copy fail.
    std::filesystem::create_directories(env.dir().path() + "/Xml/recommend_1.xml");
    EXPECT_EQ(ShowMe(&g_listHot, 1), -1);
    EXPECT_NE(g_listHot.lastError, 0);
    EXPECT_GE(env.LogCount("CopyFile failed, errno="), 1);
    EXPECT_TRUE(GetItems(&g_listHot).empty());
    std::filesystem::remove_all(env.dir().path() + "/Xml/recommend_1.xml");
}

TEST_F(ListTest, RelatedVideosAndVersionAddresses) {
    CStringW url, path;
    ASSERT_EQ(BuildRelatedVideosRequest(L"lv3f2a0000", 4, url, path), 0);
    EXPECT_EQ(platform::WideToUtf8(url.str()),
              "http://" + env.host() + "/openapi-common/relatedVideos?pid=4f7be1c09a2d6e53&vid=lv3f2a0000&pz=4&rt=1&f=8&seg=1&rp=1");
    EXPECT_EQ(path, CStringW(std::wstring(g_appDir) + L"\\Xml\\RelVideo_lv3f2a0000.xml"));
    CStringA none;
    ASSERT_EQ(DownloadEx(&g_downloader, url, nullptr, path, 0, 0, none, 1), 0);
    std::vector<VideoItem> related;
    int total = 0;
    ASSERT_EQ(GetVideoList(path, related, total, 100), 0);
    EXPECT_EQ(related.size(), 4u);

    ASSERT_EQ(BuildVersionRequest(url, path), 0);
    EXPECT_EQ(platform::WideToUtf8(url.str()),
              "http://" + env.host() + "/openapi-common/getVersionInfo?pid=4f7be1c09a2d6e53&ver=v1.01.15.06007");
    EXPECT_EQ(path, CStringW(std::wstring(g_appDir) + L"\\Xml\\Update.xml"));
    ASSERT_EQ(DownloadEx(&g_downloader, url, nullptr, path, 0, 1, none, 1), 0);
    UpdateInfo info;
    ASSERT_EQ(GetUpdateInfo(path, info), 0);
    EXPECT_EQ(info.type, 0);
}

// Percent-decoding as URLs have it: what a name made from a text reads back as.
std::string PercentDecoded(const std::string& name) {
    std::string out;
    for (size_t i = 0; i < name.size(); ++i) {
        if (name[i] == '%' && i + 2 < name.size() && std::isxdigit(static_cast<unsigned char>(name[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(name[i + 2]))) {
            out += static_cast<char>(std::stoi(name.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += name[i];
        }
    }
    return out;
}

const wchar_t* const kHostileIds[] = {
    L"..\\..\\evil", L"../../etc/passwd", L"..", L".", L".hidden", L"trailing.", L"a/b\\c:d*e?f\"g<h>i|j",
    L"视频..1", L"50%", L"a b", L"x\ty",
};

TEST_F(ListTest, ServiceTextsNeverLeaveTheirFolder) {
    struct Case {
        const wchar_t* vid;
        const wchar_t* name;
    } cases[] = {
        {L"lv3f2a0000", L"lv3f2a0000"},  // ids of letters and digits keep their names
        {L"XMTk2-_09", L"XMTk2-_09"},
        {L"v1.01.16.00001", L"v1.01.16.00001"},
        {L"视频", L"%E8%A7%86%E9%A2%91"},  // the bytes of its UTF-8 form
        {L"a/b", L"a%2Fb"},
        {L"a b%", L"a%20b%25"},
        {L"a:b", L"a%3Ab"},
    };
    for (const Case& c : cases) EXPECT_EQ(SafeFileNamePart(c.vid), CStringW(c.name)) << c.vid;
    for (const wchar_t* vid : kHostileIds) {
        std::string name = platform::WideToUtf8(SafeFileNamePart(vid).str());
        SCOPED_TRACE(name);
        EXPECT_EQ(PercentDecoded(name), platform::WideToUtf8(vid)) << "the name reads back as the id";
        EXPECT_EQ(name.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-_.%"),
                  std::string::npos);
        EXPECT_EQ(name.find(".."), std::string::npos);
        EXPECT_NE(name.front(), '.');
        EXPECT_NE(name.back(), '.');
        CStringW url, path;
        ASSERT_EQ(BuildRelatedVideosRequest(vid, 4, url, path), 0);
        std::filesystem::path native = platform::ToNativePath(path);
        EXPECT_EQ(native.parent_path(), std::filesystem::path(env.dir().path()) / "Xml") << native;
    }
    // The id stays one query value, and never reads as a directive of the URL template.
    CStringW url, path;
    ASSERT_EQ(BuildRelatedVideosRequest(L"a%sb&pz=99#x y", 4, url, path), 0);
    EXPECT_NE(url.Find(L"&vid=a%25sb%26pz=99%23x%20y&pz=4&"), -1) << url.GetString();

    // The service's own ids, made hostile.
    env.service().QueueFault("badvid", 1, "cid=92");
    ASSERT_EQ(ShowMe(&g_listOriginal, 1), 0);
    ASSERT_FALSE(GetItems(&g_listOriginal).empty());
    CStringW vid = GetItems(&g_listOriginal)[0].vid;
    EXPECT_EQ(vid.Left(6), L"..\\..\\");
    ASSERT_EQ(BuildRelatedVideosRequest(vid, 4, url, path), 0);
    EXPECT_EQ(std::filesystem::path(platform::ToNativePath(path)).parent_path(),
              std::filesystem::path(env.dir().path()) / "Xml");
}

// Ids that a name-mangling mapping would fold together each keep a cache file of their own.
TEST_F(ListTest, DistinctIdsGiveDistinctFiles) {
    const wchar_t* ids[] = {L"a/b", L"a_b", L"a\\b", L"a..b", L"a__b", L"a.%2Eb", L"", L"_", L"%00",
                            L"视频..1", L"视频__1", L"a%2Fb", L"a b", L"a+b"};
    std::filesystem::remove_all(env.dir().path() + "/Xml");
    std::filesystem::create_directories(env.dir().path() + "/Xml");
    std::vector<CStringW> paths;
    for (const wchar_t* vid : ids) {
        CStringW url, path;
        ASSERT_EQ(BuildRelatedVideosRequest(vid, 4, url, path), 0) << vid;
        paths.push_back(path);
        std::FILE* f = _wfopen(path, L"wb");
        ASSERT_NE(f, nullptr) << vid;
        std::fputs(platform::WideToUtf8(vid).c_str(), f);
        std::fclose(f);
    }
    size_t files = 0;
    for (auto& e : std::filesystem::directory_iterator(env.dir().path() + "/Xml")) files += e.is_regular_file();
    EXPECT_EQ(files, std::size(ids));
    for (size_t i = 0; i < std::size(ids); ++i)
        EXPECT_EQ(nettest::ReadAll(platform::ToNativePath(paths[i])), platform::WideToUtf8(ids[i])) << ids[i];
}

TEST_F(ListTest, UnknownKindIsRefused) {
    VideoList odd(125, L"x", L"y", 100, 0, 0, 10);
    EXPECT_EQ(LoadListPage(&odd, 1), -1);
    EXPECT_GE(env.LogCount("unknown RSS type : 125"), 1);
    EXPECT_EQ(ShowMe(&odd, 1), -1);
    EXPECT_TRUE(env.RequestsWith("/openapi-common/").empty());
}

TEST(ApiHost, SettingAcceptsHostAndPortOnly) {
    CStringW before = GetApiHost();
    for (const wchar_t* good : {L"127.0.0.1:18080", L"api.example.test", L"localhost:1", L"a-b.c:65535"}) {
        EXPECT_EQ(SetApiHost(good), 0) << good;
        EXPECT_EQ(GetApiHost(), CStringW(good));
    }
    for (const wchar_t* bad : {L"", L":80", L"host:", L"host:0", L"host:65536", L"host:8x", L"http://host",
                               L"host/path", L"user@host", L"ho st", L"host:80:81", L"h%73"}) {
        EXPECT_EQ(SetApiHost(bad), -1) << bad;
        EXPECT_EQ(GetApiHost(), CStringW(L"a-b.c:65535"));
    }
    EXPECT_EQ(SetApiHost(nullptr), -1);
    SetApiHost(before);
}

}  // namespace
