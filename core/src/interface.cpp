// interface.plg: the player core as the main program loads it. Main loads the plug-in
// files beside it and plays the requests that PlayVideo queues: playing is reading the
// segments' packets through the host; the play counter rises when the first packet of
// a request arrives.
#include "core/interface.h"

#include <dlfcn.h>

#include <algorithm>
#include <condition_variable>
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
    std::vector<std::wstring> urls;
};

std::mutex g_lock;
std::condition_variable g_wake;
std::deque<Request> g_queue;
bool g_running = false;
bool g_exit = false;
int g_playCount = 0;
int g_videoOutput = 0;
int g_audioOutput = 0;

// Reads the next NUL-terminated string of the block; false past its end.
bool NextString(const char16_t* block, size_t& at, std::wstring& out) {
    out.clear();
    while (at < PLAYREQUEST_CHARS && block[at]) out += static_cast<wchar_t>(block[at++]);
    if (at >= PLAYREQUEST_CHARS) return false;
    ++at;
    return true;
}

bool ParseRequest(const char16_t* block, Request& r) {
    size_t at = 0;
    std::wstring s;
    if (!NextString(block, at, s) || !NextString(block, at, s)) return false;  // duration, title
    if (!NextString(block, at, s)) return false;
    int n = StringToInt(s.c_str());
    if (n <= 0 || n > 1000) return false;
    if (!NextString(block, at, s)) return false;  // total size
    for (int i = 0; i < 2 * n; ++i)
        if (!NextString(block, at, s)) return false;  // offsets, start seconds
    for (int i = 0; i < n; ++i) {
        // The last string may end at the block's end without a terminator.
        bool ok = NextString(block, at, s);
        if (!ok && (i + 1 < n || s.empty())) return false;
        if (s.empty()) return false;
        r.urls.push_back(s);
    }
    return true;
}

bool Interrupted() {
    std::lock_guard<std::mutex> g(g_lock);
    return g_exit || !g_queue.empty();
}

void Play(core::Host& host, const Request& r) {
    bool counted = false;
    for (const std::wstring& url : r.urls) {
        if (host.Open(url) < 0) continue;
        for (;;) {
            Packet p;
            if (host.ReadPacket(&p) < 0) break;
            Format_ReleaseRef(p.data);
            if (!counted) {
                counted = true;
                std::lock_guard<std::mutex> g(g_lock);
                ++g_playCount;
            }
            if (Interrupted()) break;
        }
        host.Close();
        if (Interrupted()) return;
    }
}

std::string OwnFolder() {
    Dl_info info{};
    if (!dladdr(reinterpret_cast<void*>(&OwnFolder), &info) || !info.dli_fname) return ".";
    std::string p = info.dli_fname;
    size_t slash = p.rfind('/');
    return slash == std::string::npos ? "." : p.substr(0, slash);
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

void PutName(PlayerDriverSlot& slot, const std::wstring& name) {
    size_t i = 0;
    for (; i + 1 < 34 && i < name.size(); ++i) {
        unsigned c = static_cast<unsigned>(name[i]);
        slot.name[i] = static_cast<char16_t>(c < 0x10000 ? c : 0xFFFD);
    }
    slot.name[i] = 0;
}

}  // namespace

DLLEXPORT int Main(const wchar_t*, const wchar_t*, int, const wchar_t*) {
    {
        std::lock_guard<std::mutex> g(g_lock);
        if (g_running) return -1;
        g_running = true;
        g_exit = false;
    }
    core::Host host;
    host.LoadPlugins(OwnFolder());
    for (;;) {
        Request r;
        {
            std::unique_lock<std::mutex> g(g_lock);
            g_wake.wait(g, [] { return g_exit || !g_queue.empty(); });
            if (g_exit) break;
            r = std::move(g_queue.front());
            g_queue.pop_front();
        }
        Play(host, r);
    }
    host.UnloadPlugins();
    std::lock_guard<std::mutex> g(g_lock);
    g_running = false;
    g_queue.clear();
    return 0;
}

DLLEXPORT int PlayVideo(const char16_t* request) {
    Request r;
    if (!request || !ParseRequest(request, r)) return -1;
    {
        std::lock_guard<std::mutex> g(g_lock);
        g_queue.clear();  // a new request replaces what is playing
        g_queue.push_back(std::move(r));
    }
    g_wake.notify_all();
    return 0;
}

DLLEXPORT int GetPlayCount(int* count) {
    if (!count) return -1;
    std::lock_guard<std::mutex> g(g_lock);
    *count = g_playCount;
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
    std::lock_guard<std::mutex> g(g_lock);
    g_videoOutput = index;
    return 0;
}

DLLEXPORT int SetAudioOutput(int index) {
    if (index != 0) return -1;
    std::lock_guard<std::mutex> g(g_lock);
    g_audioOutput = index;
    return 0;
}

DLLEXPORT int ExitPlayer() {
    {
        std::lock_guard<std::mutex> g(g_lock);
        g_exit = true;
    }
    g_wake.notify_all();
    return 0;
}
