#include "player.h"

#include <cwchar>
#include <mutex>
#include <shared_mutex>
#include <string_view>

#include "connMgr.h"
#include "lumeo.h"
#include "log.h"
#include "parseXML.h"
#include "phoneInfo.h"
#include "registry.h"
#include "tools.h"
#include "platform/codepage.h"
#include "platform/module.h"

std::atomic<GetPlayerInfoProc> FuncGetPlayerInfo;
std::atomic<GetPlayCountProc> FuncGetPlayCount;
std::atomic<SetVideoOutputProc> FuncSetVideoOutput;
std::atomic<SetAudioOutputProc> FuncSetAudioOutput;
std::atomic<PlayVideoProc> FuncPlayVideo;
std::atomic<MainProc> FuncMain;

PlayerInfo g_playerInfo;
char16_t g_playRequest[PLAY_REQUEST_CHARS];
int g_lastPlayCount;
int g_driverChosen;
int g_playerMode = 3;
HANDLE g_hPlayerThread;
HANDLE g_hCheckThread;

namespace {

const wchar_t kAppName[] = L"澜映";

struct DriverPreference {
    wchar_t model[32];
    wchar_t driver[32];
    DWORD flag;
};
const DriverPreference kDriverPreferences[] = {
    {L"T5388W", L"GDI", 1},
    {L"Topaz", L"GDI", 1},
    {L"DOPOD", L"GDI", 0},
    {L"HTC", L"GDI", 0},
};

// Held shared around every call into the core, and alone while the entry points are
// cleared before the core is unloaded.
std::shared_mutex& CoreCalls() {
    static auto* m = new std::shared_mutex;  // the player thread may still use it as the process ends
    return *m;
}

template <class Proc, class... Args>
bool CallCore(const std::atomic<Proc>& entry, int* result, Args... args) {
    std::shared_lock<std::shared_mutex> hold(CoreCalls());
    Proc f = entry.load();
    if (!f) return false;
    int r = f(args...);
    if (result) *result = r;
    return true;
}

void ClearEntryPoints() {
    std::unique_lock<std::shared_mutex> hold(CoreCalls());
    FuncGetPlayerInfo = nullptr;
    FuncGetPlayCount = nullptr;
    FuncSetVideoOutput = nullptr;
    FuncSetAudioOutput = nullptr;
    FuncPlayVideo = nullptr;
    FuncMain = nullptr;
}

// Looks the entry point up by its plain name, then by its decorated one ("_<name>@16");
// logs the one that is missing.
template <class Proc>
bool Resolve(HMODULE module, const wchar_t* name, std::atomic<Proc>& into) {
    FARPROC p = GetProcAddressW(module, name);
    if (!p) p = GetProcAddressW(module, CStringW(L"_") + name + L"@16");
    if (!p) {
        LOG(LOG_WARNING, L"can't load Func%s function", name);
        return false;
    }
    into = reinterpret_cast<Proc>(p);
    return true;
}

// Comparisons ignore the case of Latin letters.
CStringW Upper(const wchar_t* text) {
    CStringW s(text);
    s.MakeUpper();
    return s;
}

bool Contains(const CStringW& text, const wchar_t* part) { return std::wcsstr(text.GetString(), part) != nullptr; }

// The first video slot whose upper-cased name holds `part` (upper case), or -1.
int FindVideoDriver(int count, const wchar_t* part) {
    CStringW wanted = Upper(part);
    for (int i = 0; i < count; ++i)
        if (Contains(Upper(DriverName(g_playerInfo.videoDrivers[i]).GetString()), wanted.GetString())) return i;
    return -1;
}

// The play request's strings in order, each with its terminator, into the block; the
// rest of the block zeroed. Nothing is written unless all of them fit.
class RequestWriter {
public:
    // Every string takes at least two units, so no request that fits has more.
    static constexpr size_t kMax = PLAY_REQUEST_CHARS / 2;

