// Playback end to end: the built program with the player core and its plug-ins in its
// folder, run headless with a script against the sample service, which logs the segment
// requests the core makes; and the refusal offline, in-process. Coordinates are those of
// the 480x800 screen.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "entryGlobals.h"
#include "helpers.h"
#include "log.h"
#include "lumeo.h"
#include "parseXML.h"
#include "player.h"
#include "program.h"
#include "programRun.h"
#include "tools.h"
#include "platform/codepage.h"
#include "platform/ui.h"

namespace {

namespace fs = std::filesystem;
using apptest::InstalledProgram;
using apptest::RequestsTo;
using nettest::SampleService;

const int kListRowY[] = {198, 299, 400};
const char kThumbnail[] = "tap 66 195\n";
const char kPlayButton[] = "tap 66 263\n";
const char kFirstRelated[] = "tap 100 491\n";

const std::string kTop = "/openapi-common/getTopVideos?pid=4f7be1c09a2d6e53&pz=10&pg=1&rt=1&f=8&seg=1&rp=1";

// The core, its plug-ins and the library they share beside the program.
void InstallPlayer(const InstalledProgram& p) {
    std::string dist = LUMEO_TEST_DIST_DIR;
    for (const char* f : {"interface.plg", "splitter.plg", "tagsift.plg", "network.plg", "pixelway.plg",
                          "framelane.plg", "libcommon.so"}) {
        std::error_code ec;
        fs::create_hard_link(dist + "/" + f, p.dir().path() + "/" + f, ec);
        if (ec) fs::copy_file(dist + "/" + f, p.dir().path() + "/" + f);
    }
}

struct Video {
    std::string vid, title;
    std::vector<std::string> flv;  // the targets of its FLV segments, in order
};

// The videos of an answer, as the service lists them.
std::vector<Video> Videos(const std::string& body) {
    std::vector<Video> out;
    std::regex item("<item>([\\s\\S]*?)</item>"), vid("<vid>([^<]*)</vid>"), title("<title>([^<]*)</title>"),
        stream("<stream>([\\s\\S]*?)</stream>"), url("<url>http://[^/]*([^<]*)</url>");
    for (auto it = std::sregex_iterator(body.begin(), body.end(), item); it != std::sregex_iterator(); ++it) {
        std::string text = (*it)[1].str();
        Video v;
        std::smatch m;
        if (std::regex_search(text, m, vid)) v.vid = m[1].str();
        if (std::regex_search(text, m, title)) v.title = m[1].str();
        if (std::regex_search(text, m, stream)) {
            std::string s = m[1].str();
            for (auto u = std::sregex_iterator(s.begin(), s.end(), url); u != std::sregex_iterator(); ++u)
                v.flv.push_back((*u)[1].str());
        }
        out.push_back(v);
    }
    return out;
}

std::vector<std::string> Concat(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The player log's lines without their times.
std::vector<std::string> PlayerLog(const InstalledProgram& p) {
    std::vector<std::string> lines;
    std::string text = p.dir().Read("Log/player_log.txt"), line;
    for (char c : text) {
        if (c != '\n') {
            line += c;
            continue;
        }
        lines.push_back(line.size() > 20 ? line.substr(20) : line);
        line.clear();
    }
    return lines;
}

std::string Tap(int x, int y) { return "tap " + std::to_string(x) + " " + std::to_string(y) + "\n"; }

// Holds the script until the core has logged `lines` lines (its requests and their segments),
// then until the program has let go of the play.
std::string Played(InstalledProgram& p, size_t lines) {
    return p.Gate([&p, lines] { return PlayerLog(p).size() >= lines; }) + "wait idle\n";
}

// Of the first three rows of the home list, the one with the most segments.
int RowWithMostSegments(const std::vector<Video>& hot) {
    int best = 0;
    for (int i = 1; i < 3 && i < static_cast<int>(hot.size()); ++i)
        if (hot[i].flv.size() > hot[best].flv.size()) best = i;
    return best;
}

// The built program with the player core, against a service of its own, and the home list
// the service serves.
class PlayRun : public ::testing::Test {
protected:
    void SetUp() override {
        InstallPlayer(p);
        hot = Videos(service.Get(kTop));
        ASSERT_GE(hot.size(), 3u);
    }
    SampleService service;
    InstalledProgram p{service};
    std::vector<Video> hot;
};

TEST_F(PlayRun, PlayOnARowsPopupFetchesThatVideosFlvSegmentsInOrder) {
    int row = RowWithMostSegments(hot);
    // Hold opens the row's menu; "播放(&1)".
    std::string script = "wait idle\nhold 240 " + std::to_string(kListRowY[row]) + "\ntext 1\n" +
                         Played(p, hot[row].flv.size() + 1) + "quit\n";
    int status = p.Run(script);
    ASSERT_TRUE(InstalledProgram::EndedNormally(status)) << status << "\n" << p.Log() << p.Errors();
    EXPECT_EQ(RequestsTo(service, "/media/"), hot[row].flv);
    auto log = PlayerLog(p);
    ASSERT_EQ(log.size(), hot[row].flv.size() + 1) << p.dir().Read("Log/player_log.txt");
    EXPECT_EQ(log[0].rfind("request \"" + hot[row].title + "\" segments=" + std::to_string(hot[row].flv.size()), 0), 0u)
        << log[0];
    for (size_t i = 0; i < hot[row].flv.size(); ++i) {
        std::string head = "segment " + std::to_string(i + 1) + "/" + std::to_string(hot[row].flv.size()) + " http://" +
                           service.host() + hot[row].flv[i] + " packets=";
        EXPECT_EQ(log[i + 1].rfind(head, 0), 0u) << log[i + 1];
        EXPECT_EQ(log[i + 1].substr(log[i + 1].size() - 6), " ended") << log[i + 1];
    }
    EXPECT_EQ(p.Log().find("BeginPlayVideo failed"), std::string::npos);
}

TEST_F(PlayRun, TheDetailPagesThumbnailPlayButtonAndRelatedRowPlayAndASecondTapDoesNothing) {
    int row = RowWithMostSegments(hot);
    const Video& v = hot[row];
    std::vector<Video> related = Videos(service.Get("/openapi-common/relatedVideos?pid=4f7be1c09a2d6e53&vid=" + v.vid +
                                                    "&pz=5&rt=1&f=8&seg=1&rp=1"));
    ASSERT_FALSE(related.empty());
    // The PLAY button is tapped twice in a row: the second tap comes while the first play
    // is being started.
    size_t once = v.flv.size() + 1;
    // (Gates open in the order they are made.)
    std::string script = "wait idle\n" + Tap(240, kListRowY[row]) + "wait idle\n" + kThumbnail;
    script += Played(p, once) + kPlayButton + kPlayButton;
    script += Played(p, 2 * once) + kFirstRelated;
    script += Played(p, 2 * once + related[0].flv.size() + 1) + "quit\n";
    int status = p.Run(script);
    ASSERT_TRUE(InstalledProgram::EndedNormally(status)) << status << "\n" << p.Log() << p.Errors();
    EXPECT_EQ(RequestsTo(service, "/media/"), Concat(Concat(v.flv, v.flv), related[0].flv));
    auto log = PlayerLog(p);
    std::vector<std::string> requests;
    for (const auto& line : log)
        if (line.rfind("request ", 0) == 0) requests.push_back(line.substr(0, line.find("\" ") + 1));
    EXPECT_EQ(requests, (std::vector<std::string>{"request \"" + v.title + "\"", "request \"" + v.title + "\"",
                                                  "request \"" + related[0].title + "\""}));
}

TEST_F(PlayRun, SegmentsThatFailOrDropArePassedAndThePlayGoesOn) {
    int row = RowWithMostSegments(hot);
    const Video& v = hot[row];
    ASSERT_GE(v.flv.size(), 2u) << "the catalogue's first rows hold a video of several segments";
    // The first segment is not found; the second breaks off halfway.
    service.QueueFault("status:404", 1, v.flv[0]);
    service.QueueFault("drop", 1, v.flv[1]);
    std::string script =
        "wait idle\n" + Tap(240, kListRowY[row]) + "wait idle\n" + kPlayButton + Played(p, v.flv.size() + 1) + "quit\n";
    int status = p.Run(script);
    ASSERT_TRUE(InstalledProgram::EndedNormally(status)) << status << "\n" << p.Log() << p.Errors();
    auto log = PlayerLog(p);
    ASSERT_EQ(log.size(), v.flv.size() + 1) << p.dir().Read("Log/player_log.txt");
    EXPECT_EQ(log[1], "segment 1/" + std::to_string(v.flv.size()) + " http://" + service.host() + v.flv[0] +
                          " packets=0 bytes=0 first=- open failed -8");
    // The broken one goes on where it broke (a ranged request) and the rest follow.
    auto media = RequestsTo(service, "/media/");
    ASSERT_GE(media.size(), v.flv.size() + 1);
    EXPECT_EQ(media[0], v.flv[0]);
    EXPECT_EQ(media[1], v.flv[1]);
    EXPECT_EQ(media.back(), v.flv.back());
    for (size_t i = 2; i < log.size(); ++i) EXPECT_NE(log[i].find(" packets="), std::string::npos) << log[i];
}

TEST_F(PlayRun, QuittingRightAfterAPlayEndsTheProgram) {
    // The segment comes late: the core is inside its request when the program ends.
    service.QueueFault("delay:5000", 1, "/media/");
    std::string held = p.Gate([this] { return RequestsTo(service, "/media/").size() == 1; });
    std::string script = "wait idle\n" + Tap(240, kListRowY[0]) + "wait idle\n" + kPlayButton + held + "quit\n";
    int status = p.Run(script, 20000);
    EXPECT_TRUE(InstalledProgram::EndedNormally(status)) << status << "\n" << p.Log() << p.Errors();
    EXPECT_EQ(RequestsTo(service, "/media/").size(), 1u);
}

// ---- Offline, in-process with the real core ----

TEST(PlayOffline, PlayIsRefusedWithItsMessageAndNothingIsFetched) {
    SampleService service;
    nettest::TempDir dir;
    std::vector<Video> hot = Videos(service.Get(kTop));
    ASSERT_FALSE(hot.empty());
    // The program's video as the list answer gives it.
    VideoItem v;
    v.vid = platform::Utf8ToWide(hot[0].vid).c_str();
    v.title = L"t";
    for (const auto& target : hot[0].flv) {
        Segment s;
        s.size = 1;
        s.url = platform::Utf8ToWide("http://" + service.host() + target).c_str();
        v.stream.push_back(s);
    }
    setenv("LUMEO_CONNMGR", "offline", 1);
    setenv("LUMEO_DLL_PATH", LUMEO_TEST_DIST_DIR, 1);
    std::vector<platform::ui::MessageBoxRecord> boxes;
    bool ran = false;
    apptest::RunProgram(480, 800, [&] {
        ran = true;
        apptest::OnUi([&] {
            std::wstring folder = dir.wpath();
            wcsncpy(g_appDir, folder.c_str(), APP_DIR_LEN - 1);
            fs::create_directories(dir.path() + "/Log");
            InitLog((folder + L"\\Log\\").c_str(), L"Lumeo", 3);
        });
        apptest::FinishInit();
        platform::ui::ClearMessageBoxHistory();
        platform::ui::SetMessageBoxHook([](HWND, const std::wstring&, const std::wstring&, UINT) { return IDOK; });
        static wchar_t commandLine[1];
        CloseHandle(CreateThread(nullptr, 0, PlayerThread, commandLine, 0, nullptr));
        for (int i = 0; i < 500 && !FuncMain.load(); ++i) Sleep(10);
        EXPECT_NE(FuncMain.load(), nullptr);
        apptest::OnUi([&] { g_curVideo = v; });
        apptest::Command(g_hFrame, IDM_PLAY);
        int busy = 1;
        for (int i = 0; i < 500 && busy; ++i) {
            apptest::OnUi([&] { busy = g_playBusy; });
            if (busy) Sleep(20);
        }
        EXPECT_EQ(busy, 0);
        Sleep(1500);  // a request, had it gone out, would have been fetched by now
        boxes = platform::ui::MessageBoxHistory();
        PostMessageW(g_hFrame, WM_CLOSE, 0, 0);
    });
    unsetenv("LUMEO_CONNMGR");
    unsetenv("LUMEO_DLL_PATH");
    ASSERT_TRUE(ran) << "the program did not start; run one test per process";
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, L"无法连接网络");
    EXPECT_EQ(boxes[0].caption, L"通知");
    EXPECT_EQ(nettest::CountInLog(dir.path() + "/Log/Lumeo_log_0.txt", "GetConnectStatus return FALSE."), 1);
    EXPECT_TRUE(RequestsTo(service, "/media/").empty());
}

}  // namespace
