// interface.plg: the player core as the main program loads it. Main loads the plug-in
// files beside it and plays the requests that PlayVideo queues: playing is reading the
// segments' packets through the host, one segment after the other; the play counter
// rises when the first packet of a request arrives. What was played goes to the player
// log, Log/player_log.txt in the program folder.
#include "core/interface.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "core/common.h"
#include "core/host.h"
#include "core/testing.h"

#define DLLEXPORT extern "C" __attribute__((visibility("default")))

namespace {

struct Request {
    std::wstring title;
    std::wstring totalSize;  // as the request states it
    std::vector<std::wstring> urls;
};

// What the entry points share.
struct State {
    std::mutex lock;
    std::condition_variable wake;
    std::deque<Request> queue;
    bool running = false;
    bool exit = false;
    int playCount = 0;
    int videoOutput = 0;
    int audioOutput = 0;
    std::mutex logLock;
};

State* g_state = new State;

State& S() { return *g_state; }

// Unloaded, the file takes its state along. Not so while Main runs, which is when the
// process ends around it: its thread still waits in the state, and a condition destroyed
// under a waiter keeps the end waiting.
__attribute__((destructor)) void Unloaded() {
    {
        std::lock_guard<std::mutex> g(g_state->lock);
        if (g_state->running) return;
    }
    delete g_state;
    g_state = nullptr;
}

constexpr long kLogLimit = 1024 * 1024;  // bytes of the log before it is set aside
constexpr int kMaxSegments = 1000;

std::string OwnFolder() {
    Dl_info info{};
    if (!dladdr(reinterpret_cast<void*>(&OwnFolder), &info) || !info.dli_fname) return ".";
    std::string p = info.dli_fname;
    size_t slash = p.rfind('/');
    return slash == std::string::npos ? "." : p.substr(0, slash);
}

std::string Utf8(const std::wstring& text) {
    std::string out(text.size() * 4 + 1, '\0');
    int n = TcsToUTF8(out.data(), out.size(), text.c_str());
    out.resize(static_cast<size_t>(std::max(n, 0)));
    return out;
}

// One line of the player log, with the local time in front.
void LogLine(const std::string& text) {
    std::lock_guard<std::mutex> g(S().logLock);
    std::string dir = OwnFolder() + "/Log";
    mkdir(dir.c_str(), 0755);
    std::string path = dir + "/player_log.txt";
    struct stat st {};
    if (stat(path.c_str(), &st) == 0 && st.st_size > kLogLimit)
        std::rename(path.c_str(), (dir + "/player_log_old.txt").c_str());
    FILE* f = std::fopen(path.c_str(), "a");
    if (!f) return;
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    char stamp[32];
    std::strftime(stamp, sizeof(stamp), "%Y-%m-%d %H:%M:%S", &tm);
    std::fprintf(f, "%s %s\n", stamp, text.c_str());
    std::fclose(f);
}

// The next NUL-terminated UTF-16 string of the block, surrogate pairs joined; false when
// the block ends first (the last string may fill the block without its terminator).
bool NextString(const char16_t* block, size_t& at, std::wstring& out, bool last) {
    out.clear();
    while (at < PLAYREQUEST_CHARS && block[at]) {
        char32_t c = block[at++];
        if (c >= 0xD800 && c < 0xDC00 && at < PLAYREQUEST_CHARS && block[at] >= 0xDC00 && block[at] < 0xE000)
            c = 0x10000 + ((c - 0xD800) << 10) + (block[at++] - 0xDC00);
        else if (c >= 0xD800 && c < 0xE000)
            c = 0xFFFD;  // a lone half
        out += static_cast<wchar_t>(c);
    }
    if (at >= PLAYREQUEST_CHARS) return last && !out.empty();
    ++at;
    return true;
}

bool ParseCount(const std::wstring& s, int& n) {
    if (s.empty() || s.size() > 9 || s.find_first_not_of(L"0123456789") != std::wstring::npos) return false;
    n = std::stoi(s);
    return true;
}

// Duration, title, N, total size, N offsets, N start seconds, N urls. Empty when the
// block is not such a request.
const char* ParseRequest(const char16_t* block, Request& r) {
    size_t at = 0;
    std::wstring s;
    int n = 0;
    if (!NextString(block, at, s, false) || !NextString(block, at, r.title, false)) return "no title";
    if (!NextString(block, at, s, false) || !ParseCount(s, n) || n > kMaxSegments) return "no segment count";
    if (n == 0) return "no segments";
    if (!NextString(block, at, r.totalSize, false)) return "no total size";
    for (int i = 0; i < 2 * n; ++i)
        if (!NextString(block, at, s, false)) return "segment offsets or times missing";
    for (int i = 0; i < n; ++i) {
        if (!NextString(block, at, s, i + 1 == n) || s.empty()) return "segment url missing";
        r.urls.push_back(s);
    }
    return nullptr;
}

bool Interrupted() {
    std::lock_guard<std::mutex> g(S().lock);
    return S().exit || !S().queue.empty();
}

std::string OneLine(const std::wstring& text) {
    std::wstring t = text;
    for (wchar_t& c : t)
        if (c < 0x20) c = L' ';
    return Utf8(t);
}

void Play(core::Host& host, const Request& r) {
    LogLine("request \"" + OneLine(r.title) + "\" segments=" + std::to_string(r.urls.size()) +
            " bytes=" + OneLine(r.totalSize));
    bool counted = false;
    for (size_t i = 0; i < r.urls.size(); ++i) {
        using Clock = std::chrono::steady_clock;
        Clock::time_point start = Clock::now();
        long long bytes = 0;
        int packets = 0;
        long long firstMs = -1;
        bool stopped = false;
        int result = host.Open(r.urls[i]);
        bool opened = result == 0;
        if (opened) {
            for (;;) {
                Packet p;
                result = host.ReadPacket(&p);
                if (result < 0) break;
                bytes += Format_RefLength(p.data);
                Format_ReleaseRef(p.data);
                if (packets++ == 0)
                    firstMs = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
                if (!counted) {
                    counted = true;
                    std::lock_guard<std::mutex> g(S().lock);
                    ++S().playCount;
                }
                if (Interrupted()) {
                    stopped = true;
                    break;
                }
            }
            host.Close();
        }
        std::string outcome = !opened                     ? "open failed " + std::to_string(result)
                              : stopped                   ? "stopped"
                              : result == ERR_END_OF_FILE ? "ended"
                                                          : "read failed " + std::to_string(result);
        LogLine("segment " + std::to_string(i + 1) + "/" + std::to_string(r.urls.size()) + " " + OneLine(r.urls[i]) +
                " packets=" + std::to_string(packets) + " bytes=" + std::to_string(bytes) +
                " first=" + (firstMs < 0 ? std::string("-") : std::to_string(firstMs) + "ms") + " " + outcome);
        if (stopped || Interrupted()) return;
    }
}

// The video drivers: "GDI", then one per overlay class.
std::vector<std::wstring> VideoDrivers() {
    std::vector<std::wstring> names = {L"GDI"};
    fourcc_t ids[16];
    int n = std::min(NodeEnumClasses(OVERLAY_CLASS, ids, 16), 16);
    for (int i = 0; i < n && names.size() < 16; ++i) {
        const tchar* name = NodeString(ids[i], NODE_NAME);
        std::string cc = core::FourCCText(ids[i]);
        names.push_back(name && *name ? std::wstring(name) : std::wstring(cc.begin(), cc.end()));
    }
    return names;
}

// The name as UTF-16 within its slot, cut before a character that would not fit whole.
void PutName(PlayerDriverSlot& slot, const std::wstring& name) {
    size_t at = 0;
    for (wchar_t ch : name) {
        auto c = static_cast<char32_t>(ch);
        size_t units = c >= 0x10000 && c <= 0x10FFFF ? 2 : 1;
        if (at + units + 1 > 34) break;
        if (units == 2) {
            slot.name[at++] = static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
            slot.name[at++] = static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            slot.name[at++] = static_cast<char16_t>(c < 0x110000 ? c : 0xFFFD);
        }
    }
    slot.name[at] = 0;
}

}  // namespace

