#include "update.h"

#include <string>

#include "download.h"
#include "entryGlobals.h"
#include "files.h"
#include "listView.h"
#include "listview.h"
#include "log.h"
#include "parseXML.h"
#include "registry.h"
#include "tools.h"
#include "platform/commctrl.h"
#include "platform/shellapi.h"

namespace {

const wchar_t kOptionalText[] =
    L"发现可升级版本,是否立即升级?(是,升级;否,跳过;取消,不再提醒本版本。)\r\n\r\n当前版本号:\r\n%s\r\n"
    L"新版本号:\r\n%s\r\n主要更新功能:\r\n%s";
const wchar_t kCompulsoryText[] =
    L"发现新版本,升级后才能继续使用,是否立即升级?(是,升级;否,退出。)\r\n\r\n当前版本号:\r\n%s\r\n"
    L"新版本号:\r\n%s\r\n主要更新功能:\r\n%s";

struct UpdateFiles {
    CStringW updater;  // Update\LMUpdate.exe
    CStringW copy;     // Update\LMUpdate_cp.exe, the one started
    CStringW package;  // Update\Lumeo_<version>.CAB
};

// A path that would not fit is not cut: it would name another file.
bool BuildPath(CStringW& out, const wchar_t* format, const wchar_t* appDir, const wchar_t* name = nullptr) {
    wchar_t buffer[UPDATE_PATH_LEN];
    int n = name ? platform::FormatInto(buffer, UPDATE_PATH_LEN, format, appDir, name)
                 : platform::FormatInto(buffer, UPDATE_PATH_LEN, format, appDir);
    if (n < 0) return false;
    out = buffer;
    return true;
}

void Progress(int position) { SendMessageW(g_hProgress, PBM_SETPOS, static_cast<WPARAM>(position), 0); }

int AskUser(HWND owner, const wchar_t* format, const UpdateInfo& info, UINT type) {
    CStringW text;
    text.Format(format, PROGRAM_VERSION, info.ver.GetString(), info.desc.GetString());
    int answer = MessageBoxW(owner, text, L"Update", type);
    if (answer == 0) {
        g_errno = GetLastError();
        LOG(LOG_WARNING, L"MessageBox failed : ret=%d, errno=%d, msg=%s", answer, g_errno, GetErrorMsg(g_errno));
    }
    return answer;
}

// Copies the updater, downloads the package and starts the copy: -3, or -1 on a failure.
int Install(const wchar_t* appDir, const UpdateInfo& info, const UpdateFiles& files) {
    Progress(0);
    SetStartupText(L"正在准备更新...");
    if (MyCopyFile(files.updater, files.copy) != 0) {
        LOG(LOG_WARNING, L"MyCopyFile failed");
        return -1;
    }

    Progress(333);
    SetStartupText(L"正在下载更新,请稍候...");
    CStringA unused;
    if (DownloadEx(&g_downloader, info.down, nullptr, files.package, 1, 0, unused, 1) != 0) {
        LOG(LOG_WARNING, L"DownloadEx failed");
        return -1;
    }

    Progress(666);
    SetStartupText(L"下载完成,准备安装...");
    CStringW commandLine;
    commandLine.Format(L"type=%d|%s\\Lumeo.exe|%s", UPDATE_CMD_TYPE, appDir, files.package.GetString());
    SHELLEXECUTEINFOW sei{};
    sei.cbSize = sizeof sei;
    sei.fMask = SEE_MASK_NOCLOSEPROCESS;
    sei.lpVerb = L"Open";
    sei.lpFile = files.copy;
    sei.lpParameters = commandLine;
    sei.nShow = SW_SHOWNORMAL;
    // An updater that did not start must not end the program for nothing.
    if (!ShellExecuteExW(&sei)) {
        g_errno = GetLastError();
        LOG(LOG_WARNING, L"ShellExecuteEx failed : errno=%d, msg=%s, file=%s", g_errno, GetErrorMsg(g_errno),
            files.copy.GetString());
        return -1;
    }
    if (sei.hProcess) CloseHandle(sei.hProcess);  // it runs on after we end

    Progress(999);
    return -3;
}

}  // namespace

