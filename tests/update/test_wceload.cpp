// The installer stand-in with cabinets made by gcab: good ones install exactly what gcab
// lists; damaged, foreign and hostile ones change nothing.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "helpers.h"
#include "platform/codepage.h"
#include "platform/wceload.h"

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

    // Names that differ only in case are one file on the phone.
    tree_.Write("src/VERSION.TXT", "v9\n");
    auto before = Installed();
    r = Install(Cab({"version.txt", "VERSION.TXT"}));
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.log.find("refused: member appears twice: VERSION.TXT"), std::string::npos) << r.log;
    EXPECT_EQ(Installed(), before);

    // The installer's own staging folder is no place for a member.
    tree_.Write("src/.wceload-AAAAAA/journal", "wceload journal 1\n");
    r = Install(Cab({"version.txt", ".wceload-AAAAAA/journal"}));
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.log.find("refused: member in the installer's own folder"), std::string::npos) << r.log;
    EXPECT_EQ(Installed(), before);

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

// A folder of many files and a package replacing them all and adding more, the installer
// killed at points of its work (its test hook stops it as a flat battery would); then the
// next start of the program or of the installer finds the folder wholly old or wholly new.
class KilledInstall : public Installer {
protected:
    void SetUp() override {
        Installer::SetUp();
        unsetenv("LUMEO_WCELOAD_FAULT");
        for (int i = 0; i < kOld + kAdded; ++i) {
            std::string name = i < kOld ? "many/" + std::to_string(i % 7) + "/f" + std::to_string(i) + ".txt"
                                        : "added/a" + std::to_string(i) + ".txt";
            names_.push_back(name);
            tree_.Write("src/" + name, "new " + std::to_string(i) + "\n");
        }
        cab_ = Cab(names_);
        PutOld();
        old_ = Installed();
        ASSERT_EQ(Install(cab_).code, 0);
        new_ = Installed();
        PutOld();
    }
    void PutOld() {
        fs::remove_all(tree_.At("prog/many"));
        fs::remove_all(tree_.At("prog/added"));
        for (int i = 0; i < kOld; ++i) tree_.Write("prog/" + names_[i], "old " + std::to_string(i) + "\n");
    }
    // The installer killed at `fault`: it leaves its staging folder and no line.
    void Kill(const std::string& fault) {
        Result r = Install(cab_, "Lumeo_v1.01.16.00001.CAB", {"LUMEO_WCELOAD_FAULT=" + fault});
        EXPECT_EQ(r.code, 128 + SIGKILL);
        EXPECT_EQ(r.log, "");
        EXPECT_TRUE(Staging());
    }
    bool Staging() {
        for (auto& e : fs::directory_iterator(tree_.At("prog")))
            if (e.path().filename().string().rfind(".wceload", 0) == 0) return true;
        return false;
    }
    std::string Log() { return tree_.Read("prog/Log/wceload.txt"); }
    static constexpr int kOld = 600, kAdded = 20;
    std::vector<std::string> names_;
    std::string cab_;
    std::map<std::string, std::string> old_, new_;
};

