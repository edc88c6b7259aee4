// The HTTP byte stream: WinINet in asynchronous mode, each operation waited for on an
// event with fixed time-outs; byte ranges when the server takes them, retries, reconnects
// after a broken read, and ICY answers with their metadata taken out.
#include "http_stream.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "icy.h"
#include "platform/lasterror.h"

namespace network {

namespace {

const tchar kAgent[] = L"NSPlayer/10.0.0.3802";
const tchar kFixedHeaders[] =
    L"Icy-MetaData:1\nPragma: no-cache,rate=1.000000,stream-time=0,stream-offset=4294967295:4294967295,"
    L"request-context=1,max-duration=2147492981\n";
constexpr int kOpenWait = 30;   // seconds
constexpr int kReadWait = 180;  // seconds
constexpr int kMaxRetries = 5;
constexpr int kHeaderText = 544;
constexpr size_t kMaxCommentValue = 121;

void StatusCallback(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info, DWORD) {
    if (status != INTERNET_STATUS_REQUEST_COMPLETE || !info) return;
    auto* s = reinterpret_cast<HttpStream*>(context);
    auto* result = static_cast<INTERNET_ASYNC_RESULT*>(info);
    s->asyncResult = result->dwResult;
    s->asyncError = result->dwError;
    EventSet(s->event);
}

// Waits for the outstanding operation; true when it completed (pending cleared).
bool WaitPending(HttpStream* s, int seconds) {
    s->pending = 1;
    if (!EventWait(s->event, seconds * GetTimeFreq())) return false;
    s->pending = 0;
    s->pendingRead = 0;
    if (!s->asyncResult) SetLastError(s->asyncError);
    return true;
}

// Lets a completion still due arrive before the handles it belongs to are reused.
void SettlePending(HttpStream* s) {
    if (s->pending) {
        EventWait(s->event, GetTimeFreq());
        s->pending = 0;
        s->pendingRead = 0;
    }
}

void CloseHandles(HttpStream* s) {
    if (s->request) {
        InternetCloseHandle(s->request);
        s->request = nullptr;
    }
    if (s->session) {
        InternetCloseHandle(s->session);
        s->session = nullptr;
    }
}

void FreePage(HttpStream* s) {
    free_win32(s->page);
    s->page = nullptr;
    s->pageSize = 0;
    s->parsePos = -1;
    s->pass = 0;
}

std::string Narrow(const tchar* text) {
    size_t n = tcslen(text);
    std::string out(n * 4 + 1, '\0');
    int k = TcsToUTF8(out.data(), out.size(), text);
    out.resize(k > 0 ? static_cast<size_t>(k) : 0);
    return out;
}

struct StreamHeaders : HeaderVisitor {
    explicit StreamHeaders(HttpStream* stream) : s(stream) {}
    void ContentType(std::string_view value) override {
        StrToTcs(s->contentType, HTTP_TEXT, value.data(), static_cast<int>(value.size()));
        tcsupr(s->contentType);
    }
    void Comment(const char* key, std::string_view value) override {
        HttpComment(s, key, value.data(), value.size());
    }
    void MetaInterval(std::string_view value) override {
        // A count past 32 bits means no block within reach, never a small one wrapped round;
        // a negative or missing count means none.
        size_t i = !value.empty() && value[0] == '+' ? 1 : 0;
        uint64_t v = 0;
        for (; i < value.size() && value[i] >= '0' && value[i] <= '9'; ++i)
            v = std::min<uint64_t>(v * 10 + static_cast<uint64_t>(value[i] - '0'), 0xFFFFFFFFu);
        s->metaInterval = s->metaCountdown = static_cast<DWORD>(v);
    }
    HttpStream* s;
};

BOOL QueryText(HINTERNET request, DWORD level, tchar* out, DWORD capacityChars, DWORD* index = nullptr) {
    DWORD len = capacityChars * sizeof(tchar);
    if (!HttpQueryInfoW(request, level, out, &len, index)) {
        out[0] = 0;
        return FALSE;
    }
    return TRUE;
}

void ReadAnswerHeaders(HttpStream* s) {
    s->pragma[0] = 0;
    DWORD index = 0;
    for (int guard = 0; guard < 64; ++guard) {
        tchar value[HTTP_TEXT];
        DWORD before = index;
        if (!QueryText(s->request, HTTP_QUERY_PRAGMA, value, HTTP_TEXT, &index)) break;
        tcscat_s(s->pragma, HTTP_TEXT, value);
        tcscat_s(s->pragma, HTTP_TEXT, L",");
        if (index == before) ++index;  // the layer may leave the index alone
    }
    DWORD len = 0;
    HttpQueryInfoW(s->request, HTTP_QUERY_RAW_HEADERS_CRLF, nullptr, &len, nullptr);
    if (!len) return;
    std::wstring raw(len / sizeof(tchar) + 1, L'\0');
    DWORD size = static_cast<DWORD>(raw.size() * sizeof(tchar));
    if (!HttpQueryInfoW(s->request, HTTP_QUERY_RAW_HEADERS_CRLF, raw.data(), &size, nullptr)) return;
    std::string text = Narrow(raw.c_str());
    StreamHeaders visitor(s);
    ParseHeaderLines(text.data(), text.size(), visitor);
}

bool IsRetried(DWORD status) {
    // Every 4xx but 404 and 410, and every 5xx: an error page must never pass for media.
    return (status >= 400 && status <= 599) && status != 404 && status != 410;
}

// A failed read: a connection that went away is reconnected at the position once the
// read has accounted for what it delivers (HttpRead), so that the next read goes on.
int ReadFailed(HttpStream* s, DWORD error) {
    if (s->pending || error == ERROR_NOT_CONNECTED || error == ERROR_INVALID_HANDLE) s->broken = 1;
    return -1;
}

// One WinINet read of n bytes; -1 on failure, else the count. Raw bytes: the position
// counts only what HttpRead delivers.
int RawRead(HttpStream* s, char* buffer, int n) {
    if (!s->request) return -1;
    if (s->pending) {
        bool lostBytes = s->pendingRead != 0;
        if (!WaitPending(s, kReadWait)) return ReadFailed(s, GetLastError());
        // A read that completed after its wait ran out put its bytes where nobody reads
        // them: go on from the position rather than skip them.
        if (lostBytes) return ReadFailed(s, ERROR_NOT_CONNECTED);
    }
    s->readCount = 0;
    BOOL ok = InternetReadFile(s->request, buffer, static_cast<DWORD>(n), &s->readCount);
    DWORD error = ok ? 0 : GetLastError();
    if (!ok && error == ERROR_IO_PENDING) {
        s->pendingRead = 1;
        if (WaitPending(s, kReadWait)) {
            ok = static_cast<BOOL>(s->asyncResult);
            error = ok ? 0 : s->asyncError;
        }
    }
    if (!ok) return ReadFailed(s, error);
    return static_cast<int>(std::min<DWORD>(s->readCount, static_cast<DWORD>(n)));
}

// A read that fills what it can, for the rest of a metadata block.
bool ReadFully(HttpStream* s, char* buffer, int n) {
    while (n > 0) {
        int got = RawRead(s, buffer, n);
        if (got <= 0) return false;
        buffer += got;
        n -= got;
    }
    return true;
}

void SearchTitle(HttpStream* s, const char* block, size_t length) {
    std::string_view title;
    if (FindStreamTitle(block, length, title)) HttpComment(s, "TITLE=", title.data(), title.size());
}

// Takes the metadata blocks out of the `got` audio bytes at `p`; returns the bytes kept.
int StripMetadata(HttpStream* s, char* p, int got, bool& removed) {
    removed = false;
    int in = 0, out = 0;
    while (static_cast<int64_t>(s->metaCountdown) < got - in) {
        int audio = static_cast<int>(s->metaCountdown);
        std::memmove(p + out, p + in, static_cast<size_t>(audio));
        out += audio;
        in += audio;
        int blockLength = static_cast<unsigned char>(p[in]) * 16;
        ++in;
        if (in + blockLength <= got) {
            SearchTitle(s, p + in, static_cast<size_t>(blockLength));
            in += blockLength;
        } else {
            int have = got - in;
            std::memcpy(s->metaBlock, p + in, static_cast<size_t>(have));
            in = got;
            if (ReadFully(s, s->metaBlock + have, blockLength - have))
                SearchTitle(s, s->metaBlock, static_cast<size_t>(blockLength));
        }
        s->metaCountdown = s->metaInterval;
        removed = true;
    }
    int rest = got - in;
    std::memmove(p + out, p + in, static_cast<size_t>(rest));
    out += rest;
    s->metaCountdown -= static_cast<DWORD>(rest);
    return out;
}

int GetText(const tchar* text, void* data, int size) {
    if (!data || size < static_cast<int>(sizeof(tchar))) return ERR_INVALID_PARAM;
    tcscpy_s(static_cast<tchar*>(data), static_cast<size_t>(size) / sizeof(tchar), text);
    return ERR_NONE;
}

void SetText(tchar* field, const void* data, int size, size_t maxChars) {
    field[0] = 0;
    if (!data || size <= 0) return;
    size_t capacity = std::min(static_cast<size_t>(size) / sizeof(tchar), maxChars);
    const tchar* text = static_cast<const tchar*>(data);
    size_t n = 0;
    while (n < capacity && text[n]) ++n;
    tcsncpy_s(field, HTTP_TEXT, text, n);
}

int GetParam(void* self, int id, void* data, int size) {
    auto* s = static_cast<HttpStream*>(self);
    switch (id) {
    case HttpUrl: return GetText(s->url, data, size);
    case HttpLength:
        if (s->length < 0 || !data || size < static_cast<int>(sizeof(int))) return ERR_INVALID_PARAM;
        *static_cast<int*>(data) = s->length;
        return ERR_NONE;
    case HttpSilent:
        if (!data || size < static_cast<int>(sizeof(int))) return ERR_INVALID_PARAM;
        *static_cast<int*>(data) = s->silent;
        return ERR_NONE;
    case HttpContentType: return GetText(s->contentType, data, size);
    case HttpCommentSink:
        if (!data || size < static_cast<int>(sizeof(CommentSink))) return ERR_INVALID_PARAM;
        static_cast<CommentSink*>(data)->node = s->sinkNode;
        static_cast<CommentSink*>(data)->param = s->sinkParam;
        return ERR_NONE;
    case HttpExtraHeaders: return GetText(s->extraHeaders, data, size);
    case HttpPragma: return GetText(s->pragma, data, size);
    case HttpBaseUrl: return GetText(s->baseUrl, data, size);
    default: return ERR_INVALID_PARAM;
    }
}

int SetParam(void* self, int id, const void* data, int size) {
    auto* s = static_cast<HttpStream*>(self);
    switch (id) {
    case HttpUrl: {
        tcscpy_s(s->extraHeaders, HTTP_TEXT, kFixedHeaders);
        tchar url[HTTP_TEXT];
        SetText(url, data, size, HTTP_TEXT - 1);
        return HttpOpen(s, url, false, true);
    }
    case HttpSilent:
        if (!data || size < static_cast<int>(sizeof(int))) return ERR_INVALID_PARAM;
        s->silent = *static_cast<const int*>(data);
        return ERR_NONE;
    case HttpCommentSink:
        if (!data || size < static_cast<int>(sizeof(CommentSink))) {
            s->sinkNode = nullptr;
            s->sinkParam = 0;
            return data ? ERR_INVALID_PARAM : ERR_NONE;
        }
        s->sinkNode = static_cast<const CommentSink*>(data)->node;
        s->sinkParam = static_cast<const CommentSink*>(data)->param;
        return ERR_NONE;
    case HttpExtraHeaders:
        SetText(s->extraHeaders, data, size, HTTP_TEXT - 1);
        s->reconnectOnSeek = 1;
        return ERR_NONE;
    case HttpPragma:
        SetText(s->pragma, data, size, HTTP_TEXT - 1);
        return ERR_NONE;
    default: return ERR_INVALID_PARAM;
    }
}

int ReadBlock(void* self, Block* block, int offset, int n) {
    if (!block || !block->data || offset < 0 || n < 0 || offset > block->size || n > block->size - offset) return -1;
    return HttpRead(self, block->data + offset, n);
}

// A new request for the resource, at the position and with the headers it was last given.
int Reconnect(HttpStream* s) {
    tchar url[HTTP_TEXT];
    tcscpy_s(url, HTTP_TEXT, s->url);
    return HttpOpen(s, url, true, true);
}

// Reads and drops what lies before `target`: true when the position reaches it.
bool ReadUpTo(HttpStream* s, int64_t target) {
    char scrap[4096];
    while (s->position < target) {
        int n = static_cast<int>(std::min<int64_t>(sizeof(scrap), target - s->position));
        if (HttpRead(s, scrap, n) <= 0) break;
    }
    return s->position == target;
}

int Seek(void* self, int offset, int whence) {
    auto* s = static_cast<HttpStream*>(self);
    int64_t target = offset;
    if (whence == 1) target += s->position;
    else if (whence == 2) {
        if (s->length < 0) return -1;
        target += s->length;
    } else if (whence != 0) {
        return -1;
    }
    if (target < 0 || target > 0x7FFFFFFF) return -1;
    // Past the end of a resource of known length there is nothing to ask the server for.
    if (s->length >= 0 && target > s->length) return -1;
    if (target < s->position && target < 65536) {
        s->position = 0;
        if (Reconnect(s) != 0) return -1;
    }
    if (target > s->position && target - s->position < 65536 && !s->reconnectOnSeek && ReadUpTo(s, target))
        return s->position;
    if (target == s->position && !s->reconnectOnSeek) return s->position;
    if (s->seekable || target == 0) {
        s->position = static_cast<int>(target);
        if (Reconnect(s) != 0) return -1;
        return s->position;
    }
    return -1;
}

int DataAvailable(void* self) {
    auto* s = static_cast<HttpStream*>(self);
    if (!s->request) return -1;
    if (!s->pending) {
        s->available = 0;
        if (InternetQueryDataAvailable(s->request, &s->available, 0, 0))
            return s->available > 0 ? static_cast<int>(std::min<DWORD>(s->available, 0x7FFFFFFF)) : -1;
        if (GetLastError() != ERROR_IO_PENDING) return -1;
        s->pending = 1;
        s->pendingRead = 0;
    }
    if (s->pendingRead) return 0;  // a read still due; the next read settles it
    if (!EventWait(s->event, 0)) return 0;
    s->pending = 0;
    if (!s->asyncResult || s->available == 0) return -1;
    return static_cast<int>(std::min<DWORD>(s->available, 0x7FFFFFFF));
}

int Create(void* self) {
    auto* s = static_cast<HttpStream*>(self);
    s->base.node.getParam = GetParam;
    s->base.node.setParam = SetParam;
    s->base.readStream = HttpRead;
    s->base.readStreamBlock = ReadBlock;
    s->base.seekStream = Seek;
    s->base.enumLinks = HttpEnumLinks;
    s->base.dataAvailable = DataAvailable;
    s->length = -1;
    s->parsePos = -1;
    s->accessType = INTERNET_OPEN_TYPE_DIRECT;
    s->event = EventCreate(false, false);
    if (!s->event) return ERR_OUT_OF_MEMORY;
    HMODULE wininet = GetModuleHandleW(L"wininet.dll");
    GetProc(&wininet, &s->goOnline, "InternetGoOnlineW", 1);
    return ERR_NONE;
}

// Where the body of a 206 answer starts: the first offset of its Content-Range
// ("bytes S-E/T"); -1 when there is none to read.
int ContentRangeStart(HINTERNET request) {
    tchar value[HTTP_TEXT];
    tcscpy_s(value, HTTP_TEXT, L"Content-Range");
    DWORD len = sizeof(value);
    if (!HttpQueryInfoW(request, HTTP_QUERY_CUSTOM, value, &len, nullptr)) return -1;
    const tchar* p = value;
    while (*p == L' ') ++p;
    if (tcsnicmp(p, L"bytes", 5) != 0) return -1;
    p += 5;
    while (*p == L' ' || *p == L'=') ++p;
    if (*p < L'0' || *p > L'9') return -1;
    int64_t v = 0;
    for (; *p >= L'0' && *p <= L'9'; ++p) {
        v = v * 10 + (*p - L'0');
        if (v > 0x7FFFFFFF) return -1;
    }
    return *p == L'-' ? static_cast<int>(v) : -1;
}

// A reconnect whose answer starts before the position asked for (a 200 to a range, or a
// stream that cannot be asked for one) reads its way up to it, counting what a read
// delivers. Where the resource's length is not known it is no file to find that place in
// again (a live stream): the reconnect fails rather than hand on bytes from elsewhere.
int Resume(HttpStream* s, int want) {
    if (s->position >= 0 && s->position < want && s->length >= 0) {
        s->resuming = 1;
        bool reached = ReadUpTo(s, want);
        s->resuming = 0;
        s->broken = 0;
        if (reached) return ERR_NONE;
    }
    CloseHandles(s);
    s->position = want;
    return ERR_OPEN_FAILED;
}

void Destroy(void* self) {
    auto* s = static_cast<HttpStream*>(self);
    HttpOpen(s, nullptr, false, false);
    EventClose(s->event);
    s->event = nullptr;
}

}  // namespace

int HttpOpen(HttpStream* s, const tchar* url, bool reopen, bool withHeaders) {
    tchar target[HTTP_TEXT];
    tcscpy_s(target, HTTP_TEXT, url ? url : L"");
    bool wasMms = false;
    int retries = 0;
    // The offset the caller's next read is to deliver.
    const int want = reopen ? s->position : 0;
    for (;;) {
        // 1-4: let go of what was open.
        CloseHandles(s);
        SettlePending(s);
        s->contentType[0] = 0;
        s->length = -1;
        if (!reopen) {
            s->accessType = INTERNET_OPEN_TYPE_DIRECT;
            s->url[0] = 0;
        } else {
            ThreadSleep(200);
        }
        FreePage(s);
        s->metaInterval = s->metaCountdown = 0;
        s->reconnectOnSeek = 0;
        s->broken = 0;
        if (!target[0]) return ERR_NONE;

        // 5: flags, and "mms://" asked for over HTTP.
        DWORD flags = INTERNET_FLAG_NO_CACHE_WRITE;
        if (tcsnicmp(target, L"https", 5) == 0)
            flags |= INTERNET_FLAG_SECURE | INTERNET_FLAG_KEEP_CONNECTION;
        if (tcsnicmp(target, L"mms://", 6) == 0) {
            tchar rest[HTTP_TEXT];
            tcscpy_s(rest, HTTP_TEXT, target + 6);
            tcscpy_s(target, HTTP_TEXT, L"http://");
            tcscat_s(target, HTTP_TEXT, rest);
            wasMms = true;
        }
        if (!reopen && s->goOnline) s->goOnline(target, Context()->wnd, 0);

        HINTERNET request = nullptr;
        bool ranged = false;
        for (;;) {
            // 7-9: a session and the request.
            s->session = InternetOpenW(kAgent, s->accessType, nullptr, nullptr, INTERNET_FLAG_ASYNC);
            if (s->session) {
                InternetSetStatusCallbackW(s->session, StatusCallback);
                tchar headers[kHeaderText];
                headers[0] = 0;
                ranged = reopen && s->seekable && want > 0;
                if (ranged) stprintf_s(headers, kHeaderText, L"Range: bytes=%d-\n", want);
                if (withHeaders) tcscat_s(headers, kHeaderText, s->extraHeaders);
                request = InternetOpenUrlW(s->session, target, headers, static_cast<DWORD>(-1), flags,
                                           reinterpret_cast<DWORD_PTR>(s));
                if (!request && GetLastError() == ERROR_IO_PENDING) {
                    s->pendingRead = 0;
                    if (WaitPending(s, kOpenWait)) request = reinterpret_cast<HINTERNET>(s->asyncResult);
                }
            }
            if (request) break;
            // 10: no answer.
            if (reopen) return ERR_OPEN_FAILED;
            if (s->accessType != INTERNET_OPEN_TYPE_DIRECT) break;
            s->accessType = INTERNET_OPEN_TYPE_PRECONFIG;
            CloseHandles(s);
            SettlePending(s);
        }
        if (!request) {
            if (!s->silent) {
                if (wasMms) ShowError(0, ERR_CLASS, -13, L"MMS");
                else ShowError(0, ERR_CLASS, -16, target);
            }
            return ERR_OPEN_FAILED;
        }
        s->request = request;

        // 11: where the answer came from, and its type.
        tchar final[HTTP_TEXT];
        DWORD len = sizeof(final);
        if (InternetQueryOptionW(request, INTERNET_OPTION_URL, final, &len)) tcscpy_s(s->url, HTTP_TEXT, final);
        else tcscpy_s(s->url, HTTP_TEXT, target);
        SplitURL(s->url, s->baseUrl, HTTP_TEXT);
        if (QueryText(request, HTTP_QUERY_CONTENT_TYPE, s->contentType, HTTP_TEXT)) tcsupr(s->contentType);

        // 12: the status.
        DWORD status = 0;
        len = sizeof(status);
        bool hasStatus =
            HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &len, nullptr) != 0;
        if (hasStatus && status >= 400 && status <= 599) {
            if (retries < kMaxRetries && IsRetried(status)) {
                ++retries;
                if (!reopen) ThreadSleep(200);
                continue;
            }
            if (!reopen && !s->silent) {
                if (status == 401) ShowError(0, ERR_CLASS, -19);
                else if (status == 404 || status == 410) ShowError(0, ERR_CLASS, -8, s->url);
                else ShowError(0, ERR_CLASS, -16, s->url);
            }
            CloseHandles(s);
            return ERR_OPEN_FAILED;
        }

        // Where the body starts: a range is answered by a 206 that says from where (-1 when
        // it does not); any other answer is the resource from its start.
        int start = 0;
        if (ranged && hasStatus && status == 206) start = ContentRangeStart(request);
        s->position = start;
        s->firstBytes = start == 0;

        // 13-15: length, the answer's headers, seekability.
        DWORD contentLength = 0;
        len = sizeof(contentLength);
        if (start >= 0 &&
            HttpQueryInfoW(request, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &contentLength, &len,
                           nullptr) &&
            contentLength != 0) {
            int64_t total = static_cast<int64_t>(contentLength) + start;
            s->length = total > 0x7FFFFFFF ? -1 : static_cast<int>(total);
        }
        if (withHeaders) ReadAnswerHeaders(s);
        // With metadata interleaved, what reads deliver is shorter by an unknown amount.
        if (s->metaInterval) s->length = -1;
        if (reopen) return s->position == want ? ERR_NONE : Resume(s, want);
        tchar ranges[64];
        if (QueryText(request, HTTP_QUERY_ACCEPT_RANGES, ranges, 64)) {
            tcsupr(ranges);
            s->seekable = tcsstr(ranges, L"BYTES") != nullptr;
        } else {
            s->seekable = s->length > 0;
        }
        // Offsets that leave out interleaved metadata are not the server's to serve a range at.
        if (s->metaInterval) s->seekable = 0;
        return ERR_NONE;
    }
}

