// The start-up worker that the main window starts once.
#include <cwchar>
#include <vector>

#include "connMgr.h"
#include "download.h"
#include "entryGlobals.h"
#include "files.h"
#include "listView.h"
#include "listview.h"
#include "log.h"
#include "lumeo.h"
#include "player.h"
#include "pictures.h"
#include "registry.h"
#include "scroller.h"
#include "skin.h"
#include "tools.h"
#include "update.h"
#include "waitDlg.h"
#include "platform/commctrl.h"

namespace {

// The player thread's parameter: an empty command line that lives as long as it does.
wchar_t g_playerCommandLine[1];

void SetProgress(int position) { SendMessageW(g_hProgress, PBM_SETPOS, static_cast<WPARAM>(position), 0); }

std::wstring Folder(const wchar_t* name) {
    wchar_t path[512];
    _snwprintf(path, 512, L"%s\\%s\\", g_appDir, name);
    path[511] = 0;
    return path;
}

void OpenKey(const wchar_t* path, HKEY* key) {
    if (MyOpenReg(HKEY_CURRENT_USER, path, key) != 0) LOG(LOG_WARNING, L"MyOpenReg failed");
}

// The keys and the search history are read into the thread's own copies and handed over
// only while the program runs: once exit is chosen the frame has closed the keys and
// released the skin's history slots, so the copies are dropped and the keys closed here.
bool ReadSettings() {
    int slots;
    {
        platform::CsLock lock(&g_csRunning);
        if (g_running != 1) return false;
        slots = g_skin.searchHistoryCount;
    }
    std::vector<CStringW> words(static_cast<size_t>(slots > 0 ? slots : 0));
    HKEY searchWord = nullptr, fullScreen = nullptr, driver = nullptr, ignoreVersion = nullptr;
    OpenKey(REG_PATH_SEARCHWORD, &searchWord);
    if (GetSearchWordReg(searchWord, words.data(), static_cast<int>(words.size())) != 0)
        LOG(LOG_WARNING, L"GetSearchWordReg failed");
    OpenKey(REG_PATH_FULLSCREEN, &fullScreen);
    OpenKey(REG_PATH_DRIVER, &driver);
    OpenKey(REG_PATH_IGNOREVERSION, &ignoreVersion);

    platform::CsLock lock(&g_csRunning);
    if (g_running != 1) {
        for (HKEY key : {searchWord, fullScreen, driver, ignoreVersion})
            if (key) MyCloseReg(key);
        return false;
    }
    g_hKeySearchWord = searchWord;
    g_hKeyFullScreen = fullScreen;
    g_hKeyDriver = driver;
    g_hKeyIgnoreVersion = ignoreVersion;
    for (int i = 0; i < slots && i < g_skin.searchHistoryCount; ++i)
        g_skin.searchHistory[i] = words[static_cast<size_t>(i)];
    return true;
}

// The home list is loaded into a copy and laid out under the lists' lock: nothing on
// screen reads it yet, and the thumbnail threads only start after it. False when the
// program ended meanwhile.
bool LoadHomeList(int online) {
    VideoList staged = g_listHot;
    int r = ShowMe(&staged, online);
    if (ProgramClosing()) return false;
    LockLists();
    if (r == 0) g_listHot = std::move(staged);
    g_curList = &g_listHot;
    UnlockLists();
    if (r != 0) LOG(LOG_WARNING, L"GetListViewXML failed");
    return true;
}

}  // namespace

DWORD InitThread(LPVOID param) {
    HWND mainWnd = *static_cast<HWND*>(param);
    auto end = [mainWnd]() -> DWORD {
        SendMessageW(mainWnd, WM_DESTROY, 0, 0);
        return 1;
    };
    // Exit chosen meanwhile: the program is ending and the start goes no further. Each wait
    // (the connection, the update check, the home list) is followed by that check, and so is
    // the start of the threads.
    const DWORD stopped = 1;
    int position = 0;
    SetProgress(position);
    SetStartupText(L"正在连接澜映,请稍候 ...");

    Connect(&g_connMgr, 0);
    int online = GetConnectStatus(&g_connMgr);
    if (ProgramClosing()) return stopped;
    int step = online ? 200 : 250;
    position += step;
    SetProgress(position);
    SetStartupText(L"正在初始化 ...");

    if (!ReadSettings()) return stopped;

    for (const wchar_t* name : {L"Image", L"Xml", L"Res"}) {
        std::wstring path = Folder(name);
        if (MyCreateDirectory(path.c_str()) != 0) {
            LOG(LOG_WARNING, L"Can't create directory : %s", path.c_str());
            return end();
        }
    }

    if (online) {
        position += step;
        SetProgress(position);
        int r = checkUpdate(g_hStupWnd, g_appDir);
        if (ProgramClosing()) return stopped;
        if (r == -2 || r == -3) return end();
        if (r != 0) LOG(LOG_WARNING, L"checkUpdate failed : ret=%d", r);
    }
    position += step;
    SetProgress(position);

    if (online) {
        SetStartupText(L"下载视频列表 ...");
        if (DeleteAllFiles(Folder(L"Xml").c_str(), L"*") != 0) LOG(LOG_WARNING, L"DeleteAllFiles failed.");
        if (DeleteAllFiles(Folder(L"Image").c_str(), L"*.jpg") != 0) LOG(LOG_WARNING, L"DeleteAllFiles failed.");
    } else {
        SetStartupText(L"加载脱机视频列表 ...");
    }

    // The home tab is made current with the home list by the main window, on 0x592.
    if (!LoadHomeList(online)) return stopped;

    position += step;
    SetProgress(position);
    SetStartupText(L"正在启动 TouchFlo ...");

    if (InitTf() != 0) {
        LOG(LOG_WARNING, L"InitTf failed");
        return end();
    }
    // No thumbnail thread nor the player core is started for a program that is ending.
    if (ProgramClosing()) return stopped;
    Scroller* scroller = g_orientation == 1 ? &g_scrollerPortrait : &g_scrollerLandscape;
    if (LoadPicture(&g_downloader, GetItems(g_curList), online, scroller, GetRssType(g_curList)) != 0) {
        LOG(LOG_WARNING, L"LoadPicture failed");
        return end();
    }
    g_hPlayerThread = CreateThread(nullptr, 0, PlayerThread, g_playerCommandLine, 0, nullptr);
    if (!g_hPlayerThread) {
        LOG(LOG_ERROR, L"PlayerThread failed");
        return end();
    }
    CloseHandle(g_hPlayerThread);
    g_hPlayerThread = nullptr;

    position += step;
    SetProgress(position);
    SendMessageW(mainWnd, WM_INIT_DONE, 0, 0);
    return 0;
}
