// The update check against the sample service: every type and answer of the user, the
// files it leaves, the updater it starts and the failures start-up goes on after.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <deque>
#include <filesystem>
#include <memory>
#include <regex>
#include <thread>

#include <httplib.h>

#include "connMgr.h"
#include "entryGlobals.h"
#include "files.h"
#include "helpers.h"
#include "../netclient/helpers.h"
#include "listview.h"
#include "log.h"
#include "registry.h"
#include "tools.h"
#include "update.h"
#include "platform/codepage.h"
#include "platform/commctrl.h"
#include "platform/cstring.h"
#include "platform/ui.h"

namespace fs = std::filesystem;
using updtest::TempTree;

namespace {

const std::string kUpdater = LMUPDATE_PATH;
const std::string kInstallerDir = fs::path(WCELOAD_PATH).parent_path().string();
const std::string kVersionQuery = "/openapi-common/getVersionInfo?pid=4f7be1c09a2d6e53&ver=v1.01.15.06007";

std::vector<int> g_positions;

LRESULT ProgressSpy(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == PBM_SETPOS) g_positions.push_back(static_cast<int>(wParam));
    return DefWindowProcW(h, msg, wParam, lParam);
}

std::string Element(const std::string& xml, const std::string& name) {
    std::smatch m;
    return std::regex_search(xml, m, std::regex("<" + name + ">([^<]*)</" + name + ">")) ? m[1].str() : "";
}

std::string Unescape(std::string s) {
    for (auto [from, to] : {std::pair{"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&amp;", "&"}})
        for (size_t at; (at = s.find(from)) != std::string::npos;) s.replace(at, std::strlen(from), to);
    return s;
}

// A web API host answering the version check with a fixed text (for answers the sample
// service does not give).
class CannedHost {
public:
    explicit CannedHost(std::string answer) : answer_(std::move(answer)) {
        server_.Get(R"(/openapi-common/getVersionInfo)", [this](const httplib::Request&, httplib::Response& res) {
            res.set_content(answer_, "text/xml; charset=utf-8");
        });
        server_.set_keep_alive_max_count(1);  // no idle connection holds up the stop
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        updtest::WaitFor(10000, [this] { return server_.is_running(); });
    }
    ~CannedHost() {
        server_.stop();
        thread_.join();
    }
    std::string host() const { return "127.0.0.1:" + std::to_string(port_); }

private:
    std::string answer_;
    httplib::Server server_;
    std::thread thread_;
    int port_ = 0;
};

std::string VersionAnswer(const std::string& update) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<channel>\n  <status>success</status>\n" + update +
           "</channel>\n";
}