namespace {

// The bytes of one read: the ICY status line and headers taken from the first bytes of
// the resource and the metadata blocks taken out; -1 when nothing came.
int Deliver(HttpStream* s, char* out, int n) {
    int total = 0;
    while (total < n) {
        char* p = out + total;
        int got = RawRead(s, p, n - total);
        if (got < 0) return total > 0 ? total : -1;
        if (got == 0) return total;
        bool first = s->firstBytes != 0;
        s->firstBytes = 0;
        // An ICY answer: its status line and headers arrive as the first bytes.
        if (first && got > 16) {
            int status = 0;
            if (IcyStatus(p, static_cast<size_t>(got), status)) {
                long end = status == 200 ? IcyHeaderEnd(p, static_cast<size_t>(got)) : -1;
                if (end < 0) {
                    // An error answer, or headers whose end is not in sight: none of it is
                    // audio, and no later read may take the rest of it for audio either.
                    CloseHandles(s);
                    return total > 0 ? total : -1;
                }
                tcscpy_s(s->contentType, HTTP_TEXT, L"AUDIO/MPEG");
                StreamHeaders visitor(s);
                ParseHeaderLines(p, static_cast<size_t>(end), visitor);
                if (s->metaInterval) {
                    s->length = -1;
                    s->seekable = 0;
                }
                int blockLength = static_cast<int>(end) + (p[end + 1] == '\n' ? 2 : 3);
                got -= blockLength;
                std::memmove(p, p + blockLength, static_cast<size_t>(got));
            }
        }
        if (s->metaInterval == 0) {
            total += got;
            if (got > 0) return total;
            continue;  // nothing but the ICY headers came: read on
        }
        bool removed = false;
        total += StripMetadata(s, p, got, removed);
        if (!removed && total > 0) return total;
    }
    return total;
}

}  // namespace

