// The example scripts of docs/examples, each run by the built program against the sample
// service on the 480x800 screen as the pages tell a reader to run it; what each says it does
// is checked from outside: the requests the service saw, the registry file, the logs and the
// screenshots' pixels.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "docs.h"
#include "helpers.h"
#include "programRun.h"

namespace {

namespace fs = std::filesystem;
using apptest::RequestsTo;
using apptest::Shot;

const char* const kExamples[] = {"tour", "home", "search", "help", "lists", "scroll", "play", "update"};

const std::string kPid = "pid=4f7be1c09a2d6e53";
const std::string kTail = "&rt=1&f=8&seg=1&rp=1";

// An example run in a sandbox of its own against a sample service of its own.
struct ExampleRun {
    docs::Sandbox box;
    nettest::SampleService service;
    int status = 0;
    std::string output;

    // `then`: shell commands after the program's end, before what it started is stopped.
    explicit ExampleRun(const std::string& name, const std::vector<std::string>& serviceArgs = {},
                        const std::string& then = "")
        : service(serviceArgs) {
        status = box.Run("build/normal/dist/Lumeo --script docs/examples/" + name + ".script --api-host " +
                             service.host() + "\n" + then,
                         {}, 120000, &output);
    }
    Shot Screenshot(const std::string& name) const { return Shot(box.path() + "/build/" + name); }
    std::string Log() const { return box.Read("build/normal/dist/Log/Lumeo_log_0.txt"); }
    std::string Describe() const { return "status " + std::to_string(status) + "\n" + output + "\n" + Log(); }
};

// The first videos of the home list as the service lists them.
std::vector<std::string> HotVids(const nettest::SampleService& service, const std::string& field = "vid") {
    std::string body = service.Get("/openapi-common/getTopVideos?" + kPid + "&pz=10&pg=1" + kTail);
    std::vector<std::string> out;
    std::regex item("<" + field + ">([^<]*)</" + field + ">");
    for (auto it = std::sregex_iterator(body.begin(), body.end(), item); it != std::sregex_iterator(); ++it)
        out.push_back((*it)[1].str());
    return out;
}

// How far the list rows between `top` and `bottom` moved up from `before` to `after`: the
// smallest shift that lines the two pictures up exactly; -1 when none does.
int ShiftUp(const Shot& before, const Shot& after, int top, int bottom) {
    for (int d = 1; d < bottom - top - 20; ++d) {
        bool same = true;
        for (int y = top; same && y + d < bottom; ++y)
            for (int x = 0; same && x < 470; x += 3) same = after.At(x, y) == before.At(x, y + d);
        if (same) return d;
    }
    return -1;
}

TEST(Examples, AreTheOnesTheseTestsRun) {
    std::set<std::string> found, listed;
    for (const auto& e : fs::directory_iterator(docs::SourceDir() + "/docs/examples")) found.insert(e.path().filename().string());
    for (const char* name : kExamples) listed.insert(std::string(name) + ".script");
    EXPECT_EQ(found, listed);
}

TEST(Examples, TourOpensTheFirstVideosDetailsAndTheMostFavouredOfThisWeek) {
    ExampleRun run("tour");
    ASSERT_EQ(run.status, 0) << run.Describe();
    std::vector<std::string> vids = HotVids(run.service);
    ASSERT_FALSE(vids.empty());
    EXPECT_EQ(RequestsTo(run.service, "/openapi-common/relatedVideos"),
              std::vector<std::string>{"/openapi-common/relatedVideos?" + kPid + "&vid=" + vids[0] + "&pz=5" + kTail});
    EXPECT_EQ(RequestsTo(run.service, "/openapi-common/getVideosOrderByFav"),
              (std::vector<std::string>{"/openapi-common/getVideosOrderByFav?" + kPid + "&pg=1&pz=10&rt=1&f=8&pd=1&seg=1&rp=1",
                                        "/openapi-common/getVideosOrderByFav?" + kPid + "&pg=1&pz=10&rt=1&f=8&pd=2&seg=1&rp=1"}));
    Shot home = run.Screenshot("tour-home.png"), detail = run.Screenshot("tour-detail.png"),
         ranking = run.Screenshot("tour-ranking.png");
    ASSERT_TRUE(home.ok() && detail.ok() && ranking.ok()) << run.Describe();
    EXPECT_GT(home.DarkIn(130, 150, 440, 250), 100);  // the first row's texts
    EXPECT_EQ(detail.At(470, 300), 0xEFEFEF);        // the detail page
    // 本周 is the current period tab, white among the light blue ones.
    EXPECT_EQ(ranking.At(318, 112), 0xFFFFFF);
    EXPECT_EQ(ranking.At(250, 112), 0xD1E9FC);
}

TEST(Examples, HomeIsThePictureAtTheTopOfTheReadme) {
    ExampleRun run("home");
    ASSERT_EQ(run.status, 0) << run.Describe();
    Shot now = run.Screenshot("home.png"), committed(docs::SourceDir() + "/docs/home.png");
    ASSERT_TRUE(now.ok() && committed.ok()) << run.Describe();
    int differ = 0;
    for (int y = 0; y < 800; ++y)
        for (int x = 0; x < 480; ++x) differ += now.At(x, y) != committed.At(x, y);
    // Every thumbnail in sight is in, the rows 101 pixels apart.
    for (int y = 198; y < 640; y += 101) EXPECT_GT(now.DarkIn(130, y - 45, 440, y + 45), 100) << y;
    EXPECT_LT(differ, 480 * 800 / 200) << "docs/home.png is not what docs/examples/home.script shows now; run it "
                                          "against the sample service and commit its build/home.png as docs/home.png";
}

TEST(Examples, SearchSendsTheWordsTheHistoryRowSearchesAgainAndClearEmptiesIt) {
    ExampleRun run("search");
    ASSERT_EQ(run.status, 0) << run.Describe();
    const std::string search = "/openapi-common/searchVideos?" + kPid + "&keyword=";
    const std::string city = "%E5%9F%8E%E5%B8%82+%E6%97%A9%E9%AB%98%E5%B3%B0", music = "%E9%9F%B3%E4%B9%90",
                      football = "%E8%B6%B3%E7%90%83";
    const std::string tail = "&pg=1&pz=10" + kTail;
    EXPECT_EQ(RequestsTo(run.service, "/openapi-common/searchVideos"),
              (std::vector<std::string>{search + city + tail, search + music + tail, search + football + tail,
                                        search + city + tail}));
    ASSERT_TRUE(fs::exists(run.box.RegistryFile()));
    EXPECT_TRUE(apptest::RegistryTextsIn(run.box.RegistryFile(), "Software\\Lumeo\\History\\SearchWord").empty());
    Shot history = run.Screenshot("search-history.png"), cleared = run.Screenshot("search-cleared.png");
    ASSERT_TRUE(history.ok() && cleared.ok()) << run.Describe();
    // A word in each history row before 清空, nothing after it.
    for (int y : {341, 389, 437}) {
        EXPECT_GT(history.DarkIn(30, y - 20, 300, y + 20), 50) << y;
        EXPECT_EQ(cleared.DarkIn(30, y - 20, 300, y + 20), 0) << y;
    }
}

TEST(Examples, HelpShowsTheQuestionsAnAnswerAndAbout) {
    ExampleRun run("help");
    ASSERT_EQ(run.status, 0) << run.Describe();
    Shot questions = run.Screenshot("help-questions.png"), answer = run.Screenshot("help-answer.png"),
         about = run.Screenshot("about.png");
    ASSERT_TRUE(questions.ok() && answer.ok() && about.ok()) << run.Describe();
    for (int n = 0; n < 7; ++n) EXPECT_GT(questions.DarkIn(15, 182 + 66 * n, 465, 212 + 66 * n), 50) << n;
    EXPECT_EQ(questions.At(470, 400), 0xFFFFFF);  // no scroll bar on the questions
    EXPECT_GT(answer.DarkIn(15, 150, 455, 300), 50);
    EXPECT_NE(answer.At(470, 400), 0xFFFFFF);  // the answer's scroll bar
    EXPECT_GT(about.DarkIn(15, 150, 465, 300), 50);
}

TEST(Examples, ListsLoadAChannelItsNextPageAndARankingsMonth) {
    ExampleRun run("lists");
    ASSERT_EQ(run.status, 0) << run.Describe();
    const std::string channel = "/openapi-common/listChannelVideos?" + kPid + "&cid=92&pg=";
    EXPECT_EQ(RequestsTo(run.service, "/openapi-common/listChannelVideos"),
              (std::vector<std::string>{channel + "1&pz=10" + kTail, channel + "2&pz=10" + kTail}));
    const std::string pv = "/openapi-common/getVideosOrderByPv?" + kPid + "&pg=1&pz=10&rt=1&f=8&pd=";
    EXPECT_EQ(RequestsTo(run.service, "/openapi-common/getVideosOrderByPv"),
              (std::vector<std::string>{pv + "1&seg=1&rp=1", pv + "3&seg=1&rp=1"}));
    Shot month = run.Screenshot("lists-month.png");
    ASSERT_TRUE(month.ok()) << run.Describe();
    EXPECT_EQ(month.At(430, 112), 0xFFFFFF);  // 本月 is the current period tab
    EXPECT_EQ(month.At(318, 112), 0xD1E9FC);
}

TEST(Examples, ScrollGlidesOnPastTheFlick) {
    ExampleRun run("scroll");
    ASSERT_EQ(run.status, 0) << run.Describe();
    Shot before = run.Screenshot("scroll-before.png"), after = run.Screenshot("scroll-after.png");
    ASSERT_TRUE(before.ok() && after.ok()) << run.Describe();
    int moved = ShiftUp(before, after, 150, 670);
    EXPECT_GT(moved, 150) << "the stylus moved 150 pixels";
    // It glided within the page: no next page asked for.
    EXPECT_EQ(RequestsTo(run.service, "/openapi-common/getTopVideos").size(), 1u);
}

TEST(Examples, PlayHandsTheFirstVideoToThePlayerCore) {
    ExampleRun run("play");
    ASSERT_EQ(run.status, 0) << run.Describe();
    std::vector<std::string> titles = HotVids(run.service, "title"), vids = HotVids(run.service);
    ASSERT_FALSE(titles.empty());
    // The play is under way once the core has its first packet: the request is logged and
    // the video's first FLV segment was asked for.
    std::string log = run.box.Read("build/normal/dist/Log/player_log.txt");
    EXPECT_NE(log.find("request \"" + titles[0] + "\" segments="), std::string::npos) << log;
    EXPECT_GE(RequestsTo(run.service, "/media/" + vids[0] + "/1/seg1.flv").size(), 1u);
}

TEST(Examples, UpdateInstallsTheOfferedPackage) {
    // The installer runs once the program has ended and the updater has waited for it.
    ExampleRun run("update", {"--update-type", "2"},
                   "timeout 60 sh -c 'until [ -s build/normal/dist/version.txt ]; do sleep 0.1; done'");
    ASSERT_EQ(run.status, 0) << run.Describe();
    std::string installed = run.box.Read("build/normal/dist/version.txt");
    EXPECT_EQ(installed.substr(0, installed.find_last_not_of("\r\n") + 1), "v1.01.16.00001");
    EXPECT_NE(run.box.Read("build/normal/dist/Log/wceload.txt").find("Lumeo_v1.01.16.00001.CAB: installed 1 files"),
              std::string::npos);
    EXPECT_EQ(RequestsTo(run.service, "/packages/").size(), 1u);
}

}  // namespace