class UpdateFlow : public ::testing::Test {
protected:
    void SetUp() override {
        static bool once = [] {
            InitializeCriticalSection(&g_csXml);
            InitializeCriticalSection(&g_csRunning);
            platform::ui::SetScreenSize(480, 800);
            WNDCLASSW wc{};
            wc.lpfnWndProc = ProgressSpy;
            wc.lpszClassName = L"ProgressSpy";
            RegisterClassW(&wc);
            return true;
        }();
        (void)once;
        setenv("LUMEO_REGISTRY_FILE", tree_.At("registry.db").c_str(), 1);
        setenv("LUMEO_RUNTIME_DIR", tree_.At("rt").c_str(), 1);
        setenv("LUMEO_HEADLESS", "1", 1);
        // The programs' stand-ins: an updater that notes how it was started.
        setenv("LUMEO_WINDOWS_DIR", kInstallerDir.c_str(), 1);
        UseFolder("prog");
        tree_.Write("prog/Update/LMUpdate.exe",
                    "#!/bin/sh\nprintf '%s %s\\n' \"$0\" \"$1\" >> '" + tree_.At("calls.txt") + "'\n", 0755);
        ASSERT_EQ(MyOpenReg(HKEY_CURRENT_USER, REG_PATH_IGNOREVERSION, &g_hKeyIgnoreVersion), 0);
        RegDeleteValueW(g_hKeyIgnoreVersion, L"IgnoreVersion");
        platform::ui::SetMessageBoxHook([this](HWND, const std::wstring& text, const std::wstring& caption, UINT type) {
            int answer = IDOK;
            if (!answers_.empty() && (type & MB_TYPEMASK) != MB_OK) {
                answer = answers_.front();
                answers_.pop_front();
            }
            boxes_.push_back({nullptr, text, caption, type, answer});
            return answer;
        });
        g_hProgress = CreateWindowExW(0, L"ProgressSpy", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
        g_hStupWnd = nullptr;
        g_positions.clear();
        g_startupText = L"";
        g_connMgr.connected = 1;
    }
    void TearDown() override {
        platform::ui::SetMessageBoxHook(nullptr);
        MyCloseReg(g_hKeyIgnoreVersion);
        g_hKeyIgnoreVersion = nullptr;
        DestroyWindow(g_hProgress);
        g_hProgress = nullptr;
    }
    // The program folder (its Xml, Update and Log folders) and its log.
    void UseFolder(const std::string& rel) {
        prog_ = rel;
        for (const char* sub : {"/Xml", "/Update", "/Log"}) fs::create_directories(tree_.At(rel + sub));
        platform::CopyCut(g_appDir, APP_DIR_LEN, tree_.Phone(rel).c_str());
        InitLog((tree_.Phone(rel) + L"\\Log\\").c_str(), L"Lumeo", 3);
    }
    void Serve(const std::vector<std::string>& args) {
        service_ = std::make_unique<nettest::SampleService>(args);
        SetApiHost(platform::Utf8ToWide(service_->host()).c_str());
    }
    int Check(std::initializer_list<int> answers = {}) {
        answers_.assign(answers.begin(), answers.end());
        return checkUpdate(nullptr, g_appDir);
    }
    std::string Log() const { return tree_.Read(prog_ + "/Log/Lumeo_log_0.txt"); }
    std::string Calls(int waitMs) const {
        updtest::WaitFor(waitMs, [this] { return !tree_.Read("calls.txt").empty(); });
        return tree_.Read("calls.txt");
    }
    CStringW Ignored() {
        CStringW v;
        GetIgnoreVersionReg(g_hKeyIgnoreVersion, v);
        return v;
    }
    // The files of the Update folder but the updater.
    std::vector<std::string> UpdateFiles() const {
        std::vector<std::string> out;
        for (auto& e : fs::directory_iterator(tree_.At(prog_ + "/Update")))
            if (e.path().filename() != "LMUpdate.exe") out.push_back(e.path().filename().string());
        std::sort(out.begin(), out.end());
        return out;
    }
    std::wstring OfferText(bool compulsory, const std::string& answer) const {
        std::wstring f = compulsory ? L"发现新版本,升级后才能继续使用,是否立即升级?(是,升级;否,退出。)"
                                    : L"发现可升级版本,是否立即升级?(是,升级;否,跳过;取消,不再提醒本版本。)";
        return f + L"\r\n\r\n当前版本号:\r\nv1.01.15.06007\r\n新版本号:\r\n" +
               platform::Utf8ToWide(Unescape(Element(answer, "ver"))) + L"\r\n主要更新功能:\r\n" +
               platform::Utf8ToWide(Unescape(Element(answer, "desc")));
    }
    TempTree tree_;
    std::string prog_;
    std::unique_ptr<nettest::SampleService> service_;
    std::deque<int> answers_;
    std::vector<platform::ui::MessageBoxRecord> boxes_;
};

TEST_F(UpdateFlow, NoUpdateAsksNothingAndDeletesTheOldCopy) {
    for (const char* type : {"0", "1"}) {
        SCOPED_TRACE(type);
        Serve({"--update-type", type});
        tree_.Write(prog_ + "/Update/LMUpdate_cp.exe", "left by an earlier update");
        EXPECT_EQ(Check(), 0);
        EXPECT_TRUE(boxes_.empty());
        EXPECT_TRUE(UpdateFiles().empty());
        EXPECT_TRUE(g_positions.empty());
    }
    EXPECT_EQ(Calls(200), "");
}

TEST_F(UpdateFlow, OptionalUpdateNoAsksAgainCancelSkipsThatVersion) {
    Serve({"--update-type", "2"});
    std::string answer = service_->Get(kVersionQuery);
    EXPECT_EQ(Check({IDNO}), 0);
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].text, OfferText(false, answer));
    EXPECT_EQ(boxes_[0].caption, L"Update");
    EXPECT_EQ(boxes_[0].type, 0x43u);
    EXPECT_EQ(Ignored(), L"");

    EXPECT_EQ(Check({IDCANCEL}), 0);
    EXPECT_EQ(boxes_.size(), 2u) << "asked again after No";
    EXPECT_EQ(Ignored(), L"v1.01.16.00001");
    EXPECT_EQ(Check({IDYES}), 0);
    EXPECT_EQ(boxes_.size(), 2u) << "not asked again after Cancel";

    // Another version is offered again.
    Serve({"--update-type", "2", "--update-version", "v1.01.17.00002"});
    EXPECT_EQ(Check({IDNO}), 0);
    EXPECT_EQ(boxes_.size(), 3u);
    EXPECT_EQ(UpdateFiles(), std::vector<std::string>{});
    EXPECT_EQ(Calls(200), "");
}