int checkUpdate(HWND owner, const wchar_t* appDir) {
    UpdateFiles files;
    if (!appDir || !BuildPath(files.updater, L"%s\\Update\\LMUpdate.exe", appDir) ||
        !BuildPath(files.copy, L"%s\\Update\\LMUpdate_cp.exe", appDir)) {
        LOG(LOG_WARNING, L"program directory too long for the update files");
        return -1;
    }
    // The copy an earlier update started; missing is fine.
    DeleteFileW(files.copy);
    // A package download cut short by a kill leaves its part file; the version it was for
    // may never be offered again.
    CStringW updateDir;
    if (BuildPath(updateDir, L"%s\\Update", appDir) && DeleteAllFiles(updateDir, L"*.part.CAB") != 0)
        LOG(LOG_WARNING, L"DeleteAllFiles failed.");

    CStringW url, xmlPath;
    if (BuildVersionRequest(url, xmlPath) != 0) {
        LOG(LOG_WARNING, L"BuildVersionRequest failed");
        return -1;
    }
    CStringA unused;
    if (DownloadEx(&g_downloader, url, nullptr, xmlPath, 0, 1, unused, 1) != 0) {
        LOG(LOG_WARNING, L"DownloadEx failed : updateXML=%s", url.GetString());
        return -1;
    }
    // Exit was chosen while the answer came: nobody is there to be asked.
    if (ProgramClosing()) return 0;

    UpdateInfo info;
    EnterCriticalSection(&g_csXml);
    int parsed = GetUpdateInfo(xmlPath, info);
    LeaveCriticalSection(&g_csXml);
    if (parsed != 0) {
        LOG(LOG_WARNING, L"GetUpdateInfo failed : wXMLPath=%s", xmlPath.GetString());
        return -1;
    }

    if (info.type == 0 || info.type == 1) return 0;
    if (info.type != 2 && info.type != 3) {
        LOG(LOG_WARNING, L"Unknown type=%d.", info.type);
        return -1;
    }
    // An offer without a version or an address cannot be taken, nor skipped.
    if (info.ver.IsEmpty() || info.down.IsEmpty()) {
        LOG(LOG_WARNING, L"Update offer incomplete : type=%d, ver=%s, down=%s", info.type, info.ver.GetString(),
            info.down.GetString());
        return -1;
    }
    // The updater reads its command line by "|" and has no quoting: such a folder cannot be passed.
    if (std::wcspbrk(appDir, L"|\"")) {
        LOG(LOG_WARNING, L"program directory cannot be passed to the updater : %s", appDir);
        return -1;
    }
    // The version names the package file: it must stay one name inside Update.
    CStringW safeVersion = SafeFileNamePart(info.ver);
    if (!BuildPath(files.package, L"%s\\Update\\Lumeo_%s.CAB", appDir, safeVersion.GetString())) {
        LOG(LOG_WARNING, L"package path too long : ver=%s", info.ver.GetString());
        return -1;
    }

    if (info.type == 2) {
        CStringW ignored;
        if (GetIgnoreVersionReg(g_hKeyIgnoreVersion, ignored) != 0) {
            LOG(LOG_WARNING, L"GetIgnoreVersionReg failed");
            ignored.Empty();
        }
        if (!ignored.IsEmpty() && ignored == info.ver) return 0;
        int answer = AskUser(owner, kOptionalText, info, MB_YESNOCANCEL | MB_ICONINFORMATION);
        if (answer == 0) return -1;
        if (answer == IDCANCEL) {
            if (SetIgnoreVersionReg(g_hKeyIgnoreVersion, info.ver) != 0) LOG(LOG_WARNING, L"SetIgnoreVersionReg failed");
            return 0;
        }
        if (answer != IDYES) return 0;
    } else {
        int answer = AskUser(owner, kCompulsoryText, info, MB_YESNO | MB_ICONINFORMATION);
        if (answer == 0) return -1;
        if (answer != IDYES) return -2;
    }
    return Install(appDir, info, files);
}