    void Reset() { count_ = units_ = 0; }
    void Add(std::wstring_view text) {
        if (count_ == kMax) {
            units_ = PLAY_REQUEST_CHARS + 1;  // cannot fit
            return;
        }
        strings_[count_++] = text;
        units_ += platform::WideToUtf16(text, nullptr, 0) + 1;
    }
    // Numbers are signed 32-bit decimals: sums that pass 2^31 wrap.
    void Add(uint32_t value) {
        if (count_ == kMax) return Add(std::wstring_view());
        wchar_t* text = numbers_[count_];
        _snwprintf(text, 12, L"%d", static_cast<int32_t>(value));
        Add(std::wstring_view(text));
    }
    bool WriteTo(char16_t* block, size_t capacity) const {
        if (units_ > capacity) return false;
        size_t at = 0;
        for (size_t i = 0; i < count_; ++i) {
            at += platform::WideToUtf16(strings_[i], block + at, capacity - at);
            block[at++] = 0;
        }
        for (; at < capacity; ++at) block[at] = 0;
        return true;
    }

private:
    std::wstring_view strings_[kMax];
    wchar_t numbers_[kMax][12];
    size_t count_ = 0;
    size_t units_ = 0;
};

}  // namespace

bool CallGetPlayerInfo(PlayerInfo* info, int* result) { return CallCore(FuncGetPlayerInfo, result, info); }
bool CallGetPlayCount(int* count) { return CallCore(FuncGetPlayCount, nullptr, count); }
bool CallSetVideoOutput(int index) { return CallCore(FuncSetVideoOutput, nullptr, index); }
bool CallSetAudioOutput(int index) { return CallCore(FuncSetAudioOutput, nullptr, index); }
bool CallPlayVideo(const char16_t* request, int* result) { return CallCore(FuncPlayVideo, result, request); }

int VideoDriverCount(const PlayerInfo& info) {
    return info.videoDriverCount < 0 ? 0 : info.videoDriverCount > DRIVER_SLOTS ? DRIVER_SLOTS : info.videoDriverCount;
}
int AudioDriverCount(const PlayerInfo& info) {
    return info.audioDriverCount < 0 ? 0 : info.audioDriverCount > DRIVER_SLOTS ? DRIVER_SLOTS : info.audioDriverCount;
}

CStringW DriverName(const DriverSlot& slot) {
    size_t n = 0;
    while (n < DRIVER_NAME_CHARS && slot.name[n]) ++n;
    return CStringW(platform::Utf16ToWide(std::u16string_view(slot.name, n)).c_str());
}

DWORD PlayerThread(LPVOID commandLine) {
    const wchar_t* text = commandLine ? static_cast<const wchar_t*>(commandLine) : L"";
    if (Player(text) != 0) {
        LOG(LOG_WARNING, L"Player failed");
        return 1;
    }
    return 0;
}

int Player(const wchar_t* commandLine) {
    if (FindPlayerWindow(commandLine) == 1) return 0;
    HANDLE mutex = CreateMutexW(nullptr, FALSE, kAppName);
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(mutex);
        return 0;
    }
    HMODULE module = LoadPlayerModule(L"interface.plg");
    if (!module) {
        if (mutex) CloseHandle(mutex);
        return 0;
    }
    // Entry points resolved before a missing one stay usable; the module and the mutex
    // then stay for the rest of the run.
    if (!Resolve(module, L"GetPlayerInfo", FuncGetPlayerInfo) || !Resolve(module, L"GetPlayCount", FuncGetPlayCount) ||
        !Resolve(module, L"SetVideoOutput", FuncSetVideoOutput) ||
        !Resolve(module, L"SetAudioOutput", FuncSetAudioOutput) || !Resolve(module, L"PlayVideo", FuncPlayVideo) ||
        !Resolve(module, L"Main", FuncMain))
        return -1;
    FuncMain.load()(kAppName, L"v1.01.15.06007", g_playerMode, commandLine);
    // The core has ended: nothing may call into it once it is gone.
    ClearEntryPoints();
    FreeLibrary(module);
    if (mutex) CloseHandle(mutex);
    return 0;
}

