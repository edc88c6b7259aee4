#include "log.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/codepage.h"
#include "platform/cstring.h"
#include "platform/files.h"
#include "platform/lasterror.h"
#include "platform/sync.h"

int g_logLevel = LOG_DEBUG;
wchar_t g_logPath[LOG_PATH_LEN] = L"";
DWORD g_errno = 0;

namespace {

const int kDefaults[4] = {10, 500, 0, 0};

std::mutex& LogLock() {
    static std::mutex* lock = new std::mutex;  // usable from static destructors too
    return *lock;
}

const wchar_t* LevelWord(int level) {
    switch (level) {
        case LOG_ERROR: return L"ERROR";
        case LOG_WARNING: return L"WARNING";
        case LOG_NOTICE: return L"NOTICE";
        case LOG_DEBUG: return L"DEBUG";
        default: return L"";
    }
}

// ".\name.cpp" whatever folder the build compiled the file from.
std::wstring SourceTag(const char* file) {
    const char* base = file ? file : "";
    for (const char* p = base; *p; ++p)
        if (*p == '/' || *p == '\\') base = p + 1;
    return L".\\" + platform::Utf8ToWide(base);
}

// atoi over [begin, end), clamped to the int range instead of overflowing.
int ToInt(const char* begin, const char* end) {
    const char* p = begin;
    while (p < end && (*p == ' ' || (*p >= '\t' && *p <= '\r'))) ++p;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
    long long v = 0;
    for (; p < end && *p >= '0' && *p <= '9'; ++p) {
        v = v * 10 + (*p - '0');
        if (v > static_cast<long long>(INT_MAX) + 1) v = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative) v = -v;
    if (v > INT_MAX) v = INT_MAX;
    return static_cast<int>(v);
}

// The four numbers of the state file; each must be followed by a blank, LF, CR or tab.
// Numbers not read keep their defaults.
void ReadState(const char* text, size_t len, int out[4]) {
    size_t start = 0;
    for (int i = 0; i < 4; ++i) {
        size_t d = start;
        while (d < len && text[d] != ' ' && text[d] != '\n' && text[d] != '\r' && text[d] != '\t') ++d;
        if (d >= len) break;
        out[i] = ToInt(text + start, text + d);
        start = d + 1;
    }
    // Numbers no run could have written (a damaged file) would make the rotation delete
    // the wrong files or run past the int range: start over from the defaults.
    bool sane = out[0] >= 1 && out[1] >= 1 && out[2] >= 0 && out[3] >= out[2] && out[3] < INT_MAX;
    if (!sane)
        for (int i = 0; i < 4; ++i) out[i] = kDefaults[i];
}

// Lines of an 8-bit text file, LF ending a line; a last line without LF counts too.
long long CountLines(FILE* f) {
    char buf[4096];
    long long lines = 0;
    size_t n;
    char last = '\n';
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
        for (size_t i = 0; i < n; ++i)
            if (buf[i] == '\n') ++lines;
        last = buf[n - 1];
    }
    if (last != '\n') ++lines;
    return lines;
}

bool SetLogPath(const wchar_t* dir, const wchar_t* name, int index) {
    return platform::FormatInto(g_logPath, LOG_PATH_LEN, L"%s\\%s_log_%d.txt", dir, name, index) >= 0;
}

bool WriteState(const wchar_t* statePath, const int v[4]) {
    FILE* f = _wfopen(statePath, L"w");
    if (!f) return false;
    std::string text = platform::FormatA("%d %d %d %d ", v[0], v[1], v[2], v[3]);
    bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    return std::fclose(f) == 0 && ok;
}

// Appends one line whole or not at all: a write cut short (a full disk) is cut off
// again, so that no half character stays and the next line starts on a line of its own.
void AppendLine(const std::string& bytes) {
    HANDLE f = CreateFileW(g_logPath, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return;
    DWORD high = 0;
    DWORD low = GetFileSize(f, &high);
    DWORD written = 0;
    bool whole = WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                 written == bytes.size();
    if (!whole && low != INVALID_FILE_SIZE) {
        LONG at = static_cast<LONG>(high);
        SetFilePointer(f, static_cast<LONG>(low), &at, FILE_BEGIN);
        SetEndOfFile(f);
    }
    CloseHandle(f);
}

}  // namespace

int InitLog(const wchar_t* dir, const wchar_t* name, int level) {
    if (!dir || !name) return -1;
    g_logLevel = level;

    // A path cut at the buffer's end would name some other file: refuse it instead.
    wchar_t statePath[LOG_PATH_LEN];
    if (platform::FormatInto(statePath, LOG_PATH_LEN, L"%s\\%s_logstate.txt", dir, name) < 0 ||
        !SetLogPath(dir, name, INT_MAX)) {
        g_logPath[0] = 0;
        return -1;
    }

    int v[4] = {kDefaults[0], kDefaults[1], kDefaults[2], kDefaults[3]};
    FILE* f = _wfopen(statePath, L"r");
    if (!f) {
        SetLogPath(dir, name, 0);
        f = _wfopen(statePath, L"w");
        if (!f) return -1;
        static const char kFirst[] = "10 500 0 0 ";
        std::fwrite(kFirst, 1, sizeof kFirst - 1, f);
        std::fclose(f);
        return 0;
    }
    char text[512];
    std::fseek(f, 0, SEEK_SET);
    size_t len = std::fread(text, 1, sizeof text, f);
    std::fclose(f);
    ReadState(text, len, v);
    int& kept = v[0];
    int& linesPerFile = v[1];
    int& first = v[2];
    int& current = v[3];

    SetLogPath(dir, name, current);
    FILE* log = _wfopen(g_logPath, L"r");
    if (!log) return -1;
    long long lines = CountLines(log);
    std::fclose(log);
    if (lines < linesPerFile) return 0;

    ++current;
    if (static_cast<long long>(current) - first >= kept) {
        wchar_t oldest[LOG_PATH_LEN];
        platform::FormatInto(oldest, LOG_PATH_LEN, L"%s\\%s_log_%d.txt", dir, name, first);
        DeleteFileW(oldest);
        ++first;
    }
    if (!WriteState(statePath, v)) return -1;
    SetLogPath(dir, name, current);
    return 0;
}

const wchar_t* GetErrorMsg(DWORD code) {
    thread_local wchar_t text[ERROR_MSG_LEN];
    DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code, 0, text, ERROR_MSG_LEN, nullptr);
    if (n == 0) {
        platform::FormatInto(text, ERROR_MSG_LEN, L"FormatMessage failed, errno=%d", GetLastError());
        return text;
    }
    // System texts end with a line break; a log line holding one must stay one line.
    while (n > 0 && (text[n - 1] == L'\r' || text[n - 1] == L'\n')) text[--n] = 0;
    return text;
}

void LogWrite(int level, const char* sourceFile, int line, const std::wstring& message) {
    if (g_logLevel < level || !g_logPath[0]) return;  // before InitLog lines are lost
    DWORD keep = GetLastError();  // a log line must not change what the caller reads next
    SYSTEMTIME st;
    GetLocalTime(&st);
    std::wstring text = LevelWord(level);
    text += platform::FormatW(L" %u%u%u %u:%u:%u %s(%d): ", st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute,
                              st.wSecond, SourceTag(sourceFile), line);
    text += message;
    text += L'\n';
    std::string bytes = platform::WideToUtf8(text);
    {
        std::lock_guard<std::mutex> g(LogLock());
        if (g_logPath[0]) AppendLine(bytes);
    }
    SetLastError(keep);
}
