// WinINet: HTTP sessions and requests, synchronous or asynchronous with a status callback.
// HTTP (and https) only; bodies are pulled in the caller's chunks, never held whole.
#pragma once

#include <string>
#include <vector>

#include "platform/wintypes.h"

#define INTERNET_OPEN_TYPE_PRECONFIG 0
#define INTERNET_OPEN_TYPE_DIRECT 1
#define INTERNET_OPEN_TYPE_PROXY 3

#define INTERNET_FLAG_RELOAD 0x80000000u
#define INTERNET_FLAG_RAW_DATA 0x40000000u
#define INTERNET_FLAG_EXISTING_CONNECT 0x20000000u
#define INTERNET_FLAG_ASYNC 0x10000000u
#define INTERNET_FLAG_NO_CACHE_WRITE 0x04000000u
#define INTERNET_FLAG_DONT_CACHE INTERNET_FLAG_NO_CACHE_WRITE
#define INTERNET_FLAG_SECURE 0x00800000u
#define INTERNET_FLAG_KEEP_CONNECTION 0x00400000u
#define INTERNET_FLAG_NO_AUTO_REDIRECT 0x00200000u
#define INTERNET_FLAG_NO_COOKIES 0x00080000u
#define INTERNET_FLAG_PRAGMA_NOCACHE 0x00000100u

// Options.
#define INTERNET_OPTION_CALLBACK 1
#define INTERNET_OPTION_CONNECT_TIMEOUT 2
#define INTERNET_OPTION_CONNECT_RETRIES 3
#define INTERNET_OPTION_SEND_TIMEOUT 5
#define INTERNET_OPTION_RECEIVE_TIMEOUT 6
#define INTERNET_OPTION_DATA_SEND_TIMEOUT 7
#define INTERNET_OPTION_DATA_RECEIVE_TIMEOUT 8
#define INTERNET_OPTION_HANDLE_TYPE 9
#define INTERNET_OPTION_CONTEXT_VALUE 45
#define INTERNET_OPTION_URL 34
#define INTERNET_OPTION_USER_AGENT 41

#define INTERNET_HANDLE_TYPE_INTERNET 1
#define INTERNET_HANDLE_TYPE_HTTP_REQUEST 13

// HttpQueryInfoW levels and modifiers.
#define HTTP_QUERY_CONTENT_TYPE 1
#define HTTP_QUERY_CONTENT_LENGTH 5
#define HTTP_QUERY_PRAGMA 17
#define HTTP_QUERY_VERSION 18
#define HTTP_QUERY_STATUS_CODE 19
#define HTTP_QUERY_STATUS_TEXT 20
#define HTTP_QUERY_RAW_HEADERS 21
#define HTTP_QUERY_RAW_HEADERS_CRLF 22
#define HTTP_QUERY_CONTENT_ENCODING 29
#define HTTP_QUERY_LOCATION 33
#define HTTP_QUERY_ACCEPT_RANGES 42
#define HTTP_QUERY_TRANSFER_ENCODING 63
#define HTTP_QUERY_CUSTOM 65535
#define HTTP_QUERY_FLAG_NUMBER 0x20000000u
#define HTTP_QUERY_MODIFIER_FLAGS_MASK 0xF0000000u
#define HTTP_QUERY_HEADER_MASK 0x0000FFFFu

// Status callback.
#define INTERNET_STATUS_RESOLVING_NAME 10
#define INTERNET_STATUS_NAME_RESOLVED 11
#define INTERNET_STATUS_CONNECTING_TO_SERVER 20
#define INTERNET_STATUS_CONNECTED_TO_SERVER 21
#define INTERNET_STATUS_SENDING_REQUEST 30
#define INTERNET_STATUS_REQUEST_SENT 31
#define INTERNET_STATUS_RECEIVING_RESPONSE 40
#define INTERNET_STATUS_RESPONSE_RECEIVED 41
#define INTERNET_STATUS_HANDLE_CREATED 60
#define INTERNET_STATUS_HANDLE_CLOSING 70
#define INTERNET_STATUS_REQUEST_COMPLETE 100
#define INTERNET_STATUS_REDIRECT 110

