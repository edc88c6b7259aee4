// The installer stand-in with cabinets made by gcab: good ones install exactly what gcab
// lists; damaged, foreign and hostile ones change nothing.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <regex>
#include <sstream>

#include "helpers.h"
#include "platform/codepage.h"

namespace fs = std::filesystem;
using updtest::TempTree;

namespace {

const std::string kInstaller = WCELOAD_PATH;

struct Result {
    int code;
    std::string log;
};

class Installer : public ::testing::Test {
protected:
    void SetUp() override {
        tree_.Write("prog/version.txt", "v1.01.15.06007\n");
        tree_.Write("prog/keep.txt", "not in the package\n");
        tree_.Write("prog/Lumeo", "the old program", 0755);
        fs::create_directories(tree_.At("prog/Update"));
        // The sources of the packages, beside the program folder.
        tree_.Write("src/version.txt", "v1.01.16.00001\n");
        tree_.Write("src/Res/Skin/Def/def_800_480_logo.png", std::string("\x89PNG\r\n\x1a\n", 8) + "pixels");
        tree_.Write("src/Res/说明 文件.txt", "新版本\n");
        tree_.Write("src/Lumeo", std::string(70000, 'L'));
    }
    // Runs the installer on prog/Update/<name> holding `bytes`, as the updater starts it.
    Result Install(const std::string& bytes, const std::string& name = "Lumeo_v1.01.16.00001.CAB",
                   const std::vector<std::string>& env = {}) {
        tree_.Write("prog/Update/" + name, bytes);
        std::string arg = "\"" + platform::WideToUtf8(tree_.Phone("prog/Update/" + name)) + "\"";
        std::string before = tree_.Read("prog/Log/wceload.txt");
        int code = updtest::WaitExit(updtest::Spawn({kInstaller, arg}, env), 120000);
        std::string after = tree_.Read("prog/Log/wceload.txt");
        return {code, after.substr(before.size())};
    }
    std::string Cab(const std::vector<std::string>& names, bool compress = true) {
        std::string cab = tree_.At("made.cab");
        EXPECT_TRUE(updtest::MakeCab(tree_.At("src"), names, cab, compress));
        return updtest::ReadAll(cab);
    }
    std::map<std::string, std::string> Program() { return updtest::Snapshot(tree_.At("prog")); }
    // The program folder apart from its log and the package itself.
    std::map<std::string, std::string> Installed() {
        auto s = Program();
        for (auto it = s.begin(); it != s.end();)
            it = it->first.rfind("Log", 0) == 0 || it->first.rfind("Update", 0) == 0 ? s.erase(it) : std::next(it);
        return s;
    }
    TempTree tree_;
};

TEST_F(Installer, InstallsWhatGcabListsAndKeepsTheRest) {
    const std::vector<std::string> names = {"version.txt", "Res/Skin/Def/def_800_480_logo.png", "Res/说明 文件.txt",
                                            "Lumeo"};
    for (bool compress : {true, false}) {
        SCOPED_TRACE(compress ? "MSZIP" : "stored");
        std::string cab = Cab(names, compress);
        // gcab's own listing is the expectation: member paths with backslashes.
        std::istringstream listing(updtest::Shell("gcab -t '" + tree_.At("made.cab") + "'"));
        std::vector<std::string> listed;
        for (std::string line; std::getline(listing, line);) {
            std::replace(line.begin(), line.end(), '\\', '/');
            listed.push_back(line);
        }
        ASSERT_EQ(listed.size(), names.size());

        Result r = Install(cab);
        EXPECT_EQ(r.code, 0);
        EXPECT_TRUE(std::regex_match(r.log, std::regex("\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d .*Update\\\\"
                                                       "Lumeo_v1\\.01\\.16\\.00001\\.CAB: installed 4 files\n")))
            << r.log;
        for (const std::string& name : listed) EXPECT_EQ(tree_.Read("prog/" + name), tree_.Read("src/" + name)) << name;
        EXPECT_EQ(tree_.Read("prog/keep.txt"), "not in the package\n");
        // A replaced program stays runnable; a new file is not made a program.
        struct stat st{};
        ASSERT_EQ(stat(tree_.At("prog/Lumeo").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0755u);
        ASSERT_EQ(stat(tree_.At("prog/version.txt").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0644u);
        // No staging folder is left behind.
        for (auto& [path, bytes] : Program()) EXPECT_EQ(path.find(".wceload"), std::string::npos) << path;
        tree_.Write("prog/version.txt", "v1.01.15.06007\n");
    }
}

TEST_F(Installer, RefusesWhatIsNotAWholeValidCabinet) {
    std::string stored = Cab({"version.txt", "Lumeo"}, false);
    std::string zipped = Cab({"version.txt", "Lumeo"}, true);
    // A changed byte in the stored data of the last member: only its block checksum tells.
    std::string flipped = stored;
    flipped[flipped.size() - 10] ^= 0x20;
    struct Case {
        const char* what;
        std::string bytes;
        const char* reason;
    } cases[] = {
        {"an HTML error page", "<html><body><h1>404</h1>sample service fault</body></html>\n", "refused: not a cabinet"},
        {"an empty file", "", "refused: not a cabinet"},
        {"a changed byte", flipped, "refused: damaged cabinet: Checksum error"},
        {"a download cut short", zipped.substr(0, zipped.size() * 2 / 3), "refused: damaged cabinet"},
        {"a cut header", zipped.substr(0, 40), "refused: "},
        {"a cabinet and a tail", zipped.substr(0, 60) + std::string(5000, 'x'), "refused: damaged cabinet"},
    };
    auto before = Program();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Result r = Install(c.bytes, "Lumeo_bad.CAB");
        EXPECT_EQ(r.code, 1);
        EXPECT_NE(r.log.find(std::string("Lumeo_bad.CAB: ") + c.reason), std::string::npos) << r.log;
        EXPECT_EQ(std::count(r.log.begin(), r.log.end(), '\n'), 1);
        auto after = Program();
        after.erase("Log/wceload.txt");
        after.erase("Log/");
        after.erase("Update/Lumeo_bad.CAB");
        EXPECT_EQ(after, before);
    }
}

TEST_F(Installer, RefusesMembersThatLeaveTheProgramFolder) {
    tree_.Write("src/xx/evil.txt", "evil\n");
    tree_.Write("src/aetc/evil.txt", "evil\n");
    tree_.Write("src/Cq/evil.txt", "evil\n");
    tree_.Write("src/Res/link.txt", "evil\n");
    fs::create_directories(tree_.At("outside"));
    struct Case {
        const char* what;
        std::string member, from, to;
        const char* reason;
    } cases[] = {
        {"a parent folder", "xx/evil.txt", "xx\\evil", "..\\evil", "member path with \"..\""},
        {"a parent folder inside", "Res/link.txt", "Res\\link", "a\\..\\lin", "member path with \"..\""},
        {"a rooted path", "aetc/evil.txt", "aetc\\evil", "\\etc\\evil", "absolute member path"},
        {"a drive", "Cq/evil.txt", "Cq\\evil", "C:\\evil", "absolute member path"},
        {"a link out", "Res/link.txt", "", "", "leads out of the program folder through a link"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string cab = Cab({"version.txt", c.member});
        if (!c.from.empty()) {
            ASSERT_TRUE(updtest::Patch(cab, c.from, c.to));
        }
        bool link = c.from.empty();
        if (link) fs::create_directory_symlink(tree_.At("outside"), tree_.At("prog/Res"));
        auto before = Installed();
        Result r = Install(cab);
        EXPECT_EQ(r.code, 1);
        EXPECT_NE(r.log.find(c.reason), std::string::npos) << r.log;
        EXPECT_EQ(Installed(), before);
        EXPECT_EQ(tree_.Read("prog/version.txt"), "v1.01.15.06007\n");
        EXPECT_TRUE(fs::is_empty(tree_.At("outside")));
        EXPECT_FALSE(tree_.Exists("evil.txt"));
        EXPECT_FALSE(tree_.Exists("prog/evil.txt"));
        if (link) fs::remove(tree_.At("prog/Res"));
    }
    // A link that stays inside the folder is followed.
    fs::create_directories(tree_.At("prog/Skins"));
    fs::create_directory_symlink(tree_.At("prog/Skins"), tree_.At("prog/Res"));
    Result r = Install(Cab({"Res/link.txt"}));
    EXPECT_EQ(r.code, 0) << r.log;
    EXPECT_EQ(tree_.Read("prog/Skins/link.txt"), "evil\n");
}

TEST_F(Installer, RefusesMalformedMemberSets) {
    tree_.Write("src/a.txt", "a\n");
    tree_.Write("src/b.txt", "b\n");
    std::string twice = Cab({"a.txt", "b.txt"});
    ASSERT_TRUE(updtest::Patch(twice, std::string("b.txt\0", 6), std::string("a.txt\0", 6)));
    Result r = Install(twice);
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.log.find("refused: member appears twice: a.txt"), std::string::npos) << r.log;

    // A folder where the package has a file.
    fs::create_directories(tree_.At("prog/a.txt"));
    r = Install(Cab({"a.txt"}));
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.log.find("refused: member would replace a folder: a.txt"), std::string::npos) << r.log;
    EXPECT_TRUE(fs::is_directory(tree_.At("prog/a.txt")));
}

TEST_F(Installer, RefusesHugeMemberCounts) {
    std::vector<std::string> names;
    for (int i = 0; i < 4097; ++i) {
        names.push_back("m/" + std::to_string(i));
        tree_.Write("src/m/" + std::to_string(i), "");
    }
    std::string cab = Cab(names);
    Result r = Install(cab);
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.log.find("refused: more than 4096 members"), std::string::npos) << r.log;
    EXPECT_FALSE(tree_.Exists("prog/m"));
}

