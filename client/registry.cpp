#include "registry.h"

#include <cstring>

#include "log.h"
#include "platform/codepage.h"
#include "platform/crt.h"
#include "platform/device.h"

HKEY g_hKeySearchWord = nullptr;
HKEY g_hKeyFullScreen = nullptr;
HKEY g_hKeyDriver = nullptr;
HKEY g_hKeyIgnoreVersion = nullptr;

namespace {

// Every read passes this capacity: 255 characters and the terminator, counted as on the phone.
constexpr DWORD kReadBytes = 512;

LONG WriteText(HKEY key, const wchar_t* name, const wchar_t* text) {
    // The size counts UTF-16 units with the terminator, as the registry measures text.
    DWORD cb = static_cast<DWORD>((platform::WideToUtf16(text).size() + 1) * 2);
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), cb);
}

// Reads a value as text into `out`; whatever type it has, the result is terminated.
LONG ReadText(HKEY key, const wchar_t* name, CStringW& out) {
    wchar_t buf[kReadBytes / 2 + 1] = {};
    DWORD type = 0, cb = kReadBytes;
    LONG r = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buf), &cb);
    buf[kReadBytes / 2] = 0;
    out = r == ERROR_SUCCESS ? CStringW(buf) : CStringW();
    return r;
}

int SetDriver(HKEY key, const wchar_t* name, int index) {
    CStringW text;
    text.Format(L"%d", index);
    LONG r = WriteText(key, name, text);
    if (r != ERROR_SUCCESS) {
        LOG(LOG_WARNING, L"RegSetValueEx failed, errno=%lu, msg=%s", static_cast<DWORD>(r), GetErrorMsg(r));
        return -1;
    }
    return 0;
}

int GetDriver(HKEY key, const wchar_t* name, int& index, int absent) {
    CStringW text;
    LONG r = ReadText(key, name, text);
    if (r == ERROR_SUCCESS) {
        index = _wtol(text);
        return 0;
    }
    index = absent;
    if (r == ERROR_FILE_NOT_FOUND) return 0;
    LOG(LOG_WARNING, L"RegQueryValueEx failed, errno=%lu, msg=%s", static_cast<DWORD>(r), GetErrorMsg(r));
    return -1;
}

CStringW WordName(int n) {
    CStringW name;
    name.Format(L"SearchWord_%d", n);
    return name;
}

}  // namespace

int MyOpenReg(HKEY root, const wchar_t* path, HKEY* key) {
    DWORD disposition = 0;
    LONG r = RegCreateKeyExW(root, path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, key,
                             &disposition);
    if (r != ERROR_SUCCESS) {
        LOG(LOG_WARNING, L"RegCreateKeyEx failed, errno=%lu, msg=%s", static_cast<DWORD>(r), GetErrorMsg(r));
        return -1;
    }
    return 0;
}

LONG MyCloseReg(HKEY key) { return RegCloseKey(key); }

int SetSearchWordReg(HKEY key, const CStringW* words, int count) {
    for (int n = 0; n < count; ++n) {
        LONG r = WriteText(key, WordName(n), words[n]);
        if (r != ERROR_SUCCESS) {
            LOG(LOG_WARNING, L"RegSetValueEx failed, errno=%lu, msg=%s", static_cast<DWORD>(r), GetErrorMsg(r));
            return -1;
        }
    }
    return 0;
}

int GetSearchWordReg(HKEY key, CStringW* words, int count) {
    for (int n = 0; n < count; ++n) {
        LONG r = ReadText(key, WordName(n), words[n]);
        if (r == ERROR_SUCCESS) continue;
        for (int k = n; k < count; ++k) words[k].Empty();
        if (r == ERROR_FILE_NOT_FOUND) return 0;
        LOG(LOG_WARNING, L"RegQueryValueEx failed, errno=%lu, msg=%s", static_cast<DWORD>(r), GetErrorMsg(r));
        return -1;
    }
    return 0;
}

int ClearSearchWordReg(HKEY key) {
    for (int n = 0;; ++n) {
        LONG r = RegDeleteValueW(key, WordName(n));
        if (r == ERROR_SUCCESS) continue;
        if (r == ERROR_FILE_NOT_FOUND) return 0;
        LOG(LOG_WARNING, L"RegDeleteValue failed, errno=%lu, msg=%s", static_cast<DWORD>(r), GetErrorMsg(r));
        return -1;
    }
}

int SetFullScreenDirReg(HKEY key) {
    DEVMODEW mode;
    std::memset(&mode, 0, sizeof(mode));
    mode.dmSize = sizeof(mode);
    mode.dmFields = DM_DISPLAYQUERYORIENTATION;
    LONG q = ChangeDisplaySettingsEx(nullptr, &mode, nullptr, CDS_TEST, nullptr);
    if (q == DISP_CHANGE_SUCCESSFUL) {
        mode.dmFields = DM_DISPLAYORIENTATION;
        q = ChangeDisplaySettingsEx(nullptr, &mode, nullptr, CDS_TEST, nullptr);
    }
    // Without an answer there is no direction to record.
    if (q != DISP_CHANGE_SUCCESSFUL) {
        LOG(LOG_WARNING, L"ChangeDisplaySettingsEx failed, result=%d", q);
        return -1;
    }
    DWORD value;
    switch (mode.dmDisplayOrientation) {
        case DMDO_90:
            value = 5;
            break;
        case DMDO_270:
            value = 3;
            break;
        default:  // upright, upside down, or a value this program does not know
            return 0;
    }
    LONG r = RegSetValueExW(key, L"FullScreenDirection", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                            sizeof(value));
    if (r != ERROR_SUCCESS) {
        LOG(LOG_WARNING, L"RegSetValueEx failed, errno=%lu, msg=%s", static_cast<DWORD>(r), GetErrorMsg(r));
        return -1;
    }
    return 0;
}

int SetVideoDriverReg(HKEY key, int index) { return SetDriver(key, L"VideoId", index); }
int GetVideoDriverReg(HKEY key, int& index) { return GetDriver(key, L"VideoId", index, -1); }
int SetAudioDriverReg(HKEY key, int index) { return SetDriver(key, L"AudioId", index); }
int GetAudioDriverReg(HKEY key, int& index) { return GetDriver(key, L"AudioId", index, 0); }

int SetIgnoreVersionReg(HKEY key, const wchar_t* version) {
    CStringW text;
    text.Format(L"%s", version ? version : L"");
    LONG r = WriteText(key, L"IgnoreVersion", text);
    if (r != ERROR_SUCCESS) {
        LOG(LOG_WARNING, L"RegSetValueEx failed, errno=%lu, msg=%s", static_cast<DWORD>(r), GetErrorMsg(r));
        return -1;
    }
    return 0;
}

int GetIgnoreVersionReg(HKEY key, CStringW& version) {
    version.Empty();
    LONG r = ReadText(key, L"IgnoreVersion", version);
    if (r == ERROR_SUCCESS || r == ERROR_FILE_NOT_FOUND) return 0;
    LOG(LOG_WARNING, L"RegQueryValueEx failed, errno=%lu, msg=%s", static_cast<DWORD>(r), GetErrorMsg(r));
    return -1;
}
