#include "platform/device.h"

#include <openssl/evp.h>
#include <sys/utsname.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>

#include "platform/codepage.h"
#include "platform/lasterror.h"

namespace {

struct Overrides {
    std::mutex lock;
    std::optional<std::wstring> platformType, oemInfo;
    std::optional<bool> denied;
    std::optional<std::basic_string<BYTE>> id;
    HRESULT idFailure = S_OK;
};

Overrides& State() {
    static Overrides* s = new Overrides;  // usable from static constructors and destructors
    return *s;
}

std::optional<std::string> Env(const char* name) {
    const char* v = std::getenv(name);
    if (!v) return std::nullopt;
    return std::string(v);
}

std::wstring Setting(const std::optional<std::wstring>& over, const char* env, const wchar_t* fallback) {
    if (over) return *over;
    if (auto v = Env(env)) return platform::Utf8ToWide(*v);
    return fallback;
}

// "6.1.0-18-amd64" or "5.2.1235": up to three leading numbers.
void ParseVersion(const std::string& text, DWORD out[3]) {
    size_t pos = 0;
    for (int i = 0; i < 3 && pos < text.size(); ++i) {
        unsigned long long v = 0;
        size_t start = pos;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
            v = v * 10 + (text[pos++] - '0');
            if (v > 0xFFFFFFFFull) v = 0xFFFFFFFFull;
        }
        if (pos == start) break;
        out[i] = static_cast<DWORD>(v);
        if (pos >= text.size() || text[pos] != '.') break;
        ++pos;
    }
}

bool ReadMachineId(std::string& id) {
    std::optional<std::string> file = Env("LUMEO_MACHINE_ID_FILE");
    const char* candidates[] = {"/etc/machine-id", "/var/lib/dbus/machine-id"};
    for (int i = 0; i < (file ? 1 : 2); ++i) {
        std::ifstream in(file ? file->c_str() : candidates[i], std::ios::binary);
        if (!in) continue;
        std::stringstream s;
        s << in.rdbuf();
        id = s.str();
        while (!id.empty() && (id.back() == '\n' || id.back() == '\r' || id.back() == ' ' || id.back() == '\t'))
            id.pop_back();
        if (!id.empty()) return true;
    }
    return false;
}

BOOL CopyText(const std::wstring& text, UINT bytes, PVOID pv) {
    size_t capacity = bytes / sizeof(wchar_t);
    if (!pv || capacity == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    size_t n = text.size() < capacity ? text.size() : capacity - 1;
    std::wmemcpy(static_cast<wchar_t*>(pv), text.data(), n);
    static_cast<wchar_t*>(pv)[n] = 0;
    SetLastError(0);
    return TRUE;
}

}  // namespace

BOOL GetVersionExW(OSVERSIONINFOW* info) {
    if (!info) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    DWORD v[3] = {0, 0, 0};
    if (auto env = Env("LUMEO_OS_VERSION")) {
        ParseVersion(*env, v);
    } else {
        utsname u;
        if (uname(&u) == 0) ParseVersion(u.release, v);
    }
    info->dwMajorVersion = v[0];
    info->dwMinorVersion = v[1];
    info->dwBuildNumber = v[2];
    info->dwPlatformId = VER_PLATFORM_WIN32_CE;
    info->szCSDVersion[0] = 0;
    SetLastError(0);
    return TRUE;
}

BOOL SystemParametersInfoW(UINT action, UINT param, PVOID pv, UINT) {
    Overrides& s = State();
    std::lock_guard<std::mutex> g(s.lock);
    switch (action) {
        case SPI_GETPLATFORMTYPE: {
            bool denied = s.denied ? *s.denied : Env("LUMEO_PLATFORM_TYPE_DENIED").value_or("") == "1";
            if (denied) {
                SetLastError(ERROR_ACCESS_DENIED);
                return FALSE;
            }
            return CopyText(Setting(s.platformType, "LUMEO_PLATFORM_TYPE", L"PocketPC"), param, pv);
        }
        case SPI_GETOEMINFO:
            return CopyText(Setting(s.oemInfo, "LUMEO_OEM_INFO", L"Linux"), param, pv);
        default:
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
    }
}

HRESULT GetDeviceUniqueID(LPBYTE appData, DWORD appDataLength, DWORD version, LPBYTE output, DWORD* outputLength) {
    if (!appData || appDataLength < 8 || version != GETDEVICEUNIQUEID_V1) return E_INVALIDARG;
    if (!outputLength) return E_POINTER;
    if (!output || *outputLength < GETDEVICEUNIQUEID_V1_OUTPUT) {
        *outputLength = GETDEVICEUNIQUEID_V1_OUTPUT;
        return static_cast<HRESULT>(0x80070000u | ERROR_INSUFFICIENT_BUFFER);
    }
    {
        Overrides& s = State();
        std::lock_guard<std::mutex> g(s.lock);
        if (FAILED(s.idFailure)) return s.idFailure;
        if (s.id) {
            std::memset(output, 0, GETDEVICEUNIQUEID_V1_OUTPUT);
            std::memcpy(output, s.id->data(), s.id->size() < 20 ? s.id->size() : 20);
            *outputLength = GETDEVICEUNIQUEID_V1_OUTPUT;
            return S_OK;
        }
    }
    std::string data;
    if (!ReadMachineId(data)) return static_cast<HRESULT>(0x80070000u | ERROR_FILE_NOT_FOUND);
    data.append(reinterpret_cast<const char*>(appData), appDataLength);
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int mdLength = 0;
    if (!EVP_Digest(data.data(), data.size(), md, &mdLength, EVP_sha1(), nullptr) || mdLength != 20) return E_FAIL;
    std::memcpy(output, md, 20);
    *outputLength = GETDEVICEUNIQUEID_V1_OUTPUT;
    return S_OK;
}

namespace platform {

void SetPlatformTypeText(std::optional<std::wstring> text) {
    std::lock_guard<std::mutex> g(State().lock);
    State().platformType = std::move(text);
}

void SetOemInfoText(std::optional<std::wstring> text) {
    std::lock_guard<std::mutex> g(State().lock);
    State().oemInfo = std::move(text);
}

void SetPlatformTypeDenied(std::optional<bool> denied) {
    std::lock_guard<std::mutex> g(State().lock);
    State().denied = denied;
}

void SetDeviceUniqueIdOverride(std::optional<std::basic_string<BYTE>> id, HRESULT failure) {
    std::lock_guard<std::mutex> g(State().lock);
    State().id = std::move(id);
    State().idFailure = failure;
}

}  // namespace platform