// Error codes of the Internet layer (with texts through FormatMessageW).
#define INTERNET_ERROR_BASE 12000
#define ERROR_INTERNET_OUT_OF_HANDLES 12001L
#define ERROR_INTERNET_TIMEOUT 12002L
#define ERROR_INTERNET_EXTENDED_ERROR 12003L
#define ERROR_INTERNET_INTERNAL_ERROR 12004L
#define ERROR_INTERNET_INVALID_URL 12005L
#define ERROR_INTERNET_UNRECOGNIZED_SCHEME 12006L
#define ERROR_INTERNET_NAME_NOT_RESOLVED 12007L
#define ERROR_INTERNET_INVALID_OPTION 12009L
#define ERROR_INTERNET_BAD_OPTION_LENGTH 12010L
#define ERROR_INTERNET_OPTION_NOT_SETTABLE 12011L
#define ERROR_INTERNET_SHUTDOWN 12012L
#define ERROR_INTERNET_INVALID_OPERATION 12016L
#define ERROR_INTERNET_OPERATION_CANCELLED 12017L
#define ERROR_INTERNET_INCORRECT_HANDLE_TYPE 12018L
#define ERROR_INTERNET_INCORRECT_HANDLE_STATE 12019L
#define ERROR_INTERNET_CANNOT_CONNECT 12029L
#define ERROR_INTERNET_CONNECTION_ABORTED 12030L
#define ERROR_INTERNET_CONNECTION_RESET 12031L
#define ERROR_INTERNET_SEC_CERT_DATE_INVALID 12037L
#define ERROR_INTERNET_SEC_CERT_CN_INVALID 12038L
#define ERROR_INTERNET_INVALID_CA 12045L
#define ERROR_HTTP_HEADER_NOT_FOUND 12150L
#define ERROR_HTTP_INVALID_SERVER_RESPONSE 12152L
#define ERROR_HTTP_INVALID_QUERY_REQUEST 12154L
#define ERROR_HTTP_REDIRECT_FAILED 12156L
#define ERROR_INTERNET_SECURITY_CHANNEL_ERROR 12157L
#define ERROR_INTERNET_DECODING_FAILED 12175L
// A system code the layer also reports: the connection went away under an open request.
#define ERROR_NOT_CONNECTED 2250L

using INTERNET_STATUS_CALLBACK = void (*)(HINTERNET handle, DWORD_PTR context, DWORD status, LPVOID info,
                                          DWORD infoLength);
#define INTERNET_INVALID_STATUS_CALLBACK (reinterpret_cast<INTERNET_STATUS_CALLBACK>(static_cast<intptr_t>(-1)))

// The status information of INTERNET_STATUS_REQUEST_COMPLETE. dwResult holds a handle
// (InternetOpenUrlW) or a BOOL (reads, queries), so it is pointer-sized.
struct INTERNET_ASYNC_RESULT {
    DWORD_PTR dwResult;
    DWORD dwError;
};

// Sessions. The agent text becomes the User-Agent of every request unless the request's
// own headers name one. Direct and preconfigured access both connect directly here.
HINTERNET InternetOpenW(LPCWSTR agent, DWORD accessType, LPCWSTR proxy, LPCWSTR proxyBypass, DWORD flags);

// Closes a session (and every request made from it) or a request. An asynchronous
// operation still outstanding completes with ERROR_INTERNET_OPERATION_CANCELLED before a
// session close returns; after that, no callback of the session comes any more.
BOOL InternetCloseHandle(HINTERNET handle);

