// The detail page run in-process against the sample web service: the page for a video, its
// related-videos request and cache, answers that fail, offline, the rows and their taps;
// and the related rows' geometry and the description's cleaning on their own.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <regex>
#include <string>

#include "../netclient/helpers.h"
#include "detailPage.h"
#include "download.h"
#include "entryGlobals.h"
#include "gif.h"
#include "listview.h"
#include "log.h"
#include "lumeo.h"
#include "player.h"
#include "program.h"
#include "skin.h"
#include "tools.h"
#include "platform/codepage.h"
#include "platform/gdi.h"
#include "platform/ui.h"

using namespace apptest;

namespace {

// ---- The description and the row geometry ----

TEST(DetailPage, DescriptionLosesTabsRunsOfBlanksAndLineBreaks) {
    struct Case {
        const wchar_t* in;
        const wchar_t* out;
    } cases[] = {
        {L"a\t\tb  c\r\nd", L"a b cd"},
        {L"  lead and trail  ", L" lead and trail "},
        {L"一\n二\r三", L"一二三"},
        {L"\t", L" "},
        {L"", L""},
        {L"a \r\n b", L"a  b"},  // the blanks meet only once the line break is gone
    };
    for (const Case& c : cases) EXPECT_EQ(std::wstring(CleanDescription(c.in).GetString()), c.out) << c.in;
}

class RelatedRows : public testing::Test {
protected:
    void SetUp() override {
        saved_ = g_skin;
        savedOrientation_ = g_orientation;
        savedMode_ = g_dtlViewMode;
        g_relVideos.assign(7, VideoItem{});
        g_skin.relatedRowsPortrait = 5;
        g_skin.relatedRowsLandscape = 4;
        DetailLayout& d = g_skin.detail;
        d.relatedStart = POINT{10, 300};
        d.relatedWidth = 400;
        d.relatedRowHeight = 23;
        d.relatedGap = 5;
    }
    void TearDown() override {
        g_skin = saved_;
        g_orientation = savedOrientation_;
        g_dtlViewMode = savedMode_;
        g_relVideos.clear();
    }
    Skin saved_;
    int savedOrientation_, savedMode_;
};

TEST_F(RelatedRows, WideLayoutInPortraitHasOneColumnOfAsManyRowsAsItShows) {
    g_skin.wideDetail = 1;
    g_orientation = 1;
    g_dtlViewMode = 1;
    RECT r;
    for (int i = 0; i < 5; ++i) {
        ASSERT_EQ(GetRelatedRowRect(i, &r, nullptr), 1) << i;
        EXPECT_EQ(r.left, 10);
        EXPECT_EQ(r.top, 300 + 28 * i);
        EXPECT_EQ(r.right, 410);
        EXPECT_EQ(r.bottom, 323 + 28 * i);
    }
    EXPECT_EQ(GetRelatedRowRect(5, &r, nullptr), 0);
    EXPECT_EQ(GetRelatedRowRect(-1, &r, nullptr), 0);
    // A point inside row 3, on its last pixel, and in the gap below it.
    POINT in{200, 300 + 28 * 3 + 10}, last{409, 322 + 28 * 3}, gap{200, 323 + 28 * 3};
    EXPECT_EQ(GetRelatedRowRect(3, &r, &in), 1);
    EXPECT_EQ(GetRelatedRowRect(3, &r, &last), 1);
    EXPECT_EQ(GetRelatedRowRect(3, &r, &gap), 0);
    // Fewer videos than rows: only those rows exist.
    g_relVideos.resize(2);
    EXPECT_EQ(GetRelatedRowRect(1, &r, nullptr), 1);
    EXPECT_EQ(GetRelatedRowRect(2, &r, nullptr), 0);
}

TEST_F(RelatedRows, WideLayoutInLandscapeHasTwoColumns) {
    g_skin.wideDetail = 1;
    g_orientation = 2;
    RECT r;
    struct Case {
        int index, left, top;
    } cases[] = {{0, 10, 300}, {1, 415, 300}, {2, 10, 328}, {3, 415, 328}};
    for (const Case& c : cases) {
        ASSERT_EQ(GetRelatedRowRect(c.index, &r, nullptr), 1) << c.index;
        EXPECT_EQ(r.left, c.left) << c.index;
        EXPECT_EQ(r.top, c.top) << c.index;
        EXPECT_EQ(r.right - r.left, 400);
        EXPECT_EQ(r.bottom - r.top, 23);
    }
    EXPECT_EQ(GetRelatedRowRect(4, &r, nullptr), 0);
}

TEST_F(RelatedRows, NarrowLayoutShowsRowsOnlyOncePlaybackHasStarted) {
    g_skin.wideDetail = 0;
    for (int orientation : {1, 2}) {
        g_orientation = orientation;
        g_dtlViewMode = 1;
        RECT r;
        POINT p{20, 310};
        EXPECT_EQ(GetRelatedRowRect(0, &r, nullptr), 0) << orientation;
        EXPECT_EQ(GetRelatedRowRect(0, &r, &p), 0) << orientation;
        g_dtlViewMode = 2;
        ASSERT_EQ(GetRelatedRowRect(1, &r, nullptr), 1) << orientation;
        EXPECT_EQ(r.left, 10);
        EXPECT_EQ(r.top, 328);
        EXPECT_EQ(GetRelatedRowRect(0, &r, &p), 1);
    }
}

// ---- The page in the program ----

// The program folder of a test, the sample service it talks to, and message boxes answered.
struct Env {
    nettest::TempDir dir;
    nettest::SampleService service;
    explicit Env(const std::vector<std::string>& args = {}) : service(args) {
        std::filesystem::create_directories(dir.path() + "/Xml");
        std::filesystem::create_directories(dir.path() + "/Image");
        SetApiHost(platform::Utf8ToWide(service.host()).c_str());
        platform::ui::ClearMessageBoxHistory();
        platform::ui::SetMessageBoxHook([](HWND, const std::wstring&, const std::wstring&, UINT) { return IDOK; });
    }
    ~Env() { platform::ui::SetMessageBoxHook(nullptr); }
    // Lines of the program's log (in its folder, see StartUp) that hold `text`.
    int LogCount(const std::string& text) const { return nettest::CountInLog(dir.path() + "/Log/Lumeo_log_0.txt", text); }
    std::string CacheFile(const std::wstring& vid) const {
        return dir.path() + "/Xml/RelVideo_" + platform::WideToUtf8(vid) + ".xml";
    }
    // The program's related-videos requests for `vid` (all of them when empty), each with
    // its header lines.
    std::vector<std::vector<std::string>> RelatedRequestsWithHeaders(const std::wstring& vid = L"") const {
        std::vector<std::vector<std::string>> out;
        std::string want = "GET /openapi-common/relatedVideos?";
        bool in = false;
        for (const std::string& line : service.Requests()) {
            if (line.rfind("GET ", 0) == 0) {
                in = line.rfind(want, 0) == 0 && line.find(kProbe) == std::string::npos &&
                     (vid.empty() || line.find("&vid=" + platform::WideToUtf8(vid) + "&") != std::string::npos);
                if (in) out.push_back({line});
            } else if (in) {
                out.back().push_back(line);
            }
        }
        return out;
    }
    std::vector<std::string> RelatedRequests(const std::wstring& vid = L"") const {
        std::vector<std::string> out;
        for (const auto& r : RelatedRequestsWithHeaders(vid)) out.push_back(r[0]);
        return out;
    }
    // Marks the test's own look at the service's answers.
    static constexpr const char* kProbe = "&probe=test";
    // The video ids of the service's own related answer for `vid`.
    std::vector<std::wstring> ServiceRelated(const std::wstring& vid, int pz) const {
        std::string body = service.Get("/openapi-common/relatedVideos?pid=4f7be1c09a2d6e53&vid=" +
                                       platform::WideToUtf8(vid) + "&pz=" + std::to_string(pz) +
                                       "&rt=1&f=8&seg=1&rp=1" + kProbe);
        std::vector<std::wstring> out;
        std::regex item("<vid>([^<]*)</vid>");
        for (auto it = std::sregex_iterator(body.begin(), body.end(), item); it != std::sregex_iterator(); ++it)
            out.push_back(platform::Utf8ToWide((*it)[1].str()));
        return out;
    }
};

void CloseProgram() { PostMessageW(g_hFrame, WM_CLOSE, 0, 0); }

void RunOnce(int width, int height, std::function<void()> driver) {
    bool ran = false;
    RunProgram(width, height, [&] {
        ran = true;
        driver();
    });
    ASSERT_TRUE(ran) << "the program did not start; run one test per process";
}

// The test's own program folder, with the log there.
void UseFolder(const Env& env) {
    OnUi([&] {
        std::wstring dir = env.dir.wpath();
        wcsncpy(g_appDir, dir.c_str(), APP_DIR_LEN - 1);
        std::filesystem::create_directories(env.dir.path() + "/Log");
        InitLog((dir + L"\\Log\\").c_str(), L"Lumeo", 3);
    });
}

// What the init thread does before the pages are used: the program folder, then the home list.
void StartUp(const Env& env) {
    UseFolder(env);
    OnUi([&] {
        ASSERT_EQ(ShowMe(&g_listHot, 1), 0);
        ASSERT_GE(g_listHot.items.size(), 3u);
        g_curList = &g_listHot;
    });
    FinishInit();
}

VideoItem HotItem(size_t i) {
    VideoItem v;
    OnUi([&] { v = g_listHot.items[i]; });
    return v;
}

// Opens the page as the list view's tap does, and waits for the related videos.
void OpenDetail(const VideoItem& v, bool wait = true) {
    OnUi([&] {
        g_curVideo = v;
        g_dtlOpenMode = 1;
        g_dtlViewMode = 1;
        EXPECT_EQ(ShowDtlInfo(g_hListWnd), 0);
    });
    if (wait) {
        EXPECT_TRUE(WaitOnUi([] { return RelVideoThreadsRunning() == 0; }));
        Idle();
    }
}

std::vector<std::wstring> ShownRelated() {
    std::vector<std::wstring> out;
    OnUi([&] {
        for (const VideoItem& v : g_relVideos) out.push_back(std::wstring(v.vid.GetString()));
    });
    return out;
}

// Whether text was drawn in a rectangle of the page: enough pixels darker than mid-grey.
bool HasText(const RECT& r) {
    int n = 0;
    for (int y = r.top; y < r.bottom; ++y)
        for (int x = r.left; x < r.right; x += 2) {
            COLORREF c = ScreenPixelIn(g_hDtlWnd, x, y);
            if (GetRValue(c) + GetGValue(c) + GetBValue(c) < 3 * 100 && ++n > 10) return true;
        }
    return false;
}

TEST(DetailPage, OpensWithTheVideoAndFetchesItsRelatedVideosOnceIntoTheCache) {
    Env env;
    RunOnce(480, 800, [&] {
        StartUp(env);
        VideoItem v = HotItem(0);
        OpenDetail(v);
        OnUi([] {
            EXPECT_EQ(g_curPage, g_hDtlWnd);
            EXPECT_TRUE(IsWindowVisible(g_hDtlWnd));
            EXPECT_EQ(g_menuBar.nToolBarId, 503u);
            EXPECT_EQ(g_relLoading, 0);
            EXPECT_EQ(g_relSel, -1);
        });
        // pz is the larger of the two orientations' row counts: 5 on this screen.
        std::string expected = "GET /openapi-common/relatedVideos?pid=4f7be1c09a2d6e53&vid=" +
                               platform::WideToUtf8(v.vid.GetString()) + "&pz=5&rt=1&f=8&seg=1&rp=1";
        auto requests = env.RelatedRequestsWithHeaders();
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_EQ(requests[0][0], expected);
        // Sent without the device's user-agent text: only the sessions' own agent name.
        int agents = 0;
        for (const std::string& line : requests[0])
            if (line.find("User-Agent:") != std::string::npos) {
                ++agents;
                EXPECT_EQ(line, "  User-Agent: Lumeo Client: Windows Mobile; Windows Phone");
            }
        EXPECT_LE(agents, 1);
        EXPECT_TRUE(std::filesystem::exists(env.CacheFile(v.vid.GetString())));
        std::vector<std::wstring> related = env.ServiceRelated(v.vid.GetString(), 5);
        ASSERT_EQ(related.size(), 5u);
        EXPECT_EQ(ShownRelated(), related);

        // Its rows are drawn: five in portrait on this layout, text in each.
        OnUi([] {
            for (int i = 0; i < 5; ++i) {
                RECT r;
                ASSERT_EQ(GetRelatedRowRect(i, &r, nullptr), 1);
                EXPECT_TRUE(HasText(r)) << i;
            }
            RECT title{g_skin.detail.title.x, g_skin.detail.title.y, g_skin.detail.title.x + g_skin.detail.title.w,
                       g_skin.detail.title.y + g_skin.detail.title.h};
            EXPECT_TRUE(HasText(title));
            // Page colour, the separator line of the wide layout.
            EXPECT_EQ(ScreenPixelIn(g_hDtlWnd, 2, g_skin.detail.separatorY - 2), RGB(0xEF, 0xEF, 0xEF));
            EXPECT_EQ(ScreenPixelIn(g_hDtlWnd, 2, g_skin.detail.separatorY), RGB(0x66, 0xBA, 0xF6));
        });

        // Back, and the same video again: the cached answer, no second request.
        Command(g_hFrame, IDM_DETAIL_BACK);
        OnUi([] { EXPECT_EQ(g_curPage, g_hListWnd); });
        OpenDetail(v);
        EXPECT_EQ(env.RelatedRequests().size(), 1u);
        EXPECT_EQ(ShownRelated(), related);
        CloseProgram();
    });
}

TEST(DetailPage, AnotherVideoOpenedWhileTheFirstLoadsWinsOverTheLateAnswer) {
    Env env;
    RunOnce(480, 800, [&] {
        StartUp(env);
        VideoItem a = HotItem(0), b = HotItem(1);
        env.service.QueueFault("delay:1500", 1, "vid=" + platform::WideToUtf8(a.vid.GetString()));
        OpenDetail(a, false);
        // A's request is on its way (its answer comes late) when B is opened.
        for (int i = 0; i < 500 && env.RelatedRequests(a.vid.GetString()).empty(); ++i) Sleep(10);
        OpenDetail(b);
        EXPECT_EQ(env.RelatedRequests(a.vid.GetString()).size(), 1u);
        EXPECT_EQ(env.RelatedRequests(b.vid.GetString()).size(), 1u);
        OnUi([&] {
            EXPECT_EQ(g_curVideo.vid, b.vid);
            EXPECT_EQ(g_relLoading, 0);
        });
        EXPECT_EQ(ShownRelated(), env.ServiceRelated(b.vid.GetString(), 5));
        // The late answer is still a good one: it is cached for the next time.
        EXPECT_TRUE(std::filesystem::exists(env.CacheFile(a.vid.GetString())));
        CloseProgram();
    });
}

struct AnimationCase {
    const char* name;
    int width, height;
    bool plays;  // the layout shows the related list while it loads
};

class LoadingAnimation : public testing::TestWithParam<AnimationCase> {};

TEST_P(LoadingAnimation, RunsWhileTheRelatedListLoadsWhereTheListIsShown) {
    const AnimationCase c = GetParam();
    Env env;
    RunOnce(c.width, c.height, [&] {
        StartUp(env);
        VideoItem v = HotItem(0);
        env.service.QueueFault("delay:1500", 1, "relatedVideos");
        OpenDetail(v, false);
        for (int i = 0; i < 500 && env.RelatedRequests().empty(); ++i) Sleep(10);
        Sleep(300);  // a few frames
        OnUi([&] {
            EXPECT_EQ(g_relLoading, 1);
            EXPECT_EQ(g_dtlGif.playing, c.plays ? 1 : 0);
            if (c.plays) {
                EXPECT_EQ(g_dtlGif.drawX.load(), g_skin.detail.loadingPos.x);
                EXPECT_EQ(g_dtlGif.drawY.load(), g_skin.detail.loadingPos.y);
                // The animation's frame is on the page, over its grey.
                int x = g_skin.detail.loadingPos.x, y = g_skin.detail.loadingPos.y;
                bool drawn = false;
                for (int dy = 0; dy < g_dtlGif.screenHeight && !drawn; ++dy)
                    for (int dx = 0; dx < g_dtlGif.screenWidth && !drawn; ++dx)
                        drawn = ScreenPixelIn(g_hDtlWnd, x + dx, y + dy) != RGB(0xEF, 0xEF, 0xEF);
                EXPECT_TRUE(drawn);
            }
        });
        EXPECT_TRUE(WaitOnUi([] { return RelVideoThreadsRunning() == 0; }));
        Idle();
        OnUi([] {
            EXPECT_EQ(g_relLoading, 0);
            EXPECT_EQ(g_dtlGif.playing, 0);
        });
        CloseProgram();
    });
}

INSTANTIATE_TEST_SUITE_P(Layouts, LoadingAnimation,
                         testing::Values(AnimationCase{"WidePortrait", 480, 800, true},
                                         AnimationCase{"WideLandscape", 800, 480, true},
                                         AnimationCase{"NarrowBeforePlayback", 240, 320, false}),
                         [](const testing::TestParamInfo<AnimationCase>& i) { return std::string(i.param.name); });

struct FaultCase {
    const char* name;
    const char* mode;
    int tries;           // requests of one open that meet the fault
    bool fails;          // the answer cannot be used
    const char* logged;  // the line the failure leaves (empty: none)
    int width = 480, height = 800, pz = 5;
};

class RelatedFaults : public testing::TestWithParam<FaultCase> {};

TEST_P(RelatedFaults, AFailedAnswerShowsNoRowsIsNotCachedAndIsAskedForAgain) {
    const FaultCase c = GetParam();
    Env env;
    RunOnce(c.width, c.height, [&] {
        StartUp(env);
        VideoItem v = HotItem(2);
        env.service.QueueFault(c.mode, c.tries, "relatedVideos");
        OpenDetail(v);
        // Loading is over, also where the layout does not show the list yet.
        OnUi([] { EXPECT_EQ(g_relLoading, 0); });
        std::string cache = env.CacheFile(v.vid.GetString());
        if (c.fails) {
            EXPECT_TRUE(ShownRelated().empty());
            EXPECT_FALSE(std::filesystem::exists(cache));
            for (const auto& e : std::filesystem::directory_iterator(env.dir.path() + "/Xml"))
                EXPECT_EQ(e.path().string().find(".part"), std::string::npos) << e.path();
            EXPECT_EQ(env.LogCount(c.logged), 1) << c.logged;
            OpenDetail(v);
            EXPECT_EQ(env.RelatedRequests(v.vid.GetString()).size(), static_cast<size_t>(c.tries) + 1);
            EXPECT_EQ(ShownRelated(), env.ServiceRelated(v.vid.GetString(), c.pz));
        } else {
            EXPECT_TRUE(std::filesystem::exists(cache));
            OpenDetail(v);
            EXPECT_EQ(env.RelatedRequests(v.vid.GetString()).size(), 1u);
        }
        CloseProgram();
    });
}

INSTANTIATE_TEST_SUITE_P(
    SampleServiceFaults, RelatedFaults,
    // A dropped answer and an error answer are failed downloads, tried twice (the
    // download's own retry); the others come whole.
    testing::Values(FaultCase{"ServerError", "status:500", 2, true, "DownloadEx failed"},
                    FaultCase{"Malformed", "malformed", 1, true, "parse xml failed"},
                    FaultCase{"FailStatus", "failstatus", 1, true, "parse xml failed"},
                    FaultCase{"Dropped", "drop", 2, true, "DownloadEx failed"},
                    FaultCase{"Empty", "empty", 1, false, ""},
                    FaultCase{"NoTotal", "nototal", 1, false, ""},
                    FaultCase{"NarrowServerError", "status:500", 2, true, "DownloadEx failed", 240, 320, 3}),
    [](const testing::TestParamInfo<FaultCase>& i) { return std::string(i.param.name); });

TEST(DetailPage, HostileVideoIdsInTheAnswerStayInsideTheProgramFolder) {
    Env env;
    RunOnce(480, 800, [&] {
        StartUp(env);
        VideoItem v = HotItem(0);
        env.service.QueueFault("badvid", 1, "relatedVideos");
        OpenDetail(v);
        std::vector<std::wstring> shown = ShownRelated();
        ASSERT_FALSE(shown.empty());
        EXPECT_NE(shown[0].find(L"evil_"), std::wstring::npos);
        // Nothing was written beside the program folder.
        for (const auto& e : std::filesystem::directory_iterator(std::filesystem::path(env.dir.path()).parent_path()))
            EXPECT_EQ(e.path().filename().string().find("evil_"), std::string::npos) << e.path();
        CloseProgram();
    });
}

TEST(DetailPage, OfflineShowsTheCachedRelatedVideosOrNoneAndAsksNothing) {
    Env env;
    setenv("LUMEO_CONNMGR", "offline", 1);
    RunOnce(480, 800, [&] {
        UseFolder(env);
        FinishInit();
        // One video has its answer cached from an earlier run, the other has none.
        VideoItem cached, bare;
        cached.vid = L"lv3f2a0000";
        cached.title = L"缓存的视频";
        bare.vid = L"lv3f2a092a";
        std::string body = env.service.Get(
            "/openapi-common/relatedVideos?pid=4f7be1c09a2d6e53&vid=lv3f2a0000&pz=5&rt=1&f=8&seg=1&rp=1&probe=test");
        ASSERT_NE(body.find("<status>success</status>"), std::string::npos);
        env.dir.Write("Xml/RelVideo_lv3f2a0000.xml", body);
        OpenDetail(cached);
        EXPECT_EQ(ShownRelated(), env.ServiceRelated(L"lv3f2a0000", 5));
        OnUi([] { EXPECT_EQ(g_curPage, g_hDtlWnd); });
        OpenDetail(bare);
        EXPECT_TRUE(ShownRelated().empty());
        EXPECT_TRUE(env.RelatedRequests().empty());
        EXPECT_TRUE(platform::ui::MessageBoxHistory().empty());
        CloseProgram();
    });
    unsetenv("LUMEO_CONNMGR");
}

TEST(DetailPage, ARelatedRowThatPlaysBecomesThePagesVideoWithItsOwnPictureAndRelatedVideos) {
    Env env;
    RunOnce(480, 800, [&] {
        StartUp(env);
        OpenDetail(HotItem(0));
        VideoItem next;
        RECT row{};
        OnUi([&] {
            ASSERT_GE(g_relVideos.size(), 2u);
            next = g_relVideos[1];
            ASSERT_EQ(GetRelatedRowRect(1, &row, nullptr), 1);
        });
        TapIn(g_hDtlWnd, (row.left + row.right) / 2, (row.top + row.bottom) / 2);
        EXPECT_TRUE(WaitOnUi([] { return RelVideoThreadsRunning() == 0; }));
        EXPECT_TRUE(WaitOnUi([] { return g_dtlPicture != g_skin.picBk; }));
        Idle();
        std::wstring vid = next.vid.GetString();
        OnUi([&] {
            EXPECT_EQ(g_curVideo.vid, next.vid);
            EXPECT_EQ(g_dtlOpenMode, 2);
            EXPECT_EQ(g_relSel, -1);
            EXPECT_EQ(g_curPage, g_hDtlWnd);
            EXPECT_EQ(g_menuBar.nToolBarId, 503u);
            // Its thumbnail was fetched now and is the one drawn.
            EXPECT_NE(g_dtlPicture, g_skin.picBk);
            EXPECT_NE(g_dtlPicture, g_skin.emptyPic);
            const LayoutRect& t = g_skin.detail.thumb;
            EXPECT_NE(ScreenPixelIn(g_hDtlWnd, t.x + t.w / 2, t.y + t.h / 2),
                      PicturePixel(g_skin.emptyPic, t.w / 2, t.h / 2));
        });
        EXPECT_TRUE(std::filesystem::exists(env.dir.path() + "/Image/" + platform::WideToUtf8(vid) + ".jpg"));
        EXPECT_EQ(env.RelatedRequests(vid).size(), 1u);
        EXPECT_EQ(ShownRelated(), env.ServiceRelated(vid, 5));
        // Once the playback's watch is over the page knows a playback has started.
        EXPECT_TRUE(WaitOnUi([] { return g_playBusy == 0 && g_dtlViewMode == 2; }, 10000));
        CloseProgram();
    });
}

int RefusePlay(const char16_t*) { return -1; }

TEST(DetailPage, ARelatedRowThatCannotPlayIsHighlightedAndTheVideoStays) {
    Env env;
    RunOnce(480, 800, [&] {
        StartUp(env);
        VideoItem v = HotItem(0);
        OpenDetail(v);
        RECT row{};
        OnUi([&] { ASSERT_EQ(GetRelatedRowRect(2, &row, nullptr), 1); });
        // A core that refuses the request.
        OnUi([] { FuncPlayVideo = RefusePlay; });
        TapIn(g_hDtlWnd, (row.left + row.right) / 2, (row.top + row.bottom) / 2);
        OnUi([] { FuncPlayVideo = nullptr; });
        EXPECT_EQ(env.LogCount("FuncPlayVideo failed"), 1);
        OnUi([&] {
            EXPECT_EQ(g_relSel, 2);
            EXPECT_EQ(g_curVideo.vid, v.vid);
            EXPECT_EQ(g_playBusy, 0);
            EXPECT_EQ(g_dtlOpenMode, 1);
            EXPECT_EQ(g_curPage, g_hDtlWnd);
            // The highlighted row's text sits on its colour.
            bool highlighted = false;
            for (int x = row.left; x < row.right && !highlighted; ++x)
                highlighted = ScreenPixelIn(g_hDtlWnd, x, (row.top + row.bottom) / 2) == RGB(0xA3, 0xD6, 0xFA);
            EXPECT_TRUE(highlighted);
        });
        // While a playback is being started, a tap only highlights.
        OnUi([] { g_playBusy = 1; });
        OnUi([&] { ASSERT_EQ(GetRelatedRowRect(4, &row, nullptr), 1); });
        TapIn(g_hDtlWnd, (row.left + row.right) / 2, (row.top + row.bottom) / 2);
        OnUi([&] {
            EXPECT_EQ(g_relSel, 4);
            EXPECT_EQ(g_playBusy, 1);
            EXPECT_EQ(g_curVideo.vid, v.vid);
            g_playBusy = 0;
        });
        // Below the rows nothing happens.
        OnUi([&] {
            RECT page;
            GetClientRect(g_hDtlWnd, &page);
            SendMessageW(g_hDtlWnd, WM_LBUTTONDOWN, 0, MAKELPARAM(page.right - 3, page.bottom - 3));
            EXPECT_EQ(g_relSel, 4);
        });
        CloseProgram();
    });
}

TEST(DetailPage, TheThumbnailAndThePlayButtonAskToPlay) {
    Env env;
    RunOnce(480, 800, [&] {
        StartUp(env);
        OpenDetail(HotItem(0));
        OnUi([] {
            RECT button, page;
            GetWindowRect(g_hDtlBtn[0], &button);
            GetWindowRect(g_hDtlWnd, &page);
            EXPECT_EQ(button.left - page.left, g_skin.detail.playBtn.x);
            EXPECT_EQ(button.top - page.top, g_skin.detail.playBtn.y);
            EXPECT_EQ(GetDlgCtrlID(g_hDtlBtn[0]), IDC_DETAIL_PLAY);
            EXPECT_EQ(ScreenPixelIn(g_hDtlBtn[0], 3, 3), PicturePixel(g_skin.detailBtn[1], 3, 3));
        });
        // No core runs here: each attempt builds the play request for the video, and the
        // watch gives the busy state back after its first second.
        auto played = [&](const std::function<void()>& ask) {
            OnUi([] { g_playRequest[0] = g_playRequest[1] = 0; });
            ask();
            EXPECT_TRUE(WaitOnUi([] { return g_playBusy == 0; }, 10000));
            OnUi([] {
                std::u16string duration(g_playRequest), title(g_playRequest + duration.size() + 1);
                EXPECT_EQ(platform::Utf16ToWide(title), g_curVideo.title.str());
            });
        };
        LayoutRect t{};
        OnUi([&] { t = g_skin.detail.thumb; });
        played([&] { TapIn(g_hDtlWnd, t.x, t.y); });  // its corner counts
        RECT b;
        GetClientRect(g_hDtlBtn[0], &b);
        played([&] { TapIn(g_hDtlBtn[0], b.right / 2, b.bottom / 2); });
        played([&] { Command(g_hFrame, IDM_DETAIL_PLAY); });
        OnUi([] { EXPECT_EQ(g_curPage, g_hDtlWnd); });
        CloseProgram();
    });
}

TEST(DetailPage, HoldOpensItsMenuWhoseHelpReturnsToThePage) {
    Env env;
    RunOnce(480, 800, [&] {
        StartUp(env);
        OpenDetail(HotItem(0));
        OnUi([] { ASSERT_NE(g_hDtlPopup, nullptr); });
        POINT p{200, 20};
        ClientToScreen(g_hDtlWnd, &p);
        platform::ui::InjectPenDown(p.x, p.y);
        // The menu's access key 2 is 帮助.
        HWND popup = nullptr;
        for (int i = 0; i < 300 && !popup; ++i) {
            Sleep(10);
            popup = FindWindowW(L"#PopupMenu", nullptr);
        }
        ASSERT_NE(popup, nullptr);
        platform::ui::InjectText(L"2");
        platform::ui::InjectPenUp(p.x, p.y);
        Idle();
        OnUi([] {
            EXPECT_EQ(g_curPage, g_hHlpttWnd);
            EXPECT_EQ(g_returnPage, g_hDtlWnd);
            EXPECT_EQ(g_returnBar, 503);
        });
        Command(g_hFrame, IDM_HELP_BACK);
        OnUi([] {
            EXPECT_EQ(g_curPage, g_hDtlWnd);
            EXPECT_EQ(g_menuBar.nToolBarId, 503u);
        });
        CloseProgram();
    });
}

TEST(DetailPage, NarrowLayoutShowsTheDescriptionAndNoRelatedRowsBeforePlayback) {
    Env env;
    RunOnce(240, 320, [&] {
        StartUp(env);
        VideoItem v = HotItem(0);
        OpenDetail(v);
        EXPECT_EQ(ShownRelated().size(), 3u);  // pz is 3 on this screen
        EXPECT_NE(env.RelatedRequests()[0].find("&pz=3&"), std::string::npos);
        OnUi([] {
            EXPECT_EQ(g_skin.wideDetail, 0);
            RECT r;
            EXPECT_EQ(GetRelatedRowRect(0, &r, nullptr), 0);
            const LayoutRect& d = g_skin.detail.desc;
            RECT desc{d.x, d.y, d.x + d.w, d.y + d.h};
            EXPECT_TRUE(HasText(desc));
            // A tap below the details does nothing.
            SendMessageW(g_hDtlWnd, WM_LBUTTONDOWN, 0, MAKELPARAM(d.x + 5, d.y + 5));
            EXPECT_EQ(g_relSel, -1);
        });
        CloseProgram();
    });
}

// The thumbnail's pixels on the screen, row by row.
std::vector<COLORREF> ThumbnailShown() {
    std::vector<COLORREF> px;
    OnUi([&] {
        const LayoutRect& t = g_skin.detail.thumb;
        for (int y = t.y; y < t.y + t.h; ++y)
            for (int x = t.x; x < t.x + t.w; ++x) px.push_back(ScreenPixelIn(g_hDtlWnd, x, y));
    });
    return px;
}

// After a related video starts, its picture comes through a thumbnail thread: while the
// server holds it back the screen goes on answering and the page shows the new video with
// the placeholder; the picture is drawn once it is there.
TEST(DetailPage, ARelatedVideosPictureIsNotWaitedForOnTheScreensThread) {
    Env env;
    RunOnce(480, 800, [&] {
        StartUp(env);
        OpenDetail(HotItem(0));
        VideoItem next;
        RECT row{};
        bool found = false;
        OnUi([&] {
            // A related video whose picture no list has brought yet.
            for (size_t i = 1; i < g_relVideos.size() && !found; ++i)
                if (GetPicture(&g_downloader, g_relVideos[i].vid) == g_skin.picBk &&
                    GetRelatedRowRect(static_cast<int>(i), &row, nullptr) == 1) {
                    next = g_relVideos[i];
                    found = true;
                }
        });
        ASSERT_TRUE(found);
        std::string picture = "/img/" + platform::WideToUtf8(next.vid.GetString()) + ".jpg";
        env.service.QueueFault("delay:30000", 1, picture);
        POINT p{(row.left + row.right) / 2, (row.top + row.bottom) / 2};
        ClientToScreen(g_hDtlWnd, &p);
        platform::ui::InjectPenDown(p.x, p.y);
        platform::ui::InjectPenUp(p.x, p.y);
        bool asked = false;
        for (int i = 0; i < 3000 && !asked; ++i) {
            for (const std::string& line : env.service.Requests())
                if (line.rfind("GET " + picture, 0) == 0) asked = true;
            if (!asked) Sleep(10);
        }
        ASSERT_TRUE(asked);
        // The service holds the picture back: the screen's thread is free meanwhile.
        OnUi([&] {
            EXPECT_EQ(g_curVideo.vid, next.vid);
            EXPECT_EQ(g_dtlOpenMode, 2);
            EXPECT_EQ(g_dtlPicture, g_skin.picBk);
        });
        Idle();
        std::vector<COLORREF> waiting = ThumbnailShown();
        env.service.Get("/control/release?count=1");
        EXPECT_TRUE(WaitOnUi([] { return g_dtlPicture != g_skin.picBk; }));
        Idle();
        OnUi([] { EXPECT_NE(g_dtlPicture, g_skin.emptyPic); });
        std::vector<COLORREF> arrived = ThumbnailShown();
        size_t changed = 0;
        for (size_t i = 0; i < arrived.size() && i < waiting.size(); ++i) changed += arrived[i] != waiting[i];
        EXPECT_GT(changed, arrived.size() / 2) << "the picture is not drawn";
        EXPECT_TRUE(std::filesystem::exists(env.dir.path() + "/Image/" + platform::WideToUtf8(next.vid.GetString()) +
                                            ".jpg"));
        EXPECT_TRUE(WaitOnUi([] { return RelVideoThreadsRunning() == 0; }));
        CloseProgram();
    });
}

// The loading animation sits on the page's own grey: no box of another colour shows
// around its bar.
TEST(DetailPage, TheLoadingAnimationShowsNoBoxAroundItsBar) {
    Env env;
    RunOnce(480, 800, [&] {
        StartUp(env);
        env.service.QueueFault("delay:60000", 1, "relatedVideos");
        OpenDetail(HotItem(0), false);
        const COLORREF page = RGB(0xEF, 0xEF, 0xEF);
        int checked = 0;
        std::vector<std::string> off;
        // Once the page is painted and a frame of the animation is on it (its bar across the
        // middle row), the rows above and below the bar show the page.
        EXPECT_TRUE(WaitOnUi([&] {
            int x = g_skin.detail.loadingPos.x, y = g_skin.detail.loadingPos.y;
            int w = g_dtlGif.screenWidth, h = g_dtlGif.screenHeight;
            if (!g_dtlGif.playing || w < 3 || h < 3) return false;
            if (ScreenPixelIn(g_hDtlWnd, 2, g_skin.detail.separatorY - 2) != page) return false;
            bool drawn = false;
            for (int dx = 0; dx < w && !drawn; ++dx) drawn = ScreenPixelIn(g_hDtlWnd, x + dx, y + h / 2) != page;
            if (!drawn) return false;
            for (int dy : {0, h - 1})
                for (int dx = 0; dx < w; ++dx) {
                    ++checked;
                    COLORREF c = ScreenPixelIn(g_hDtlWnd, x + dx, y + dy);
                    if (c != page && off.size() < 5)
                        off.push_back(std::to_string(dx) + "," + std::to_string(dy) + ": " + std::to_string(c));
                }
            return true;
        }));
        EXPECT_GT(checked, 0);
        EXPECT_TRUE(off.empty()) << off.front();
        env.service.Get("/control/release?count=1");
        EXPECT_TRUE(WaitOnUi([] { return RelVideoThreadsRunning() == 0; }));
        CloseProgram();
    });
}

}  // namespace
