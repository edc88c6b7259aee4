// The HTTP byte stream (class HTTP, and MMS_ beside it): the object and its slots.
#pragma once

#include "core/common.h"
#include "platform/wininet.h"

#define HTTP_TEXT 512
#define ICY_META_BUFFER 4084

struct HttpStream {
    Stream base;
    HINTERNET session;
    HINTERNET request;
    int length;    // content length plus the request's start offset; -1 while not known
    int position;  // offset of the next byte a read delivers
    int silent;
    int seekable;
    int reconnectOnSeek;
    void* sinkNode;
    int sinkParam;
    int pending;      // an asynchronous operation is outstanding
    int pendingRead;  // ... and it is a read (its bytes went to a caller's buffer)
    int broken;       // a read failed in a way a reconnect may mend
    int resuming;     // a reconnect is reading its way up to the position
    int firstBytes;   // the next bytes read are the first of the resource (an ICY status line)
    void* event;
    DWORD_PTR asyncResult;  // the result word of the last completed operation
    DWORD asyncError;       // and its error code
    DWORD available;        // written by an asynchronous data query
    DWORD readCount;        // written by an asynchronous read
    DWORD metaInterval;
    DWORD metaCountdown;
    // Link listing.
    char* page;
    int pageSize;
    int parsePos;
    int pass;
    tchar extensions[HTTP_TEXT];
    int knownOnly;
    DWORD accessType;
    int codePage;
    tchar url[HTTP_TEXT];
    tchar baseUrl[HTTP_TEXT];
    tchar contentType[HTTP_TEXT];
    tchar extraHeaders[HTTP_TEXT];
    tchar pragma[HTTP_TEXT];
    BOOL (*goOnline)(LPCWSTR url, HWND parent, DWORD flags);
    char metaBlock[ICY_META_BUFFER];
};

extern const NodeClassDef kHttpClass;

namespace network {
// Opens `url` (null or empty closes the stream); reopen 1 reconnects at the position.
int HttpOpen(HttpStream* s, const tchar* url, bool reopen, bool withHeaders);
int HttpRead(void* self, void* buffer, int n);
int HttpEnumLinks(void* self, const tchar* url, const tchar* exts, int knownOnly, LinkEntry* entry);
// Hands "KEY=value" (value 8-bit, cut to 121 characters) to the comment sink.
void HttpComment(HttpStream* s, const char* key, const char* value, size_t length);
}  // namespace network
