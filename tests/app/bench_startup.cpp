// Start-up time against the sample service on loopback: from the start of the program's
// process to the home list on screen, and to every thumbnail in sight painted. Each run is a
// fresh process of this program (which is the main program with a stopwatch around its init
// thread) in a program folder of its own.
//
//     build/normal/tests/app/app_startup_bench [RUNS]      (default 15, after one warm-up)
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "download.h"
#include "helpers.h"
#include "listview.h"
#include "lumeo.h"
#include "scroller.h"
#include "skin.h"
#include "tools.h"
#include "waitDlg.h"
#include "platform/codepage.h"
#include "platform/sync.h"
#include "platform/ui.h"

extern char** environ;
void FillWindowTables();

namespace {

namespace fs = std::filesystem;

long long Now() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000000000LL + t.tv_nsec;
}

// ---- The measured program ----

bool AllVisiblePictures() {
    bool all = true;
    Scroller* s = g_orientation == 1 ? &g_scrollerPortrait : &g_scrollerLandscape;
    LockLists();
    const std::vector<VideoItem>& items = GetItems(g_curList);
    int last = std::min(s->GetLastVisible(), static_cast<int>(items.size()) - 1);
    for (int i = std::max(0, s->GetFirstVisible()); i <= last; ++i) {
        const wchar_t* vid = items[static_cast<size_t>(i)].vid;
        if (IsPicturePending(&g_downloader, vid) || GetPicture(&g_downloader, vid) == g_downloader.picBk) all = false;
    }
    UnlockLists();
    return all;
}

DWORD TimedInit(LPVOID param) {
    DWORD r = InitThread(param);
    platform::ui::WaitForIdle(10000);
    long long list = Now();
    for (int i = 0; i < 10000 && !AllVisiblePictures(); ++i) usleep(1000);
    platform::ui::WaitForIdle(10000);
    long long pictures = Now();
    std::printf("list %lld\npictures %lld\nresult %lu\n", list, pictures, static_cast<unsigned long>(r));
    std::fflush(stdout);
    PostMessageW(g_hFrame, WM_CLOSE, 0, 0);
    return r;
}

int Child(const std::string& host) {
    const char* argv[] = {"Lumeo", "--headless"};
    platform::ui::DisplayOptions options = platform::ui::ParseDisplayOptions(2, argv);
    if (platform::ui::StartDisplay(options) != 0) return 1;
    SetApiHost(platform::Utf8ToWide(host).c_str());
    g_initThreadProc = TimedInit;
    RegisterResources();
    FillWindowTables();
    int code = WinMain(reinterpret_cast<HINSTANCE>(1), nullptr, nullptr, SW_SHOW);
    platform::ui::StopDisplay();
    ExitProcess(static_cast<UINT>(code));
}

// ---- The runs ----

struct Times {
    double list, pictures;
};

bool RunOnce(const std::string& program, const std::string& folder, const std::string& host, int n, Times* out) {
    std::string runtime = "LUMEO_RUNTIME_DIR=" + folder + "/run" + std::to_string(n);
    std::string registry = "LUMEO_REGISTRY_FILE=" + folder + "/registry.db";
    std::vector<std::string> vars = {runtime, registry};
    for (char** e = environ; *e; ++e)
        if (std::string(*e).rfind("LUMEO_", 0) != 0) vars.push_back(*e);
    std::vector<char*> envp;
    for (auto& v : vars) envp.push_back(v.data());
    envp.push_back(nullptr);
    std::string a0 = program, a1 = "--child", a2 = host;
    char* argv[] = {a0.data(), a1.data(), a2.data(), nullptr};
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    long long start = Now();
    pid_t pid = 0;
    int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    if (spawned != 0) {
        close(pipeFds[0]);
        return false;
    }
    std::string text;
    char buf[256];
    for (ssize_t k; (k = read(pipeFds[0], buf, sizeof buf)) > 0;) text.append(buf, static_cast<size_t>(k));
    close(pipeFds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    long long list = 0, pictures = 0;
    unsigned long result = 1;
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find('\n', at);
        std::string line = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
        std::sscanf(line.c_str(), "list %lld", &list);
        std::sscanf(line.c_str(), "pictures %lld", &pictures);
        std::sscanf(line.c_str(), "result %lu", &result);
        if (end == std::string::npos) break;
        at = end + 1;
    }
    if (!list || !pictures || result != 0) {
        std::fprintf(stderr, "run %d failed: %s\n", n, text.c_str());
        return false;
    }
    out->list = static_cast<double>(list - start) / 1e9;
    out->pictures = static_cast<double>(pictures - start) / 1e9;
    return true;
}

void Report(const char* what, std::vector<double> v, double goal) {
    std::sort(v.begin(), v.end());
    double median = v[v.size() / 2];
    std::printf("%-34s best %.3f s  median %.3f s  worst %.3f s  (goal under %.1f s: %s)\n", what, v.front(), median,
                v.back(), goal, median < goal ? "met" : "NOT met");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--child") return Child(argv[2]);
    int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;
    if (std::getenv("LUMEO_BENCH_QUICK")) runs = 2;  // only checks that it runs

    nettest::SampleService service;
    nettest::TempDir folder;
    std::string program = folder.path() + "/Lumeo";
    std::error_code ec;
    fs::create_hard_link(fs::read_symlink("/proc/self/exe"), program, ec);
    if (ec) fs::copy_file(fs::read_symlink("/proc/self/exe"), program);
    fs::create_directory_symlink(std::string(LUMEO_DIST) + "/Res", folder.path() + "/Res");

    Times t{};
    if (!RunOnce(program, folder.path(), service.host(), 0, &t)) return 1;  // warm-up: the service makes its pictures
    std::vector<double> lists, pictures;
    for (int i = 1; i <= runs; ++i) {
        if (!RunOnce(program, folder.path(), service.host(), i, &t)) return 1;
        lists.push_back(t.list);
        pictures.push_back(t.pictures);
    }
    std::printf("start-up against the sample service on loopback, %d runs, 480x800 headless\n", runs);
    Report("process start to home list shown", lists, 0.5);
    Report("process start to thumbnails shown", pictures, 1.0);
    return 0;
}
