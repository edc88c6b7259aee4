#include "LMUpdate.h"

#include <cstring>
#include <string>

#include "log.h"
#include "platform/aygshell.h"
#include "platform/gdi.h"
#include "platform/shellapi.h"
#include "platform/ui.h"

CStringW g_cmd;
HINSTANCE g_hInst;

namespace {

SHACTIVATEINFO g_sai;

const wchar_t kInstaller[] = L"\\Windows\\wceload.exe";

// Tells the user, keeps the error for the log line, and ends the updater.
void Fail(HWND hwnd, const wchar_t* text) {
    MessageBoxW(hwnd, text, nullptr, MB_OK);
    g_errno = GetLastError();
}

void RunJob(HWND hwnd) {
    std::memset(&g_sai, 0, sizeof g_sai);
    g_sai.cbSize = sizeof g_sai;
    LOG(LOG_NOTICE, L"cmd=\"%s\"", g_cmd.GetString());

    std::wstring cmd = g_cmd.GetString();
    size_t first = cmd.find(L'|');
    if (first == std::wstring::npos) {
        Fail(hwnd, L"升级未成功(01)");
        LOG(LOG_ERROR, L"Update failed : errno=%d, msg=%s, begin=%d, end=%d, g_cmd=%s", g_errno, GetErrorMsg(g_errno),
            0, -1, g_cmd.GetString());
        SendMessageW(hwnd, WM_DESTROY, 0, 0);
        return;
    }
    if (cmd.compare(0, first, L"type=1") != 0) {
        Fail(hwnd, L"升级未成功(04)");
        LOG(LOG_ERROR, L"Update failed : errno=%d, msg=%s, g_cmd=%s", g_errno, GetErrorMsg(g_errno),
            g_cmd.GetString());
        SendMessageW(hwnd, WM_DESTROY, 0, 0);
        return;
    }
    size_t begin = first + 1;
    size_t second = cmd.find(L'|', begin);
    if (second == std::wstring::npos) {
        Fail(hwnd, L"升级未成功(02)");
        LOG(LOG_ERROR, L"Update failed : errno=%d, msg=%s, begin=%d, end=%d, g_cmd=%s", g_errno, GetErrorMsg(g_errno),
            static_cast<int>(begin), -1, g_cmd.GetString());
        SendMessageW(hwnd, WM_DESTROY, 0, 0);
        return;
    }
    std::wstring program = cmd.substr(begin, second - begin);  // the main program; not needed here
    std::wstring package = cmd.substr(second + 1);

    // The main program ends once it has started us; give it time to close its files.
    Sleep(UPDATER_WAIT_MS);

    std::wstring parameters = L"\"" + package + L"\"";
    SHELLEXECUTEINFOW sei{};
    sei.cbSize = sizeof sei;
    sei.fMask = SEE_MASK_NOCLOSEPROCESS;
    sei.lpVerb = L"Open";
    sei.lpFile = kInstaller;
    sei.lpParameters = parameters.c_str();
    sei.nShow = SW_HIDE;
    if (!ShellExecuteExW(&sei)) {
        g_errno = GetLastError();
        LOG(LOG_ERROR, L"ShellExecuteEx failed : errno=%d, msg=%s, file=%s", g_errno, GetErrorMsg(g_errno),
            kInstaller);
    } else if (sei.hProcess) {
        CloseHandle(sei.hProcess);  // the installer runs on after we end
    }
    SendMessageW(hwnd, WM_DESTROY, 0, 0);
}

}  // namespace

int MyCreateDirectory(const wchar_t* dirPath) {
    if (!dirPath) {
        LOG(LOG_WARNING, L"DirPath == NULL");
        return -1;
    }
    if (CreateDirectoryW(dirPath, nullptr)) return 0;
    g_errno = GetLastError();
    // Only a folder that exists will do: a file of that name is no folder to work in.
    if (g_errno == ERROR_ALREADY_EXISTS) {
        DWORD attributes = GetFileAttributesW(dirPath);
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return 0;
    }
    LOG(LOG_WARNING, L"Can't create directory : errno=%d, msg=%s, path=%s", g_errno, GetErrorMsg(g_errno), dirPath);
    return -1;
}

