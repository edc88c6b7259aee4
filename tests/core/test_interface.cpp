// interface.plg as the main program uses it: Main on its own thread, the other entry
// points from another.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

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

TEST(InterfacePlugin, PlaysARequestAndRaisesThePlayCount) {
    fs::path dir = fs::temp_directory_path() / ("lumeo-interface-" + std::to_string(getpid()));
    fs::create_directories(dir);
    fs::copy_file(fs::path(CORE_TEST_DIST_DIR) / "interface.plg", dir / "interface.plg",
                  fs::copy_options::overwrite_existing);
    fs::copy_file(fs::path(CORE_TEST_PLUGIN_DIR) / "testreader.plg", dir / "testreader.plg",
                  fs::copy_options::overwrite_existing);
    // A one-segment video in the test reader's container: one packet.
    fs::path media = dir / "clip.lmt";
    {
        std::ofstream f(media, std::ios::binary);
        const unsigned char bytes[] = {'L', 'M', 'T', 'P', 1, 0, 0, 3, 0xE8, 2, 0, 0, 0, 85, 0xAC, 0x44, 0, 2,
                                       0,   0,   0,   0,   0, 0, 3, 1, 'a', 'b', 'c'};
        f.write(reinterpret_cast<const char*>(bytes), sizeof(bytes));
    }

    Core c;
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

    std::thread player([&] { c.main(L"app", L"v1.01.15.06007", 3, L""); });

    PlayerInfo info;
    ASSERT_EQ(c.info(&info), 0);
    ASSERT_GE(info.videoDriverCount, 1);
    EXPECT_EQ(std::u16string(info.videoDrivers[0].name), u"GDI");
    EXPECT_EQ(info.audioDriverCount, 1);
    EXPECT_EQ(c.video(0), 0);
    EXPECT_NE(c.video(16), 0);

    int before = -1;
    ASSERT_EQ(c.count(&before), 0);
    EXPECT_NE(c.play(Request({u"10", u"t"}).data()), 0);  // no segment count
    auto block = Request({u"00:03", u"title", u"1", u"29", u"0", u"0", U16(media.string())});
    ASSERT_EQ(c.play(block.data()), 0);
    int now = before;
    for (int i = 0; i < 500 && now == before; ++i) {
        usleep(10000);
        c.count(&now);
    }
    EXPECT_EQ(now, before + 1);

    c.exit();
    player.join();
    dlclose(c.h);
    fs::remove_all(dir);
}

}  // namespace
