// interface.plg as the main program uses it: Main on its own thread, the other entry
// points from another.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>

#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "core/interface.h"

namespace {

namespace fs = std::filesystem;

struct Core {
    void* h = nullptr;
    MainFn main = nullptr;
    PlayVideoFn play = nullptr;
    GetPlayCountFn count = nullptr;
    GetPlayerInfoFn info = nullptr;
    SetVideoOutputFn video = nullptr;
    SetAudioOutputFn audio = nullptr;
    ExitPlayerFn exit = nullptr;
};

std::u16string Request(const std::vector<std::u16string>& strings) {
    std::u16string block;
    for (const auto& s : strings) {
        block += s;
        block += u'\0';
    }
    block.resize(PLAYREQUEST_CHARS, u'\0');
    return block;
}

std::u16string U16(const std::string& s) { return std::u16string(s.begin(), s.end()); }

// interface.plg and the test reader in a folder of their own, the player log under it.
class InterfaceTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("lumeo-interface-" + std::to_string(getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        fs::copy_file(fs::path(CORE_TEST_DIST_DIR) / "interface.plg", dir / "interface.plg");
        fs::copy_file(fs::path(CORE_TEST_PLUGIN_DIR) / "testreader.plg", dir / "testreader.plg");
        c.h = dlopen((dir / "interface.plg").c_str(), RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(c.h, nullptr) << dlerror();
        c.main = reinterpret_cast<MainFn>(dlsym(c.h, "Main"));
        c.play = reinterpret_cast<PlayVideoFn>(dlsym(c.h, "PlayVideo"));
        c.count = reinterpret_cast<GetPlayCountFn>(dlsym(c.h, "GetPlayCount"));
        c.info = reinterpret_cast<GetPlayerInfoFn>(dlsym(c.h, "GetPlayerInfo"));
        c.video = reinterpret_cast<SetVideoOutputFn>(dlsym(c.h, "SetVideoOutput"));
        c.audio = reinterpret_cast<SetAudioOutputFn>(dlsym(c.h, "SetAudioOutput"));
        c.exit = reinterpret_cast<ExitPlayerFn>(dlsym(c.h, "ExitPlayer"));
        ASSERT_TRUE(c.main && c.play && c.count && c.info && c.video && c.audio && c.exit);
    }
    void TearDown() override {
        if (player.joinable()) {
            c.exit();
            player.join();
        }
        if (c.h) dlclose(c.h);
        fs::remove_all(dir);
    }
    void StartMain() {
        player = std::thread([this] { c.main(L"app", L"v1.01.15.06007", 3, L""); });
    }
    // Writes a test-reader container of `packets` packets of 3 bytes.
    std::string Media(const std::string& name, int packets) {
        fs::path media = dir / name;
        std::ofstream f(media, std::ios::binary);
        const unsigned char header[] = {'L', 'M', 'T', 'P', 1, 0, 0, 3, 0xE8, 2, 0, 0, 0, 85, 0xAC, 0x44, 0, 2};
        f.write(reinterpret_cast<const char*>(header), sizeof(header));
        for (int i = 0; i < packets; ++i) {
            const unsigned char packet[] = {0, 0, 0, 0, static_cast<unsigned char>(i), 0, 3, 1, 'a', 'b', 'c'};
            f.write(reinterpret_cast<const char*>(packet), sizeof(packet));
        }
        return media.string();
    }
    int Count() {
        int n = -1;
        c.count(&n);
        return n;
    }
    // Waits (bounded) until the count passes `before`.
    int WaitCount(int before) {
        int now = Count();
        for (int i = 0; i < 1000 && now == before; ++i) {
            usleep(10000);
            now = Count();
        }
        return now;
    }
    std::vector<std::string> LogLines() {
        std::ifstream f(dir / "Log" / "player_log.txt");
        std::vector<std::string> lines;
        std::string line;
        // Each line starts with "YYYY-MM-DD HH:MM:SS ".
        while (std::getline(f, line)) lines.push_back(line.size() > 20 ? line.substr(20) : line);
        return lines;
    }
    // Waits (bounded) for the log to hold `n` lines.
    std::vector<std::string> WaitLog(size_t n) {
        std::vector<std::string> lines = LogLines();
        for (int i = 0; i < 1000 && lines.size() < n; ++i) {
            usleep(10000);
            lines = LogLines();
        }
        return lines;
    }
    fs::path dir;
    Core c;
    std::thread player;
};

TEST_F(InterfaceTest, PlaysARequestAndRaisesThePlayCount) {
    StartMain();
    PlayerInfo info;
    ASSERT_EQ(c.info(&info), 0);
    ASSERT_GE(info.videoDriverCount, 1);
    EXPECT_EQ(std::u16string(info.videoDrivers[0].name), u"GDI");
    EXPECT_EQ(info.audioDriverCount, 1);
    EXPECT_EQ(c.video(0), 0);
    EXPECT_NE(c.video(16), 0);

    int before = Count();
    EXPECT_NE(c.play(Request({u"10", u"t"}).data()), 0);  // no segment count
    auto block = Request({u"00:03", u"title", u"1", u"29", u"0", u"0", U16(Media("clip.lmt", 1))});
    ASSERT_EQ(c.play(block.data()), 0);
    EXPECT_EQ(WaitCount(before), before + 1);
}

TEST_F(InterfaceTest, PlaysTheSegmentsInOrderAndLogsEachOne) {
    StartMain();
    std::string one = Media("one.lmt", 4), two = Media("two.lmt", 7);
    std::string missing = (dir / "missing.lmt").string();
    // A title with a character beyond the 16-bit range (a surrogate pair in the request).
    auto block = Request({u"00:09", u"Clip \U0001F3AC", u"3", u"300", u"0", u"100", u"200", u"0", u"3", u"6",
                          U16(one), U16(missing), U16(two)});
    int before = Count();
    ASSERT_EQ(c.play(block.data()), 0);
    auto lines = WaitLog(4);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "request \"Clip \xF0\x9F\x8E\xAC\" segments=3 bytes=300");
    EXPECT_EQ(lines[1].rfind("segment 1/3 " + one + " packets=4 bytes=12 first=", 0), 0u) << lines[1];
    EXPECT_EQ(lines[1].substr(lines[1].size() - 6), " ended");
    EXPECT_EQ(lines[2], "segment 2/3 " + missing + " packets=0 bytes=0 first=- open failed -8");
    EXPECT_EQ(lines[3].rfind("segment 3/3 " + two + " packets=7 bytes=21 first=", 0), 0u) << lines[3];
    // One request: the count rose once, at its first packet.
    EXPECT_EQ(Count(), before + 1);
}

TEST_F(InterfaceTest, RefusesRequestsThatListNoSegmentAndSaysWhy) {
    struct Case {
        std::vector<std::u16string> strings;
        const char* line;
    } cases[] = {
        {{u"00:00", u"t", u"0", u"0"}, "request refused: no segments"},
        {{u"00:00", u"t", u"x", u"0"}, "request refused: no segment count"},
        {{u"00:00", u"t", u"2", u"10", u"0", u"5", u"0", u"1", u"file:///a"}, "request refused: segment url missing"},
    };
    for (const Case& k : cases) EXPECT_NE(c.play(Request(k.strings).data()), 0);
    // A block of 3072 characters without any terminator is refused too, read within its bounds.
    std::u16string full(PLAYREQUEST_CHARS, u'7');
    EXPECT_NE(c.play(full.data()), 0);
    auto lines = LogLines();
    ASSERT_EQ(lines.size(), 4u);
    for (size_t i = 0; i < 3; ++i) EXPECT_EQ(lines[i], cases[i].line);
    EXPECT_EQ(lines[3], "request refused: no title");
}

// The process that loaded the core ends at once, whether the core is idle inside Main
// or in the middle of a play.
TEST_F(InterfaceTest, TheProcessEndsWhileMainRuns) {
    std::string clip = Media("long.lmt", 300000);
    for (bool playing : {false, true}) {
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            std::thread([this] { c.main(L"app", L"v1.01.15.06007", 3, L""); }).detach();
            usleep(100000);
            if (playing) {
                auto block = Request({u"00:10", u"t", u"1", u"1", u"0", u"0", U16(clip)});
                c.play(block.data());
                for (int i = 0; i < 500 && Count() == 0; ++i) usleep(1000);
            }
            std::exit(7);
        }
        int status = 0;
        pid_t done = 0;
        for (int i = 0; i < 1000 && done == 0; ++i) {
            done = waitpid(child, &status, WNOHANG);
            if (done == 0) usleep(10000);
        }
        if (done == 0) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
        }
        EXPECT_EQ(done, child) << (playing ? "playing" : "idle") << ": the process did not end within 10 s";
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 7) << status;
    }
}

}  // namespace