int HttpRead(void* self, void* buffer, int n) {
    auto* s = static_cast<HttpStream*>(self);
    if (!buffer || n <= 0) return n == 0 ? 0 : -1;
    int got = Deliver(s, static_cast<char*>(buffer), n);
    if (got > 0) s->position += got;
    if (s->broken && !s->resuming) Reconnect(s);
    return got;
}

void HttpComment(HttpStream* s, const char* key, const char* value, size_t length) {
    if (!s->sinkNode) return;
    tchar decoded[HTTP_TEXT];
    StrToTcs(decoded, HTTP_TEXT, value, static_cast<int>(std::min<size_t>(length, HTTP_TEXT * 4)));
    if (tcslen(decoded) > kMaxCommentValue) decoded[kMaxCommentValue] = 0;
    tchar text[128];
    tcscpy_s(text, 128, L"");
    StrToTcs(text, 128, key);
    tcscat_s(text, 128, decoded);
    auto* sink = static_cast<Node*>(s->sinkNode);
    if (sink->setParam) sink->setParam(sink, s->sinkParam, text, static_cast<int>(sizeof(text)));
}

}  // namespace network

const NodeClassDef kHttpClass = {NODE_CLASS_SIZE(sizeof(HttpStream), 0), HTTP_CLASS, STREAM_CLASS, 1,
                                 network::Create, network::Destroy};