int SetUpLog() {
    wchar_t path[UPDATER_PATH_LEN];
    SetLastError(ERROR_SUCCESS);
    DWORD n = GetModuleFileNameW(nullptr, path, UPDATER_PATH_LEN);
    // A cut path names some other folder: no log rather than folders made elsewhere.
    if (n == 0 || GetLastError() == ERROR_INSUFFICIENT_BUFFER) return -1;
    wchar_t* slash = wcsrchr(path, L'\\');
    if (!slash) return -1;
    *slash = 0;
    wchar_t logDir[UPDATER_LOG_DIR_LEN];
    if (platform::FormatInto(logDir, UPDATER_LOG_DIR_LEN, L"%s\\..\\Log\\", path) < 0) return -1;
    MyCreateDirectory(logDir);
    return InitLog(logDir, L"LMUpdate", 3);
}

int WinMain(HINSTANCE instance, HINSTANCE, LPWSTR commandLine, int showCommand) {
    g_cmd = commandLine ? commandLine : L"";
    SetUpLog();
    return RunUpdater(instance, showCommand);
}

int RunUpdater(HINSTANCE instance, int showCommand) {
    if (!InitInstance(instance, showCommand)) return 0;
    HACCEL accel = LoadAcceleratorsW(instance, MAKEINTRESOURCEW(IDA_LMUPDATE));
    MSG msg{};
    while (GetMessageW(&msg, nullptr, 0, 0)) {
        if (!TranslateAcceleratorW(msg.hwnd, accel, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    return static_cast<int>(msg.wParam);
}

BOOL InitInstance(HINSTANCE instance, int) {
    g_hInst = instance;
    SHOrdinal9();
    wchar_t title[100], className[100];
    LoadStringW(instance, IDS_APP_TITLE, title, 100);
    LoadStringW(instance, IDC_LMUPDATE, className, 100);

    // One updater at a time: a second start shows the first and ends.
    if (HWND running = FindWindowW(className, title)) {
        SetForegroundWindow(reinterpret_cast<HWND>(reinterpret_cast<uintptr_t>(running) | 1));
        return FALSE;
    }
    WNDCLASSW wc{};
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = WndProc;
    wc.hInstance = instance;
    wc.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_LMUPDATE));
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    wc.lpszClassName = className;
    if (!RegisterClassW(&wc)) return FALSE;
    platform::ui::PublishWindowClass(className);
    HWND hwnd = CreateWindowExW(0, className, title, WS_VISIBLE, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                CW_USEDEFAULT, nullptr, nullptr, instance, nullptr);
    if (!hwnd) return FALSE;
    ShowWindow(hwnd, SW_HIDE);
    UpdateWindow(hwnd);
    return TRUE;
}

LRESULT WndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case WM_CREATE:
            RunJob(hwnd);
            return 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        case WM_ACTIVATE:
            SHHandleWMActivate(hwnd, wParam, lParam, &g_sai, FALSE);
            return 0;
        case WM_SETTINGCHANGE:
            SHHandleWMSettingChange(hwnd, wParam, lParam, &g_sai);
            return 0;
        case WM_PAINT: {
            PAINTSTRUCT ps;
            BeginPaint(hwnd, &ps);
            EndPaint(hwnd, &ps);
            return 0;
        }
        default:
            return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
}

void RegisterResources() {
    platform::ui::AddString(IDS_APP_TITLE, L"LMUpdate");
    platform::ui::AddString(IDC_LMUPDATE, L"LMUPDATE");
    platform::ui::AddString(IDS_OK, L"OK");
    platform::ui::AddString(IDS_HELP, L"HELP");
    platform::ui::AddIcon(IDI_LMUPDATE);
    platform::ui::AddAccelerators(IDA_LMUPDATE, {{FCONTROL | FVIRTKEY, 'A', IDM_HELP_ABOUT},
                                                  {FCONTROL | FVIRTKEY, 'Q', IDM_OK}});
}