TEST_F(Installer, AFailurePartWayPutsTheOldFilesBack) {
    // "q" as a file and "q\y" inside it cannot both be installed; the second fails after
    // version.txt and q were put in place.
    tree_.Write("src/q", "q\n");
    tree_.Write("src/r/y", "y\n");
    std::string cab = Cab({"version.txt", "q", "r/y"});
    ASSERT_TRUE(updtest::Patch(cab, "r\\y", "q\\y"));
    auto before = Installed();
    Result r = Install(cab);
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.log.find("refused: cannot install q/y"), std::string::npos) << r.log;
    EXPECT_EQ(Installed(), before);
    EXPECT_EQ(tree_.Read("prog/version.txt"), "v1.01.15.06007\n");
}

TEST_F(Installer, WaitsForARunningLumeoOfTheFolder) {
    // A program named Lumeo in the folder that runs for a while (a copy of sleep).
    fs::copy_file("/bin/sleep", tree_.At("prog/Lumeo"), fs::copy_options::overwrite_existing);
    std::string cab = Cab({"version.txt"});

    pid_t lumeo = updtest::Spawn({tree_.At("prog/Lumeo"), "60"});
    std::string exe = fs::canonical(tree_.At("prog/Lumeo")).string();
    ASSERT_TRUE(updtest::WaitFor(10000, [&] {
        std::error_code ec;
        return fs::read_symlink("/proc/" + std::to_string(lumeo) + "/exe", ec).string() == exe;
    }));
    Result r = Install(cab, "Lumeo_v2.CAB", {"LUMEO_WCELOAD_WAIT=1"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.log.find("refused: Lumeo is still running"), std::string::npos) << r.log;
    EXPECT_EQ(tree_.Read("prog/version.txt"), "v1.01.15.06007\n");
    EXPECT_TRUE(updtest::Running(lumeo));
    kill(lumeo, SIGKILL);
    updtest::WaitExit(lumeo, 10000);

    // One that ends within the wait: the files are installed once it has.
    lumeo = updtest::Spawn({tree_.At("prog/Lumeo"), "2"});
    pid_t installer = updtest::Spawn({kInstaller, platform::WideToUtf8(tree_.Phone("prog/Update/Lumeo_v2.CAB"))});
    int code = updtest::WaitExit(installer, 120000);
    EXPECT_FALSE(updtest::Running(lumeo));
    EXPECT_EQ(code, 0);
    EXPECT_EQ(tree_.Read("prog/version.txt"), "v1.01.16.00001\n");
    updtest::WaitExit(lumeo, 10000);
}

TEST_F(Installer, WantsAPackageInAProgramsUpdateFolder) {
    std::string cab = Cab({"version.txt"});
    tree_.Write("prog/Other/Lumeo_v2.CAB", cab);
    for (const std::string& arg : {tree_.At("prog/Other/Lumeo_v2.CAB"), tree_.At("prog/Update/none.CAB"),
                                   std::string("\"\"")}) {
        EXPECT_EQ(updtest::WaitExit(updtest::Spawn({kInstaller, arg}), 60000), 1) << arg;
    }
    EXPECT_EQ(updtest::WaitExit(updtest::Spawn({kInstaller}), 60000), 1);
    EXPECT_FALSE(tree_.Exists("prog/Log/wceload.txt"));
    EXPECT_EQ(tree_.Read("prog/version.txt"), "v1.01.15.06007\n");
}

}  // namespace
