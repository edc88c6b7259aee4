// The built program run headless with a script against the sample service, in a program
// folder of its own: what a user sees and leaves behind, and quitting while a load hangs.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sys/wait.h>
#include <string>
#include <vector>

#include "helpers.h"
#include "programRun.h"
#include "serviceFolder.h"

namespace {

namespace fs = std::filesystem;
using nettest::SampleService;
using nettest::TempDir;

using apptest::Service;

const char kHotTarget[] = "/openapi-common/getTopVideos?pid=4f7be1c09a2d6e53&pz=10&pg=1&rt=1&f=8&seg=1&rp=1";

// The built program in a folder of its own, against the one service of this test process
// with its request log emptied.
struct Installed : apptest::InstalledProgram {
    Installed() : InstalledProgram(Service()) { Service().Get("/control/reset"); }
};

using apptest::InstalledProgram;
bool EndedNormally(int status) { return InstalledProgram::EndedNormally(status); }

// An ordinary online start and exit: the home list's answer lands in the cache.
TEST(ProgramRun, OnlineStartWritesTheAnswerCacheAndEndsCleanly) {
    Installed p;
    int status = p.Run("wait idle\nquit\n", 60000);
    EXPECT_TRUE(EndedNormally(status)) << status << "\n" << p.Log() << p.Errors();
    EXPECT_EQ(p.dir().Read("Xml/recommend_1.xml"), Service().Get(kHotTarget));
    EXPECT_TRUE(fs::is_directory(p.dir().path() + "/Image"));
    EXPECT_TRUE(fs::is_directory(p.dir().path() + "/Res"));
    EXPECT_EQ(p.Log().find("ERROR"), std::string::npos) << p.Log();
}

std::vector<std::string> ImageFiles(const InstalledProgram& p) {
    std::vector<std::string> out;
    for (auto& e : fs::directory_iterator(p.dir().path() + "/Image")) out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
}

// `wait idle` waits for the thumbnails of the first screen however slowly they come: each
// one asked for is stored before the script goes on to quit.
TEST(ProgramRun, WaitIdleWaitsForTheThumbnailsInFlight) {
    Installed p;
    Service().QueueFault("delay:1500", 100, "/img/");
    int status = p.Run("wait idle\nquit\n", 60000);
    EXPECT_TRUE(EndedNormally(status)) << status << "\n" << p.Log() << p.Errors();
    std::vector<std::string> want;
    for (const std::string& target : apptest::RequestsTo(Service(), "/img/"))
        want.push_back(target.substr(target.rfind('/') + 1));
    std::sort(want.begin(), want.end());
    ASSERT_FALSE(want.empty());
    EXPECT_EQ(ImageFiles(p), want);
}

// A `wait idle` that runs out ends the run at once with status 3, naming its line and what
// the program was still doing.
TEST(ProgramRun, AWaitIdleThatRunsOutEndsTheRunNamingTheLineAndWhatIsUnderWay) {
    Installed p;
    Service().QueueFault("delay:60000", 1, "getTopVideos");
    int elapsed = 0;
    int status = p.Run("# the home list hangs\nwait idle 1500\nquit\n", 60000, "480x800", &elapsed);
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 3);
    EXPECT_NE(p.Errors().find("Lumeo: script line 2: wait idle: still busy after 1500 ms (start-up)"), std::string::npos)
        << p.Errors();
    EXPECT_LT(elapsed, 20000);
}

