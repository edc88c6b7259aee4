// The start-up worker that the main window starts once.
#include <cwchar>

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

// The home list is loaded into a copy and laid out under the lists' lock: nothing on
// screen reads it yet, and the thumbnail threads only start after it.
void LoadHomeList(int online) {
    VideoList staged = g_listHot;
    int r = ShowMe(&staged, online);
    LockLists();
    if (r == 0) g_listHot = std::move(staged);
    g_curList = &g_listHot;
    UnlockLists();
    if (r != 0) LOG(LOG_WARNING, L"GetListViewXML failed");
}

}  // namespace

DWORD InitThread(LPVOID param) {
    HWND mainWnd = *static_cast<HWND*>(param);
    auto end = [mainWnd]() -> DWORD {
        SendMessageW(mainWnd, WM_DESTROY, 0, 0);
        return 1;
    };
    int position = 0;
    SetProgress(position);
    SetStartupText(L"正在连接澜映,请稍候 ...");

    Connect(&g_connMgr, 0);
    int online = GetConnectStatus(&g_connMgr);
    int step = online ? 200 : 250;
    position += step;
    SetProgress(position);
    SetStartupText(L"正在初始化 ...");

    OpenKey(REG_PATH_SEARCHWORD, &g_hKeySearchWord);
    if (GetSearchWordReg(g_hKeySearchWord, g_skin.searchHistory, g_skin.searchHistoryCount) != 0)
        LOG(LOG_WARNING, L"GetSearchWordReg failed");
    OpenKey(REG_PATH_FULLSCREEN, &g_hKeyFullScreen);
    OpenKey(REG_PATH_DRIVER, &g_hKeyDriver);
    OpenKey(REG_PATH_IGNOREVERSION, &g_hKeyIgnoreVersion);

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
    LoadHomeList(online);

    position += step;
    SetProgress(position);
    SetStartupText(L"正在启动 TouchFlo ...");

    if (InitTf() != 0) {
        LOG(LOG_WARNING, L"InitTf failed");
        return end();
    }
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
