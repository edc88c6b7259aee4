// The program as a user runs it, headless, against the sample service offering updates:
// start-up asks (or not), the answers hold at the next start, and a taken update ends the
// program, runs the updater and installs the package into the program folder.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>

#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>

#include <httplib.h>

#include "../netclient/helpers.h"
#include "helpers.h"
#include "platform/codepage.h"
#include "platform/cstring.h"
#include "platform/registry.h"

namespace fs = std::filesystem;
using updtest::TempTree;

namespace {

const std::string kDist = LUMEO_TEST_DIST_DIR;
const std::string kVersionQuery = "/openapi-common/getVersionInfo?pid=4f7be1c09a2d6e53&ver=v1.01.15.06007";
const int kBound = 90000;  // for anything a loaded machine may take its time over

class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        // The program folder as installed: its own program, updater and installer; the
        // skin and plug-ins are the build's.
        fs::create_directories(tree_.At("prog/Update"));
        fs::create_directories(tree_.At("prog/Windows"));
        fs::copy_file(kDist + "/Lumeo", tree_.At("prog/Lumeo"));
        fs::copy_file(kDist + "/Update/LMUpdate.exe", tree_.At("prog/Update/LMUpdate.exe"));
        fs::copy_file(kDist + "/Windows/wceload.exe", tree_.At("prog/Windows/wceload.exe"));
        for (auto& e : fs::directory_iterator(kDist))
            if (e.path().filename() == "Res" || e.path().extension() == ".plg")
                fs::create_symlink(e.path(), tree_.At("prog/" + e.path().filename().string()));
        tree_.Write("prog/version.txt", "v1.01.15.06007\n");
        setenv("LUMEO_REGISTRY_FILE", tree_.At("registry.db").c_str(), 1);
    }
    void TearDown() override { updtest::KillGroup(lumeo_); }
    void Serve(const std::vector<std::string>& args) {
        service_ = std::make_unique<nettest::SampleService>(args);
    }
    // Starts Lumeo with a headless script; after its last line the program runs on until it
    // ends by itself or the test ends it.
    void Start(const std::string& commands, const std::string& host = "") {
        updtest::KillGroup(lumeo_);
        tree_.Write("script.txt", commands);
        lumeo_ = updtest::Spawn({tree_.At("prog/Lumeo"), "--script", tree_.At("script.txt"), "--screen", "480x800"},
                                {"LUMEO_RUNTIME_DIR=" + tree_.At("rt"), "LUMEO_REGISTRY_FILE=" + tree_.At("registry.db"),
                                 "LUMEO_API_HOST=" + (host.empty() ? service_->host() : host), "LUMEO_WINDOWS_DIR", "LUMEO_HEADLESS",
                                 "LUMEO_SCREEN"},
                                true);
        ASSERT_GT(lumeo_, 0);
    }
    bool Requested(const std::string& text) const {
        for (auto& line : service_->Requests())
            if (line.rfind("GET ", 0) == 0 && line.find(text) != std::string::npos) return true;
        return false;
    }
    // Start-up went past the update check: the home list was asked for.
    bool WentOn() const {
        return updtest::WaitFor(kBound, [this] { return Requested("getTopVideos"); });
    }
    std::wstring IgnoredVersion() const {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Lumeo\\History\\IgnoreVersion", 0, 0, &key) != ERROR_SUCCESS)
            return L"<no key>";
        wchar_t value[256] = {};
        DWORD size = sizeof value, type = 0;
        LONG r = RegQueryValueExW(key, L"IgnoreVersion", nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
        RegCloseKey(key);
        return r == ERROR_SUCCESS ? std::wstring(value) : L"<none>";
    }
    std::string LumeoLog() const { return tree_.Read("prog/Log/Lumeo_log_0.txt"); }
    // The files of the Update folder whose names hold `part`.
    std::vector<std::string> UpdateFiles(const std::string& part) const {
        std::vector<std::string> out;
        for (auto& e : fs::directory_iterator(tree_.At("prog/Update")))
            if (e.path().filename().string().find(part) != std::string::npos) out.push_back(e.path().filename());
        return out;
    }
    TempTree tree_;
    std::unique_ptr<nettest::SampleService> service_;
    pid_t lumeo_ = -1;
};

TEST_F(EndToEnd, NoUpdateAsksNothingAndStartUpGoesOn) {
    for (const char* type : {"0", "1"}) {
        SCOPED_TRACE(type);
        Serve({"--update-type", type});
        tree_.Write("prog/Update/LMUpdate_cp.exe", "left by an earlier update");
        service_->Get("/control/reset");
        Start("answer yes\n");  // taken only by a box that should not come
        EXPECT_TRUE(WentOn());
        EXPECT_TRUE(Requested("getVersionInfo"));
        EXPECT_FALSE(Requested("/packages/"));
        EXPECT_FALSE(tree_.Exists("prog/Update/LMUpdate_cp.exe"));
        EXPECT_TRUE(updtest::Running(lumeo_));
    }
}

