#include "platform/lasterror.h"

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <map>
#include <mutex>
#include <string>

namespace {

thread_local DWORD t_lastError = 0;

struct ErrorTexts {
    std::mutex lock;
    std::map<DWORD, std::wstring> texts{
        {0, L"The operation completed successfully.\r\n"},
        {1, L"Incorrect function.\r\n"},
        {2, L"The system cannot find the file specified.\r\n"},
        {3, L"The system cannot find the path specified.\r\n"},
        {4, L"The system cannot open the file.\r\n"},
        {5, L"Access is denied.\r\n"},
        {6, L"The handle is invalid.\r\n"},
        {8, L"Not enough storage is available to process this command.\r\n"},
        {13, L"The data is invalid.\r\n"},
        {14, L"Not enough storage is available to complete this operation.\r\n"},
        {18, L"There are no more files.\r\n"},
        {29, L"The system cannot write to the specified device.\r\n"},
        {30, L"The system cannot read from the specified device.\r\n"},
        {32, L"The process cannot access the file because it is being used by another process.\r\n"},
        {38, L"Reached the end of the file.\r\n"},
        {50, L"The request is not supported.\r\n"},
        {80, L"The file exists.\r\n"},
        {87, L"The parameter is incorrect.\r\n"},
        {109, L"The pipe has been ended.\r\n"},
        {112, L"There is not enough space on the disk.\r\n"},
        {122, L"The data area passed to a system call is too small.\r\n"},
        {123, L"The filename, directory name, or volume label syntax is incorrect.\r\n"},
        {126, L"The specified module could not be found.\r\n"},
        {127, L"The specified procedure could not be found.\r\n"},
        {145, L"The directory is not empty.\r\n"},
        {161, L"The specified path is invalid.\r\n"},
        {183, L"Cannot create a file when that file already exists.\r\n"},
        {193, L"The specified file is not a valid application.\r\n"},
        {206, L"The filename or extension is too long.\r\n"},
        {234, L"More data is available.\r\n"},
        {259, L"No more data is available.\r\n"},
        {267, L"The directory name is invalid.\r\n"},
        {997, L"Overlapped I/O operation is in progress.\r\n"},
        {998, L"Invalid access to memory location.\r\n"},
        {1010, L"The configuration registry key is invalid.\r\n"},
        {1011, L"The configuration registry key could not be opened.\r\n"},
        {1012, L"The configuration registry key could not be read.\r\n"},
        {1013, L"The configuration registry key could not be written.\r\n"},
        {1018, L"Illegal operation attempted on a registry key that has been marked for deletion.\r\n"},
        {1168, L"Element not found.\r\n"},
        {1223, L"The operation was canceled by the user.\r\n"},
        {1400, L"Invalid window handle.\r\n"},
        {1401, L"Invalid menu handle.\r\n"},
        {1410, L"Class already exists.\r\n"},
        {1411, L"Class does not exist.\r\n"},
        {1460, L"This operation returned because the timeout period expired.\r\n"},
    };
};

ErrorTexts& Texts() {
    static ErrorTexts* texts = new ErrorTexts;  // outlives every static object of the program
    return *texts;
}

}  // namespace

DWORD GetLastError() { return t_lastError; }
void SetLastError(DWORD code) { t_lastError = code; }

namespace platform {
void RegisterErrorText(DWORD code, const wchar_t* text) {
    ErrorTexts& t = Texts();
    std::lock_guard<std::mutex> g(t.lock);
    t.texts[code] = text;
}
}  // namespace platform

DWORD FormatMessageW(DWORD flags, LPCVOID, DWORD messageId, DWORD, LPWSTR buffer, DWORD size, void*) {
    if (!(flags & FORMAT_MESSAGE_FROM_SYSTEM) || !buffer) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::wstring text;
    {
        ErrorTexts& t = Texts();
        std::lock_guard<std::mutex> g(t.lock);
        auto it = t.texts.find(messageId);
        if (it == t.texts.end()) {
            SetLastError(ERROR_MR_MID_NOT_FOUND);
            return 0;
        }
        text = it->second;
    }
    if (flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) {
        auto* mem = static_cast<wchar_t*>(LocalAlloc(LPTR, (text.size() + 1) * sizeof(wchar_t)));
        if (!mem) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return 0;
        }
        std::wmemcpy(mem, text.c_str(), text.size() + 1);
        *reinterpret_cast<wchar_t**>(buffer) = mem;
        return static_cast<DWORD>(text.size());
    }
    if (text.size() + 1 > size) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::wmemcpy(buffer, text.c_str(), text.size() + 1);
    return static_cast<DWORD>(text.size());
}

HANDLE LocalAlloc(UINT flags, size_t bytes) {
    void* p = (flags & LMEM_ZEROINIT) ? std::calloc(1, bytes ? bytes : 1) : std::malloc(bytes ? bytes : 1);
    return p;
}

HANDLE LocalFree(HANDLE mem) {
    std::free(mem);
    return nullptr;
}