BOOL FindOwnedWindowProc(HWND hwnd, LPARAM found) {
    HWND* current = reinterpret_cast<HWND*>(found);
    if (GetWindow(hwnd, GW_OWNER) != *current) return TRUE;
    *current = hwnd;
    return FALSE;
}

int FindPlayerWindow(const wchar_t* commandLine) {
    wchar_t className[32];
    _snwprintf(className, 32, L"%s_Win", kAppName);
    className[31] = 0;
    HWND target = FindWindowW(className, nullptr);
    if (!target) return 0;
    // The window that takes input: the target, or the window it is waiting on (a dialog).
    HWND current = target;
    for (int depth = 0; depth < 32 && !IsWindowEnabled(current); ++depth) {
        HWND owned = current;
        EnumWindows(FindOwnedWindowProc, reinterpret_cast<LPARAM>(&owned));
        if (owned == current) break;
        current = owned;
    }
    SetForegroundWindow(current);
    if (commandLine && *commandLine) {
        std::u16string text = platform::WideToUtf16(commandLine);
        COPYDATASTRUCT data{0, static_cast<DWORD>((text.size() + 1) * sizeof(char16_t)), text.data()};
        SendMessageW(target, WM_COPYDATA, reinterpret_cast<WPARAM>(target), reinterpret_cast<LPARAM>(&data));
    }
    return 1;
}

HMODULE LoadPlayerModule(const wchar_t* name) {
    wchar_t path[512];
    DWORD n = GetModuleFileNameW(nullptr, path, 512);
    path[n < 512 ? n : 511] = 0;
    if (wchar_t* slash = std::wcsrchr(path, L'\\')) slash[1] = 0;
    else path[0] = 0;
    size_t used = std::wcslen(path);
    HMODULE module = nullptr;
    if (used + std::wcslen(name) < 512) {
        std::wcscat(path, name);
        module = LoadLibraryW(path);
    }
    return module ? module : LoadLibraryW(name);
}

int SetDriver() {
    int result = 0;
    if (CallGetPlayerInfo(&g_playerInfo, &result) && result != 0) {
        LOG(LOG_WARNING, L"FuncGetPlayerInfo failed");
        return -1;
    }
    int count = VideoDriverCount(g_playerInfo);
    // A choice the user made on the settings sheet wins over the phone's default.
    if (g_hKeyDriver) {
        int audio = 0;
        if (GetAudioDriverReg(g_hKeyDriver, audio) == 0 && audio >= 0 && audio < AudioDriverCount(g_playerInfo))
            CallSetAudioOutput(audio);
        int stored = -1;
        if (GetVideoDriverReg(g_hKeyDriver, stored) == 0 && stored >= 0 && stored < count) {
            LOG(LOG_NOTICE, L"video driver %d \"%s\": the stored choice", stored,
                DriverName(g_playerInfo.videoDrivers[stored]).GetString());
            CallSetVideoOutput(stored);
            return 0;
        }
    }
    wchar_t oem[512];
    if (GetPhoneOEM(oem, 512) != 0) {
        LOG(LOG_WARNING, L"GetPhoneOEM failed");
        return -1;
    }
    CStringW device = Upper(oem);
    int chosen = -1;
    for (const DriverPreference& row : kDriverPreferences) {
        if (!Contains(device, Upper(row.model).GetString())) continue;
        chosen = FindVideoDriver(count, row.driver);
        break;
    }
    if (chosen < 0) {
        chosen = FindVideoDriver(count, L"GDI");
        if (chosen < 0) chosen = FindVideoDriver(count, L"RAW帧缓冲");
        if (chosen < 0) chosen = 0;
    }
    // A core without video drivers has nothing to choose from.
    if (count > 0) {
        LOG(LOG_NOTICE, L"video driver %d \"%s\" for the device \"%s\"", chosen,
            DriverName(g_playerInfo.videoDrivers[chosen]).GetString(), oem);
        CallSetVideoOutput(chosen);
    } else {
        LOG(LOG_NOTICE, L"no video driver to choose for the device \"%s\"", oem);
    }
    return 0;
}