TEST_F(EndToEnd, OptionalUpdateNoAsksAgainAndCancelIsRemembered) {
    Serve({"--update-type", "2"});
    Start("answer no\n");
    EXPECT_TRUE(WentOn());
    EXPECT_EQ(IgnoredVersion(), L"<none>");
    EXPECT_FALSE(Requested("/packages/"));

    // Asked again: this start's Cancel is what stores the version.
    service_->Get("/control/reset");
    Start("answer cancel\n");
    EXPECT_TRUE(WentOn());
    EXPECT_EQ(IgnoredVersion(), L"v1.01.16.00001");
    EXPECT_FALSE(Requested("/packages/"));

    // Not asked again: a Yes would have fetched the package.
    service_->Get("/control/reset");
    Start("answer yes\n");
    EXPECT_TRUE(WentOn());
    EXPECT_FALSE(Requested("/packages/"));
    EXPECT_TRUE(updtest::Running(lumeo_));
    EXPECT_EQ(tree_.Read("prog/version.txt"), "v1.01.15.06007\n");
}

TEST_F(EndToEnd, CompulsoryUpdateDeclinedEndsTheProgram) {
    Serve({"--update-type", "3"});
    Start("answer no\n");
    EXPECT_EQ(updtest::WaitExit(lumeo_, kBound), 0) << "ends by itself";
    EXPECT_FALSE(Requested("/packages/"));
    EXPECT_FALSE(Requested("getTopVideos"));
    EXPECT_FALSE(tree_.Exists("prog/Update/LMUpdate_cp.exe"));
}

TEST_F(EndToEnd, ATakenUpdateEndsTheProgramAndInstallsThePackage) {
    Serve({"--update-type", "2"});
    std::string down = service_->Get(kVersionQuery);
    down = down.substr(down.find("<down>") + 6);
    down = down.substr(0, down.find("</down>"));
    Start("answer yes\n");
    EXPECT_EQ(updtest::WaitExit(lumeo_, kBound), 0);
    EXPECT_FALSE(Requested("getTopVideos"));

    EXPECT_TRUE(tree_.Read("prog/Update/LMUpdate_cp.exe") == tree_.Read("prog/Update/LMUpdate.exe"));
    struct stat st{};
    ASSERT_EQ(stat(tree_.At("prog/Update/LMUpdate_cp.exe").c_str(), &st), 0);
    EXPECT_TRUE(st.st_mode & S_IXUSR);
    const std::string package = "prog/Update/Lumeo_v1.01.16.00001.CAB";
    std::string served = service_->Get(down.substr(down.find('/', 7)));
    EXPECT_GT(served.size(), 0u);
    EXPECT_TRUE(tree_.Read(package) == served);

    ASSERT_TRUE(updtest::WaitFor(kBound, [&] { return !tree_.Read("prog/Log/wceload.txt").empty(); }));
    std::string dir = platform::WideToUtf8(tree_.Phone("prog"));
    EXPECT_NE(tree_.Read("prog/Log/LMUpdate_log_0.txt")
                  .find("cmd=\"type=1|" + dir + "\\Lumeo.exe|" + dir + "\\Update\\Lumeo_v1.01.16.00001.CAB\""),
              std::string::npos)
        << tree_.Read("prog/Log/LMUpdate_log_0.txt");
    EXPECT_NE(tree_.Read("prog/Log/wceload.txt").find("Lumeo_v1.01.16.00001.CAB: installed 1 files"),
              std::string::npos)
        << tree_.Read("prog/Log/wceload.txt");
    // What gcab takes out of the package is what the program folder now holds.
    fs::create_directories(tree_.At("x"));
    updtest::Shell("cd '" + tree_.At("x") + "' && gcab -x '" + tree_.At(package) + "'");
    EXPECT_EQ(tree_.Read("x/version.txt"), "v1.01.16.00001\n");
    EXPECT_EQ(tree_.Read("prog/version.txt"), tree_.Read("x/version.txt"));
}

TEST_F(EndToEnd, APackageDownloadThatDropsLetsStartUpGoOn) {
    Serve({"--update-type", "2"});
    service_->QueueFault("drop", 2, "/packages/");  // the download and its retry
    Start("answer yes\nanswer ok\n");
    EXPECT_TRUE(WentOn());
    EXPECT_TRUE(updtest::Running(lumeo_));
    std::string log = LumeoLog();
    EXPECT_NE(log.find("DownloadEx failed"), std::string::npos) << log;
    EXPECT_NE(log.find("checkUpdate failed : ret=-1"), std::string::npos) << log;
    EXPECT_FALSE(tree_.Exists("prog/Log/LMUpdate_log_0.txt"));
    EXPECT_EQ(tree_.Read("prog/version.txt"), "v1.01.15.06007\n");
}