TEST_F(UpdateFlow, CompulsoryUpdateIsAskedEvenWhenSkippedAndNoEndsTheProgram) {
    ASSERT_EQ(SetIgnoreVersionReg(g_hKeyIgnoreVersion, L"v2.0"), 0);
    Serve({"--update-type", "3", "--update-version", "v2.0"});
    std::string answer = service_->Get(kVersionQuery);
    EXPECT_EQ(Check({IDNO}), -2);
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].text, OfferText(true, answer));
    EXPECT_EQ(boxes_[0].caption, L"Update");
    EXPECT_EQ(boxes_[0].type, 0x44u);
    EXPECT_TRUE(UpdateFiles().empty()) << "nothing downloaded";
    EXPECT_EQ(Calls(200), "");
}

TEST_F(UpdateFlow, YesCopiesTheUpdaterDownloadsThePackageAndStartsTheCopy) {
    for (const char* type : {"2", "3"}) {
        SCOPED_TRACE(type);
        std::remove(tree_.At("calls.txt").c_str());
        g_positions.clear();
        Serve({"--update-type", type});
        std::string down = Unescape(Element(service_->Get(kVersionQuery), "down"));
        EXPECT_EQ(Check({IDYES}), -3);
        EXPECT_TRUE(tree_.Read(prog_ + "/Update/LMUpdate_cp.exe") == tree_.Read(prog_ + "/Update/LMUpdate.exe"));
        struct stat st{};
        ASSERT_EQ(stat(tree_.At(prog_ + "/Update/LMUpdate_cp.exe").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0755u);
        std::string served = service_->Get(down.substr(down.find('/', 7)));
        EXPECT_EQ(served.rfind("MSCF", 0), 0u);
        EXPECT_TRUE(tree_.Read(prog_ + "/Update/Lumeo_v1.01.16.00001.CAB") == served);
        EXPECT_EQ(g_positions, (std::vector<int>{0, 333, 666, 999}));
        EXPECT_EQ(g_startupText, L"下载完成,准备安装...");
        std::string dir = platform::WideToUtf8(g_appDir);
        EXPECT_EQ(Calls(20000), tree_.At(prog_ + "/Update/LMUpdate_cp.exe") + " type=1|" + dir + "\\Lumeo.exe|" + dir +
                                    "\\Update\\Lumeo_v1.01.16.00001.CAB\n");
    }
}

TEST_F(UpdateFlow, TheStartedUpdaterHandsThePackageToTheInstaller) {
    fs::copy_file(kUpdater, tree_.At(prog_ + "/Update/LMUpdate.exe"), fs::copy_options::overwrite_existing);
    tree_.Write(prog_ + "/version.txt", "v1.01.15.06007\n");
    Serve({"--update-type", "3"});
    EXPECT_EQ(Check({IDYES}), -3);
    // The installer's line comes after the updater's three seconds.
    ASSERT_TRUE(updtest::WaitFor(60000, [&] { return !tree_.Read(prog_ + "/Log/wceload.txt").empty(); }));
    EXPECT_NE(tree_.Read(prog_ + "/Log/wceload.txt").find("Lumeo_v1.01.16.00001.CAB: installed 1 files"),
              std::string::npos)
        << tree_.Read(prog_ + "/Log/wceload.txt");
    // What gcab takes out of the downloaded package is what was installed.
    fs::create_directories(tree_.At("x"));
    updtest::Shell("cd '" + tree_.At("x") + "' && gcab -x '" + tree_.At(prog_ + "/Update/Lumeo_v1.01.16.00001.CAB") + "'");
    EXPECT_EQ(tree_.Read(prog_ + "/version.txt"), tree_.Read("x/version.txt"));
    EXPECT_EQ(tree_.Read("x/version.txt"), "v1.01.16.00001\n");
    std::string dir = platform::WideToUtf8(g_appDir);
    EXPECT_NE(tree_.Read(prog_ + "/Log/LMUpdate_log_0.txt")
                  .find("cmd=\"type=1|" + dir + "\\Lumeo.exe|" + dir + "\\Update\\Lumeo_v1.01.16.00001.CAB\""),
              std::string::npos)
        << tree_.Read(prog_ + "/Log/LMUpdate_log_0.txt");
}

TEST_F(UpdateFlow, FailedStepsAreLoggedAndStartUpGoesOn) {
    const std::wstring kNoNetwork = L"无法连接网络，请检查网络设置。";
    struct Case {
        const char* what;
        std::vector<std::string> args;
        std::string fault, match;  // for the first two requests that match
        std::initializer_list<int> answers;
        std::string logged;
        bool offered, noNetworkBox;
        std::vector<int> positions;
        bool answerKept;  // the version answer is in the Xml folder
    } cases[] = {
        {"the version answer drops", {"--update-type", "2"}, "drop", "getVersionInfo", {},
         "DownloadEx failed : updateXML=http://", false, true, {}, false},
        {"an HTTP error page", {"--update-type", "2"}, "status:500", "getVersionInfo", {},
         "DownloadEx failed : updateXML=http://", false, true, {}, false},
        {"a cut answer", {"--update-type", "2"}, "malformed", "getVersionInfo", {}, "GetUpdateInfo failed", false,
         false, {}, true},
        {"a failed status", {"--update-type", "3"}, "failstatus", "getVersionInfo", {}, "GetUpdateInfo failed", false,
         false, {}, true},
        {"an unknown type", {"--update-type", "7"}, "", "", {}, "Unknown type=7.", false, false, {}, true},
        {"a negative type", {"--update-type", "-1"}, "", "", {}, "Unknown type=-1.", false, false, {}, true},
        {"an empty version", {"--update-type", "2", "--update-version", ""}, "", "", {}, "Update offer incomplete",
         false, false, {}, true},
        {"the package drops", {"--update-type", "2"}, "drop", "/packages/", {IDYES}, "DownloadEx failed", true, true,
         {0, 333}, true},
        {"the package is an error page", {"--update-type", "3"}, "status:404", "/packages/", {IDYES},
         "HTTP error answer : status=404", true, true, {0, 333}, true},
        // A redirection without a Location is no answer and no package either.
        {"the version answer is a redirection", {"--update-type", "2"}, "status:302", "getVersionInfo", {},
         "HTTP error answer : status=302", false, true, {}, false},
        {"the package is a redirection", {"--update-type", "3"}, "status:302", "/packages/", {IDYES},
         "HTTP error answer : status=302", true, true, {0, 333}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        boxes_.clear();
        g_positions.clear();
        fs::remove(tree_.At(prog_ + "/Xml/Update.xml"));
        size_t logged = Log().size();
        Serve(c.args);
        if (!c.fault.empty()) service_->QueueFault(c.fault, 2, c.match);  // the try and the retry
        EXPECT_EQ(Check(c.answers), -1);
        std::string log = Log().substr(logged);
        EXPECT_NE(log.find(c.logged), std::string::npos) << log;
        size_t offers = 0, noNetwork = 0;
        for (auto& b : boxes_) {
            offers += b.caption == L"Update";
            noNetwork += b.text == kNoNetwork;
        }
        EXPECT_EQ(offers, c.offered ? 1u : 0u);
        EXPECT_EQ(noNetwork, c.noNetworkBox ? 1u : 0u);
        EXPECT_EQ(g_positions, c.positions);
        // Nothing of a failed answer is kept: no package, and no version answer but a whole one.
        for (const std::string& name : UpdateFiles()) EXPECT_EQ(name, "LMUpdate_cp.exe");
        EXPECT_EQ(tree_.Exists(prog_ + "/Xml/Update.xml"), c.answerKept);
        if (tree_.Exists(prog_ + "/Xml/Update.xml")) {
            EXPECT_EQ(tree_.Read(prog_ + "/Xml/Update.xml").find("sample service fault"), std::string::npos);
        }
    }
    // The updater was never started.
    EXPECT_EQ(Calls(200), "");
}

TEST_F(UpdateFlow, AVersionTextNamesNoFileOutsideTheUpdateFolder) {
    const std::string version = "..\\..\\evil/../v2";
    Serve({"--update-type", "2", "--update-version", version});
    auto outside = [&] {
        auto s = updtest::Snapshot(tree_.path());
        for (auto it = s.begin(); it != s.end();)
            it = it->first.rfind(prog_ + "/Update/", 0) == 0 || it->first.rfind(prog_ + "/Log", 0) == 0 ||
                         it->first.rfind(prog_ + "/Xml", 0) == 0 || it->first == "calls.txt" ||
                         it->first.rfind("registry.db", 0) == 0 || it->first.rfind("rt", 0) == 0
                     ? s.erase(it)
                     : std::next(it);
        return s;
    };
    auto before = outside();
    EXPECT_EQ(Check({IDCANCEL}), 0);
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_NE(boxes_[0].text.find(L"新版本号:\r\n" + platform::Utf8ToWide(version) + L"\r\n"), std::wstring::npos);
    EXPECT_EQ(Ignored(), platform::Utf8ToWide(version).c_str());  // kept as sent

    RegDeleteValueW(g_hKeyIgnoreVersion, L"IgnoreVersion");
    EXPECT_EQ(Check({IDYES}), -3);
    EXPECT_EQ(outside(), before);
    std::vector<std::string> files = UpdateFiles();
    ASSERT_EQ(files.size(), 2u);  // the copy and one package
    EXPECT_EQ(files[0], "LMUpdate_cp.exe");
    EXPECT_EQ(files[1].rfind("Lumeo_", 0), 0u);
    std::string call = Calls(20000);
    EXPECT_NE(call.find("\\Update\\" + files[1] + "\n"), std::string::npos) << call;
}

TEST_F(UpdateFlow, OffersThatCannotBeTakenFailBeforeAsking) {
    struct Case {
        const char* what;
        std::string update;  // the answer's update element
        std::string logged;
    } cases[] = {
        {"no address", "<update type=\"2\"><ver>v2</ver><desc>d</desc></update>\n", "GetUpdateInfo failed"},
        {"an empty address", "<update type=\"3\"><ver>v2</ver><desc>d</desc><down></down></update>\n",
         "Update offer incomplete"},
        {"no version", "<update type=\"2\"><desc>d</desc><down>http://127.0.0.1:9/p.CAB</down></update>\n",
         "GetUpdateInfo failed"},
        {"a version too long for a file name",
         "<update type=\"2\"><ver>" + std::string(600, 'v') + "</ver><desc>d</desc><down>http://127.0.0.1:9/p.CAB</down></update>\n",
         "package path too long"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        boxes_.clear();
        size_t logged = Log().size();
        CannedHost host(VersionAnswer(c.update));
        SetApiHost(platform::Utf8ToWide(host.host()).c_str());
        EXPECT_EQ(Check({IDYES}), -1);
        EXPECT_NE(Log().substr(logged).find(c.logged), std::string::npos) << Log().substr(logged);
        EXPECT_TRUE(boxes_.empty());
    }
    EXPECT_TRUE(UpdateFiles().empty());
}

TEST_F(UpdateFlow, AProgramFolderTheCommandLineCannotCarryFails) {
    for (const std::string folder : {"pro|g", "pro\"g"}) {
        SCOPED_TRACE(folder);
        UseFolder(folder);
        tree_.Write(folder + "/Update/LMUpdate.exe", "#!/bin/sh\nexit 0\n", 0755);
        Serve({"--update-type", "3"});
        boxes_.clear();
        EXPECT_EQ(Check({IDYES}), -1);
        EXPECT_TRUE(boxes_.empty());
        EXPECT_NE(Log().find("program directory cannot be passed to the updater"), std::string::npos) << Log();
        EXPECT_TRUE(UpdateFiles().empty());
    }
}

TEST_F(UpdateFlow, AnUpdaterThatCannotRunFailsAndStartUpGoesOn) {
    Serve({"--update-type", "2"});
    chmod(tree_.At(prog_ + "/Update/LMUpdate.exe").c_str(), 0644);
    EXPECT_EQ(Check({IDYES}), -1);
    EXPECT_NE(Log().find("WARNING"), std::string::npos);
    EXPECT_NE(Log().find("ShellExecuteEx failed : errno=5, msg="), std::string::npos) << Log();
    EXPECT_EQ(g_positions, (std::vector<int>{0, 333, 666}));

    fs::remove(tree_.At(prog_ + "/Update/LMUpdate.exe"));
    EXPECT_EQ(Check({IDYES}), -1);
    EXPECT_NE(Log().find("MyCopyFile failed"), std::string::npos) << Log();
    EXPECT_FALSE(tree_.Exists(prog_ + "/Update/LMUpdate_cp.exe"));
}

}  // namespace