int callPlayer(const VideoItem& video, int videoType) {
    const std::vector<Segment>* list;
    switch (videoType) {
    case 1: list = &video.stream; break;
    case 2: list = &video.streamMp4; break;
    case 3: list = &video.stream3gp; break;
    default:
        LOG(LOG_WARNING, L"unknown videoType : %d", videoType);
        return -1;
    }
    const std::vector<Segment>& segments = *list;
    // Built on the user-interface thread only: one writer serves every play.
    static RequestWriter request;
    request.Reset();
    request.Add(video.duration.GetString());
    request.Add(video.title.GetString());
    request.Add(static_cast<uint32_t>(segments.size()));
    uint32_t total = 0;
    for (const Segment& s : segments) total += s.size;
    request.Add(total);
    uint32_t offset = 0, seconds = 0;
    for (const Segment& s : segments) {
        request.Add(offset);
        offset += s.size;
    }
    for (const Segment& s : segments) {
        request.Add(seconds);
        seconds += s.seconds;
    }
    for (const Segment& s : segments) request.Add(std::wstring_view(s.url.GetString()));
    if (!request.WriteTo(g_playRequest, PLAY_REQUEST_CHARS)) return -1;
    int result = 0;
    if (!CallPlayVideo(g_playRequest, &result)) return 0;
    if (result != 0) {
        LOG(LOG_WARNING, L"FuncPlayVideo failed");
        return -1;
    }
    return 0;
}

int BeginPlayVideo(HWND hwnd) {
    if (GetConnectStatus(&g_connMgr) == 0) {
        MessageBoxW(hwnd, L"无法连接网络", L"通知", MB_OK);
        LOG(LOG_WARNING, L"GetConnectStatus return FALSE.");
        return -1;
    }
    SetCursor(LoadCursorW(nullptr, IDC_WAIT));
    if (g_driverChosen == 0) {
        g_driverChosen = 1;
        if (SetDriver() != 0) LOG(LOG_WARNING, L"SetDriver failed");
    }
    if (callPlayer(g_curVideo, 1) != 0) {
        LOG(LOG_WARNING, L"callPlayer failed.");
        SetCursor(LoadCursorW(nullptr, IDC_ARROW));
        return -1;
    }
    SetCursor(LoadCursorW(nullptr, IDC_ARROW));
    g_hCheckThread = CreateThread(nullptr, 0, CheckPlayThread, hwnd, 0, nullptr);
    if (!g_hCheckThread) {
        LOG(LOG_WARNING, L"CheckPlayThread Create failed");
        return -1;
    }
    CloseHandle(g_hCheckThread);
    g_hCheckThread = nullptr;
    return 0;
}

namespace {
std::atomic<PlayCheckSleep> g_checkSleep{Sleep};
}  // namespace

void SetPlayCheckSleep(PlayCheckSleep sleep) { g_checkSleep.store(sleep ? sleep : Sleep); }

DWORD CheckPlayThread(LPVOID) {
    PlayCheckSleep sleep = g_checkSleep.load();
    sleep(1000);
    for (int poll = 0; poll < 120; ++poll) {
        int count = 0;
        if (!CallGetPlayCount(&count)) break;
        if (count > g_lastPlayCount) {
            g_lastPlayCount = count;
            break;
        }
        sleep(500);
    }
    EnterCriticalSection(&g_csPlay);
    g_playBusy = 0;
    LeaveCriticalSection(&g_csPlay);
    g_dtlViewMode = 2;
    return 0;
}