// A web API host that offers an update and sends half of its package, then nothing more
// until it is stopped: a download the program is killed in.
class StallingHost {
public:
    StallingHost() {
        server_.Get(R"(/openapi-common/getVersionInfo)", [this](const httplib::Request&, httplib::Response& res) {
            res.set_content("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<channel>\n  <status>success</status>\n"
                            "  <update type=\"2\">\n    <ver>v1.01.16.00001</ver>\n    <desc>new</desc>\n"
                            "    <down>http://" + host() + "/packages/Lumeo_v1.01.16.00001.CAB</down>\n"
                            "  </update>\n</channel>\n",
                            "text/xml; charset=utf-8");
        });
        server_.Get(R"(/packages/.*)", [this](const httplib::Request&, httplib::Response& res) {
            res.set_content_provider(100000, "application/octet-stream",
                                     [this](size_t offset, size_t, httplib::DataSink& sink) {
                                         if (offset == 0) return sink.write(std::string(50000, 'c').data(), 50000);
                                         std::unique_lock<std::mutex> l(lock_);
                                         stopped_.wait(l, [this] { return stopping_; });
                                         return false;
                                     });
        });
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        updtest::WaitFor(10000, [this] { return server_.is_running(); });
    }
    ~StallingHost() {
        {
            std::lock_guard<std::mutex> l(lock_);
            stopping_ = true;
        }
        stopped_.notify_all();
        server_.stop();
        thread_.join();
    }
    std::string host() const { return "127.0.0.1:" + std::to_string(port_); }

private:
    httplib::Server server_;
    std::thread thread_;
    int port_ = 0;
    std::mutex lock_;
    std::condition_variable stopped_;
    bool stopping_ = false;
};

TEST_F(EndToEnd, APartFileOfAKilledDownloadGoesAtTheNextCheck) {
    {
        StallingHost stalling;
        Start("answer yes\n", stalling.host());
        ASSERT_TRUE(updtest::WaitFor(kBound, [this] { return !UpdateFiles(".part").empty(); }));
        updtest::KillGroup(lumeo_);
        lumeo_ = -1;
    }
    ASSERT_EQ(UpdateFiles(".part").size(), 1u);
    // That version is no longer offered.
    Serve({"--update-type", "0"});
    Start("");
    EXPECT_TRUE(WentOn());
    EXPECT_TRUE(UpdateFiles(".part").empty()) << UpdateFiles(".part")[0];
    EXPECT_TRUE(tree_.Exists("prog/Update/LMUpdate.exe"));
}

TEST_F(EndToEnd, TheStartMendsAnInstallCutShortBeforeReadingItsFiles) {
    tree_.Write("src/version.txt", "v1.01.16.00001\n");
    tree_.Write("src/Skins/new.txt", "new\n");
    tree_.Write("src/zz.txt", "new\n");
    ASSERT_TRUE(updtest::MakeCab(tree_.At("src"), {"version.txt", "Skins/new.txt", "zz.txt"},
                                 tree_.At("prog/Update/Lumeo_v1.01.16.00001.CAB"), true));
    std::string package = platform::WideToUtf8(tree_.Phone("prog/Update/Lumeo_v1.01.16.00001.CAB"));
    // The installer dies two files into replacing.
    pid_t installer = updtest::Spawn({tree_.At("prog/Windows/wceload.exe"), "\"" + package + "\""},
                                     {"LUMEO_WCELOAD_FAULT=replace:2", "LUMEO_WINDOWS_DIR"});
    EXPECT_EQ(updtest::WaitExit(installer, kBound), 128 + SIGKILL);
    EXPECT_EQ(tree_.Read("prog/version.txt"), "v1.01.16.00001\n");

    Serve({"--update-type", "0"});
    Start("");
    EXPECT_TRUE(WentOn());
    EXPECT_EQ(tree_.Read("prog/version.txt"), "v1.01.15.06007\n");
    EXPECT_FALSE(tree_.Exists("prog/Skins"));
    EXPECT_FALSE(tree_.Exists("prog/zz.txt"));
    for (auto& e : fs::directory_iterator(tree_.At("prog")))
        EXPECT_EQ(e.path().filename().string().rfind(".wceload", 0), std::string::npos) << e.path();
    std::string log = tree_.Read("prog/Log/wceload.txt");
    EXPECT_NE(log.find(package + ": interrupted install rolled back: 2 of 3 files undone"), std::string::npos) << log;
}

}  // namespace