// Pulling the list past its end loads the next page behind the wait dialog; a list that
// the service has no more of asks for nothing.
TEST(ProgramRun, DraggingPastTheEndLoadsTheNextPage) {
    Installed p;
    std::string drags;
    for (int i = 0; i < 3; ++i) drags += "drag 240 650 240 150 300\nwait idle\n";
    int status = p.Run("wait idle\n" + drags + "quit\n", 60000);
    EXPECT_TRUE(EndedNormally(status)) << status << "\n" << p.Log();
    std::vector<std::string> pages;
    for (auto& line : Service().Requests())
        if (line.rfind("GET /openapi-common/getTopVideos", 0) == 0) pages.push_back(line);
    ASSERT_GE(pages.size(), 2u);
    EXPECT_EQ(pages[0], std::string("GET ") + kHotTarget);
    EXPECT_EQ(pages[1], "GET /openapi-common/getTopVideos?pid=4f7be1c09a2d6e53&pz=10&pg=2&rt=1&f=8&seg=1&rp=1");
    EXPECT_TRUE(p.dir().Exists("Xml/recommend_2.xml"));

    // An answer without a total ends the list with its first page.
    Installed q;
    Service().QueueFault("nototal", 1, "getTopVideos");
    status = q.Run("wait idle\n" + drags + "quit\n", 60000);
    EXPECT_TRUE(EndedNormally(status)) << status << "\n" << q.Log();
    pages.clear();
    for (auto& line : Service().Requests())
        if (line.rfind("GET /openapi-common/getTopVideos", 0) == 0) pages.push_back(line);
    EXPECT_EQ(pages, std::vector<std::string>{std::string("GET ") + kHotTarget});
}

struct StallCase {
    const char* name;
    std::vector<std::pair<std::string, int>> faults;  // mode and count
    const char* script;                               // up to the stall
    size_t stalled;                                   // requests seen once the stalled one is under way
    const char* match = "getTopVideos";               // the requests the faults are for
};

class QuitWhileStalled : public testing::TestWithParam<StallCase> {};

// Quitting while a list load hangs on a slow server ends the program at once, cleanly.
TEST_P(QuitWhileStalled, EndsAtOnce) {
    const StallCase& c = GetParam();
    Installed p;
    for (auto& [mode, count] : c.faults) Service().QueueFault(mode, count, c.match);
    std::string match = std::string("GET ") + (c.match[0] == '/' ? "" : "/openapi-common/") + c.match;
    // Quit once the service holds the stalled request.
    std::string stalled = p.Gate([&] {
        size_t n = 0;
        for (const std::string& line : Service().Requests()) n += line.rfind(match, 0) == 0;
        return n >= c.stalled;
    });
    int elapsed = 0;
    int status = p.Run(c.script + stalled + "quit\n", 60000, "480x800", &elapsed);
    EXPECT_TRUE(EndedNormally(status)) << status << "\n" << p.Log();
    // The answer is a minute away; ending does not wait for it.
    EXPECT_LT(elapsed, 20000);
}

INSTANTIATE_TEST_SUITE_P(
    Loads, QuitWhileStalled,
    testing::Values(StallCase{"StartUp", {{"delay:60000", 1}}, "", 1},
                    // The home list is unreadable at start-up; the home tab then loads it behind the dialog.
                    StallCase{"WaitDialog", {{"malformed", 1}, {"delay:60000", 1}}, "wait idle\nkey ctrl+1\n", 2},
                    // Every thumbnail of the home list hangs.
                    StallCase{"Thumbnails", {{"delay:60000", 100}}, "", 1, "/img/"}),
    [](const testing::TestParamInfo<StallCase>& i) { return std::string(i.param.name); });

// Thumbnails that fail or are cut short leave no file that a later offline start would take
// for a picture.
TEST(ProgramRun, FailedThumbnailsLeaveNoFiles) {
    Installed p;
    for (const char* fault : {"drop", "status:404"}) {
        SCOPED_TRACE(fault);
        Service().Get("/control/reset");
        Service().QueueFault(fault, 100, "/img/");
        EXPECT_TRUE(EndedNormally(p.Run("wait idle\nquit\n", 60000))) << p.Log() << p.Errors();
        EXPECT_FALSE(Service().Requests().empty());
        std::vector<std::string> left;
        for (auto& e : fs::directory_iterator(p.dir().path() + "/Image")) left.push_back(e.path().filename().string());
        EXPECT_EQ(left, std::vector<std::string>{});
    }
}

}  // namespace