DLLEXPORT int Main(const wchar_t*, const wchar_t*, int, const wchar_t*) {
    State& s = S();
    {
        std::lock_guard<std::mutex> g(s.lock);
        if (s.running) return -1;
        s.running = true;
        s.exit = false;
    }
    core::Host host;
    host.LoadPlugins(OwnFolder());
    for (;;) {
        Request r;
        {
            std::unique_lock<std::mutex> g(s.lock);
            s.wake.wait(g, [&] { return s.exit || !s.queue.empty(); });
            if (s.exit) break;
            r = std::move(s.queue.front());
            s.queue.pop_front();
        }
        Play(host, r);
    }
    host.UnloadPlugins();
    std::lock_guard<std::mutex> g(s.lock);
    s.running = false;
    s.queue.clear();
    return 0;
}

DLLEXPORT int PlayVideo(const char16_t* request) {
    if (!request) return -1;
    Request r;
    if (const char* why = ParseRequest(request, r)) {
        LogLine(std::string("request refused: ") + why);
        return -1;
    }
    State& s = S();
    {
        std::lock_guard<std::mutex> g(s.lock);
        s.queue.clear();  // a new request replaces what is playing
        s.queue.push_back(std::move(r));
    }
    s.wake.notify_all();
    return 0;
}

DLLEXPORT int GetPlayCount(int* count) {
    if (!count) return -1;
    std::lock_guard<std::mutex> g(S().lock);
    *count = S().playCount;
    return 0;
}

DLLEXPORT int GetPlayerInfo(PlayerInfo* info) {
    if (!info) return -1;
    *info = PlayerInfo{};
    std::vector<std::wstring> video = VideoDrivers();
    for (size_t i = 0; i < video.size(); ++i) PutName(info->videoDrivers[i], video[i]);
    info->videoDriverCount = static_cast<int32_t>(video.size());
    PutName(info->audioDrivers[0], L"WaveOut");
    info->audioDriverCount = 1;
    return 0;
}

DLLEXPORT int SetVideoOutput(int index) {
    if (index < 0 || index >= static_cast<int>(VideoDrivers().size())) return -1;
    std::lock_guard<std::mutex> g(S().lock);
    S().videoOutput = index;
    return 0;
}

DLLEXPORT int SetAudioOutput(int index) {
    if (index != 0) return -1;
    std::lock_guard<std::mutex> g(S().lock);
    S().audioOutput = index;
    return 0;
}

DLLEXPORT int ExitPlayer() {
    {
        std::lock_guard<std::mutex> g(S().lock);
        S().exit = true;
    }
    S().wake.notify_all();
    return 0;
}