TEST_F(KilledInstall, TheNextStartFinishesOrUndoesIt) {
    struct Case {
        std::string fault;
        bool installed;
        std::string logged;
        std::string tail = "";  // added to the journal: the start of a done mark, cut
    } cases[] = {
        {"stage:300", false, "interrupted before any file was replaced: nothing to undo"},
        {"journal:150", false, "interrupted before any file was replaced: nothing to undo"},
        {"replace:0", false, "interrupted install rolled back: 0 of 620 files undone"},
        {"replace:1", false, "interrupted install rolled back: 1 of 620 files undone"},
        {"replace:310", false, "interrupted install rolled back: 310 of 620 files undone"},
        {"replace:619", false, "interrupted install rolled back: 619 of 620 files undone"},
        {"replace:620", false, "interrupted install rolled back: 620 of 620 files undone"},
        {"replace:620", false, "interrupted install rolled back: 620 of 620 files undone", "do"},
        {"done:0", true, "interrupted install finished: installed 620 files"},
    };
    const std::string package = platform::WideToUtf8(tree_.Phone("prog/Update/Lumeo_v1.01.16.00001.CAB"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        Kill(c.fault);
        if (!c.tail.empty()) {
            for (auto& e : fs::directory_iterator(tree_.At("prog")))
                if (e.path().filename().string().rfind(".wceload", 0) == 0)
                    std::ofstream(e.path() / "journal", std::ios::app) << c.tail;
        }
        size_t logged = Log().size();
        // The program's start mends it before it reads any of its files.
        EXPECT_EQ(platform::RecoverInstalls(tree_.Phone("prog").c_str()), 1);
        EXPECT_EQ(Installed(), c.installed ? new_ : old_);
        EXPECT_FALSE(Staging());
        std::string line = Log().substr(logged);
        // Before its journal the install is known by its staging folder alone.
        bool named = c.fault.rfind("stage", 0) == 0
                         ? std::regex_match(line, std::regex("[-0-9]+ [0-9:]+ \\.wceload-[A-Za-z0-9]{6}: .*\n"))
                         : line.find(package + ": ") != std::string::npos;
        EXPECT_TRUE(named) << line;
        EXPECT_NE(line.find(c.logged), std::string::npos) << line;
        EXPECT_EQ(std::count(line.begin(), line.end(), '\n'), 1) << line;
        // Nothing is left to mend.
        EXPECT_EQ(platform::RecoverInstalls(tree_.Phone("prog").c_str()), 0);
        PutOld();
    }
}

TEST_F(KilledInstall, TheNextInstallMendsItFirst) {
    for (const std::string fault : {"stage:300", "replace:310"}) {
        SCOPED_TRACE(fault);
        Kill(fault);
        Result r = Install(cab_);
        EXPECT_EQ(r.code, 0);
        EXPECT_TRUE(std::regex_match(r.log, std::regex(".*: interrupted [^\n]*\n.*: installed 620 files\n"))) << r.log;
        EXPECT_EQ(Installed(), new_);
        EXPECT_FALSE(Staging());
        PutOld();
    }
    // A package refused for itself still has the folder mended first.
    Kill("replace:310");
    Result r = Install("not a cabinet");
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.log.find("interrupted install rolled back: 310 of 620 files undone"), std::string::npos) << r.log;
    EXPECT_EQ(Installed(), old_);
    EXPECT_FALSE(Staging());
}

TEST_F(KilledInstall, AMendingCutShortIsTakenUpAgain) {
    Kill("replace:310");
    // The next installer is killed too, a hundred files into putting the old ones back.
    Kill("undo:100");
    EXPECT_EQ(platform::RecoverInstalls(tree_.Phone("prog").c_str()), 1);
    EXPECT_NE(Log().find("interrupted install rolled back: 210 of 620 files undone"), std::string::npos) << Log();
    EXPECT_EQ(Installed(), old_);
    EXPECT_FALSE(Staging());
}

TEST_F(KilledInstall, AnInstallerAtWorkIsLeftAlone) {
    // A Lumeo of the folder keeps the installer waiting with its lock held.
    fs::copy_file("/bin/sleep", tree_.At("prog/Lumeo"), fs::copy_options::overwrite_existing);
    pid_t lumeo = updtest::Spawn({tree_.At("prog/Lumeo"), "60"});
    tree_.Write("prog/Update/Lumeo_v2.CAB", cab_);
    pid_t installer = updtest::Spawn({kInstaller, platform::WideToUtf8(tree_.Phone("prog/Update/Lumeo_v2.CAB"))},
                                     {"LUMEO_WCELOAD_WAIT=60"});
    std::string exe = fs::canonical(tree_.At("prog/Lumeo")).string();
    ASSERT_TRUE(updtest::WaitFor(10000, [&] {
        std::error_code ec;
        return fs::read_symlink("/proc/" + std::to_string(lumeo) + "/exe", ec).string() == exe;
    }));
    // The lock is taken at once: once it is held, the program's start does nothing.
    ASSERT_TRUE(updtest::WaitFor(10000, [&] { return platform::RecoverInstalls(tree_.Phone("prog").c_str()) == -1; }));
    kill(lumeo, SIGKILL);
    updtest::WaitExit(lumeo, 10000);
    EXPECT_EQ(updtest::WaitExit(installer, 120000), 0);
    EXPECT_EQ(tree_.Read("prog/many/0/f0.txt"), "new 0\n");
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