// Time-outs (2, 5, 6, 7, 8) are DWORD milliseconds, on a session (inherited by its later
// requests) or a request. A null handle sets the defaults of later sessions.
BOOL InternetSetOptionW(HINTERNET handle, DWORD option, LPVOID buffer, DWORD length);
// INTERNET_OPTION_URL (the request's URL after redirections), the time-outs,
// INTERNET_OPTION_HANDLE_TYPE. `length` is in bytes; a short buffer fails with
// ERROR_INSUFFICIENT_BUFFER and the bytes needed.
BOOL InternetQueryOptionW(HINTERNET handle, DWORD option, LPVOID buffer, DWORD* length);

// GETs the URL with the extra request headers (lines separated by CR LF or LF; length in
// characters, -1 = zero-terminated). Returns once the answer's headers are in; redirects
// are followed; any HTTP status gives a request handle (see HttpQueryInfoW). An answer
// without a status line (HTTP/0.9, such as "ICY 200 OK") comes whole as the body.
// Asynchronous session: NULL with ERROR_IO_PENDING, then REQUEST_COMPLETE with the
// request handle (or 0 and the error) to the callback, with `context`.
HINTERNET InternetOpenUrlW(HINTERNET session, LPCWSTR url, LPCWSTR headers, DWORD headersLength, DWORD flags,
                           DWORD_PTR context);

// Fills `buffer` with `toRead` bytes, fewer only at the end of the body; TRUE with 0
// bytes at the end. Asynchronous: completes at once when the bytes are at hand,
// otherwise FALSE with ERROR_IO_PENDING; `*read` is written before the callback.
BOOL InternetReadFile(HINTERNET request, LPVOID buffer, DWORD toRead, DWORD* read);
// Bytes that a read can take without waiting; 0 at the end of the body. Asynchronous:
// may go pending until some bytes arrive, writing `*available` before the callback.
BOOL InternetQueryDataAvailable(HINTERNET request, DWORD* available, DWORD flags, DWORD_PTR context);

// Header values of the answer (the last one after redirections), wide text; `*length`
// in bytes. Repeated headers by `*index` (advanced on success). A header the answer
// lacks fails with ERROR_HTTP_HEADER_NOT_FOUND; a short buffer with
// ERROR_INSUFFICIENT_BUFFER and the bytes needed (terminator included).
BOOL HttpQueryInfoW(HINTERNET request, DWORD infoLevel, LPVOID buffer, DWORD* length, DWORD* index);

// The previous callback, or INTERNET_INVALID_STATUS_CALLBACK for a bad handle.
INTERNET_STATUS_CALLBACK InternetSetStatusCallbackW(HINTERNET handle, INTERNET_STATUS_CALLBACK callback);
#define InternetSetStatusCallback InternetSetStatusCallbackW

// The detailed text of this thread's last failure (`*length` in characters). TRUE with
// `*error` 0 and an empty text when there is none.
BOOL InternetGetLastResponseInfoW(DWORD* error, LPWSTR buffer, DWORD* length);

// Always online here; reachable through GetWininetExport (see below).
extern "C" BOOL InternetGoOnlineW(LPCWSTR url, HWND parent, DWORD flags);

// The module handle of "wininet.dll" (for GetProc / dlsym), or null; other names give
// null here. Null as well while InternetGoOnlineW is hidden, which a caller looking it up
// sees the same way as a module without it.
HMODULE GetModuleHandleW(LPCWSTR name);

namespace platform {
// The module "wininet.dll" as the module layer sees it: the address of an export by
// name, or null when absent. InternetGoOnlineW can be hidden (tests, or the environment
// variable LUMEO_WININET_NO_GOONLINE=1) to stand for a system that lacks it.
void* GetWininetExport(const char* name);
void SetWininetExportHidden(const char* name, bool hidden);

// For tests: a log of the calls that open and close things ("InternetOpenW access=1
// flags=0x10000000 agent=...", "InternetOpenUrlW url=... flags=0x...", "InternetCloseHandle
// session|request", "InternetGoOnlineW url=..."). Off until enabled; the last 1000 lines.
void SetWininetCallLog(bool enabled);
std::vector<std::string> TakeWininetCallLog();
}  // namespace platform
