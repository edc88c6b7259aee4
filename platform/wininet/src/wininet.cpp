// WinINet on libcurl. Each session owns a curl multi handle, so its requests share a
// connection cache (keep-alive). A synchronous session runs its transfers on the calling
// threads; an asynchronous one has a worker thread that runs them and delivers the
// completions to the status callback. No lock is held while a thread waits on the network.
//
// Bodies are pulled: the write callback fills the caller's buffer directly and keeps at
// most a small spill beyond it; when that is full the transfer is paused until the
// caller reads again, so a body is never held whole in memory.
#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

#include "internal.h"
#include "platform/codepage.h"
#include "platform/lasterror.h"

namespace {

using namespace wininet;

constexpr DWORD kDefaultConnectTimeout = 60000;
constexpr DWORD kDefaultReceiveTimeout = 60000;
constexpr size_t kMaxHeaderBlock = 256 * 1024;  // a longer header block is a hostile answer
constexpr long kCurlBuffer = 128 * 1024;
// What a request takes from curl beyond the caller's buffer before it pauses the
// transfer: pausing makes curl copy what it holds, so a paused transfer costs more than
// a modest read-ahead.
constexpr size_t kSyncSpill = 1024 * 1024;
constexpr size_t kAsyncSpill = 1024 * 1024;

uint64_t NowMs() {
    using namespace std::chrono;
    return static_cast<uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

struct LastInfo {
    DWORD error = 0;
    std::wstring text;
};
thread_local LastInfo t_lastInfo;

BOOL Fail(DWORD code) {
    SetLastError(code);
    return FALSE;
}

void FailWithInfo(DWORD code, const char* detail) {
    t_lastInfo.error = code;
    t_lastInfo.text = platform::Utf8ToWide(detail ? detail : "");
    SetLastError(code);
}

struct Timeouts {
    DWORD connect = kDefaultConnectTimeout;
    DWORD send = kDefaultReceiveTimeout;
    DWORD receive = kDefaultReceiveTimeout;
};

std::mutex g_defaultsLock;
Timeouts g_defaults;

enum class Kind { Session, Request };

struct Handle {
    virtual ~Handle() = default;
    Kind kind;
    HINTERNET id = nullptr;
    INTERNET_STATUS_CALLBACK callback = nullptr;
    DWORD_PTR context = 0;
    Timeouts timeouts;
    explicit Handle(Kind k) : kind(k) {}
};

struct Request;

struct Session : Handle {
    Session() : Handle(Kind::Session) {}
    ~Session() override {
        if (multi) curl_multi_cleanup(multi);
    }
    std::string agent;
    DWORD accessType = INTERNET_OPEN_TYPE_DIRECT;
    bool async = false;
    // Guards the multi handle, every request's state, and `requests`.
    std::mutex mu;
    CURLM* multi = nullptr;
    std::vector<std::shared_ptr<Request>> requests;
    // Synchronous sessions: the thread that waits in curl_multi_poll does so with `mu`
    // released and `driving` set; meanwhile the multi handle is its alone, and every
    // thread that needs the handle wakes it and waits for `turn` (TakeMulti). Threads
    // whose requests move on through its rounds wait for `turn` as well.
    std::condition_variable turn;
    bool driving = false;
    int waitingForMulti = 0;
    // Asynchronous sessions only.
    std::thread worker;
    std::thread::id workerId;
    bool stop = false;
};

// Body bytes taken from curl but not yet read: a ring, so neither end moves bytes.
class Spill {
public:
    size_t Size() const { return size_; }
    void Append(const char* data, size_t n) {
        if (size_ + n > ring_.size()) Grow(size_ + n);
        size_t tail = (head_ + size_) % ring_.size();
        size_t first = std::min(n, ring_.size() - tail);
        std::memcpy(ring_.data() + tail, data, first);
        std::memcpy(ring_.data(), data + first, n - first);
        size_ += n;
    }
    size_t Take(char* dst, size_t n) {
        size_t k = std::min(n, size_);
        if (!k) return 0;
        size_t first = std::min(k, ring_.size() - head_);
        std::memcpy(dst, ring_.data() + head_, first);
        std::memcpy(dst + first, ring_.data(), k - first);
        head_ = (head_ + k) % ring_.size();
        size_ -= k;
        if (size_ == 0) head_ = 0;
        return k;
    }

private:
    void Grow(size_t needed) {
        std::vector<char> bigger(std::max(needed, ring_.size() * 2));
        size_t n = size_;
        Take(bigger.data(), n);
        size_ = n;
        head_ = 0;
        ring_.swap(bigger);
    }
    std::vector<char> ring_;
    size_t head_ = 0;
    size_t size_ = 0;
};

enum class Op { None, Open, Read, Query };

struct Request : Handle {
    Request() : Handle(Kind::Request) { errbuf[0] = 0; }
    ~Request() override {
        if (easy) curl_easy_cleanup(easy);
        if (headerList) curl_slist_free_all(headerList);
    }
    std::shared_ptr<Session> session;
    CURL* easy = nullptr;
    curl_slist* headerList = nullptr;
    char errbuf[CURL_ERROR_SIZE];
    bool inMulti = false;
    bool started = false;
    bool follow = true;
    bool refusedRedirect = false;  // the last answer is a redirection to a scheme not followed
    std::string requestedUrl;
    std::string effectiveUrl;
    // The answer: its status line and header lines (CR LF each), the last answer of a redirection chain.
    std::string headerBlock;
    int status = 0;  // 0: no status line (HTTP/0.9)
    bool headersDone = false;
    bool done = false;
    CURLcode result = CURLE_OK;
    bool failedInBody = false;
    // Body bytes taken from curl but not yet read.
    Spill spill;
    size_t spillCap = 1;
    char* target = nullptr;
    size_t targetCap = 0;
    size_t targetLen = 0;
    bool paused = false;
    bool wantUnpause = false;
    uint64_t lastActivity = 0;
    // Asynchronous operation outstanding.
    Op op = Op::None;
    DWORD* opOut = nullptr;
    bool closed = false;

    size_t Buffered() const { return spill.Size(); }
    size_t TakeSpill(char* dst, size_t n) { return spill.Take(dst, n); }
};

// --- the handle table -------------------------------------------------------------

struct Table {
    std::mutex mu;
    std::unordered_map<uintptr_t, std::shared_ptr<Handle>> handles;
    uintptr_t next = 0xCC0004;
};

Table& Handles() {
    static Table* t = new Table;  // outlives every static object of the program
    return *t;
}

HINTERNET AddHandle(const std::shared_ptr<Handle>& h) {
    Table& t = Handles();
    std::lock_guard<std::mutex> g(t.mu);
    uintptr_t id = t.next;
    t.next += 4;
    h->id = reinterpret_cast<HINTERNET>(id);
    t.handles[id] = h;
    return h->id;
}

std::shared_ptr<Handle> FindHandle(HINTERNET h) {
    Table& t = Handles();
    std::lock_guard<std::mutex> g(t.mu);
    auto it = t.handles.find(reinterpret_cast<uintptr_t>(h));
    return it == t.handles.end() ? nullptr : it->second;
}

std::shared_ptr<Handle> TakeHandle(HINTERNET h) {
    Table& t = Handles();
    std::lock_guard<std::mutex> g(t.mu);
    auto it = t.handles.find(reinterpret_cast<uintptr_t>(h));
    if (it == t.handles.end()) return nullptr;
    auto found = it->second;
    t.handles.erase(it);
    return found;
}

void DropHandle(HINTERNET h) { TakeHandle(h); }

std::shared_ptr<Request> FindRequest(HINTERNET h) {
    auto found = FindHandle(h);
    if (!found) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (found->kind != Kind::Request) {
        SetLastError(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
        return nullptr;
    }
    return std::static_pointer_cast<Request>(found);
}

// --- curl callbacks (run inside the session's curl calls, with the session lock held) ---

bool IsRedirect(int status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

bool HasHeader(std::string_view block, std::string_view name);
bool FindHeader(std::string_view block, std::string_view name, DWORD index, std::string& value);

// Redirections are followed to http and https only; a relative Location keeps the scheme.
bool FollowableLocation(std::string_view block) {
    std::string location;
    if (!FindHeader(block, "Location", 0, location)) return false;
    size_t colon = location.find(':');
    size_t end = location.find_first_of("/?#");
    if (colon == std::string::npos || (end != std::string::npos && end < colon)) return true;
    std::string scheme = location.substr(0, colon);
    for (char& c : scheme) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return scheme == "http" || scheme == "https";
}

// Headers do not restart the request's time-out: the wait for an answer's headers is
// bounded as a whole from the request, however slowly their lines come.
size_t OnHeader(char* data, size_t size, size_t count, void* user) {
    auto* r = static_cast<Request*>(user);
    size_t n = size * count;
    std::string_view line(data, n);
    if (line.size() >= 5 && line.compare(0, 5, "HTTP/") == 0) {
        r->headerBlock.clear();
        r->status = 0;
        size_t sp = line.find(' ');
        if (sp != std::string_view::npos) {
            int code = 0;
            size_t i = sp + 1;
            for (int d = 0; d < 3 && i < line.size() && line[i] >= '0' && line[i] <= '9'; ++d, ++i)
                code = code * 10 + (line[i] - '0');
            r->status = code;
        }
        char* url = nullptr;
        if (curl_easy_getinfo(r->easy, CURLINFO_EFFECTIVE_URL, &url) == CURLE_OK && url) r->effectiveUrl = url;
    }
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
    if (line.empty()) {
        // The end of one answer's headers: the last answer unless curl follows this one.
        bool followed = false;
        if (r->follow && IsRedirect(r->status) && HasHeader(r->headerBlock, "Location")) {
            followed = FollowableLocation(r->headerBlock);
            // curl refuses to go on to another scheme: this answer is the last one.
            r->refusedRedirect = !followed;
        }
        if (r->status >= 200 && !followed) r->headersDone = true;
        return n;
    }
    if (r->headerBlock.size() + line.size() + 2 > kMaxHeaderBlock) return 0;  // refuse: fails the transfer
    r->headerBlock.append(line);
    r->headerBlock.append("\r\n");
    return n;
}

size_t OnBody(char* data, size_t size, size_t count, void* user) {
    auto* r = static_cast<Request*>(user);
    size_t n = size * count;
    r->lastActivity = NowMs();
    r->headersDone = true;
    if (r->closed) return n;  // nobody reads it any more
    size_t used = 0;
    if (r->target && r->Buffered() == 0 && r->targetLen < r->targetCap) {
        used = std::min(n, r->targetCap - r->targetLen);
        std::memcpy(r->target + r->targetLen, data, used);
        r->targetLen += used;
        if (used == n) return n;
    }
    if (used == 0 && r->Buffered() >= r->spillCap) {
        r->paused = true;
        return CURL_WRITEFUNC_PAUSE;
    }
    r->spill.Append(data + used, n - used);
    return n;
}

// --- curl plumbing (session lock held) --------------------------------------------------

void Detach(Session& s, Request& r) {
    if (r.inMulti) {
        curl_multi_remove_handle(s.multi, r.easy);
        r.inMulti = false;
    }
}

void Finish(Session& s, Request& r, CURLcode result) {
    // The redirection's own answer (whose body curl drops) is the request's whole answer.
    if (r.refusedRedirect && result == CURLE_UNSUPPORTED_PROTOCOL) result = CURLE_OK;
    r.failedInBody = r.headersDone;
    r.done = true;
    r.result = result;
    if (result == CURLE_OK) r.headersDone = true;
    char* url = nullptr;
    if (curl_easy_getinfo(r.easy, CURLINFO_EFFECTIVE_URL, &url) == CURLE_OK && url) r.effectiveUrl = url;
    Detach(s, r);
}

void DrainMessages(Session& s) {
    int left = 0;
    while (CURLMsg* msg = curl_multi_info_read(s.multi, &left)) {
        if (msg->msg != CURLMSG_DONE) continue;
        Request* r = nullptr;
        curl_easy_getinfo(msg->easy_handle, CURLINFO_PRIVATE, reinterpret_cast<char**>(&r));
        if (r) Finish(s, *r, msg->data.result);
    }
}

// Silence allowed on a transfer; curl itself bounds the connect.
DWORD IdleLimit(const Request& r) { return r.timeouts.receive; }

// Fails a request whose transfer has been silent for longer than its time-outs allow.
bool CheckStalled(Session& s, Request& r, uint64_t now) {
    DWORD limit = IdleLimit(r);
    if (r.done || !limit || now - r.lastActivity < limit) return false;
    std::snprintf(r.errbuf, sizeof(r.errbuf), "No data from the server for %u ms", static_cast<unsigned>(limit));
    Finish(s, r, CURLE_OPERATION_TIMEDOUT);
    return true;
}

// How long a synchronous wait may last before the request's silence is checked again.
uint64_t WaitMs(const Request& r, uint64_t now) {
    DWORD limit = IdleLimit(r);
    return limit ? std::min<uint64_t>(1000, r.lastActivity + limit - now + 1) : 1000;
}

// Synchronous sessions: makes the multi handle this thread's to use for as long as it
// holds `lock`, waking the thread that waits on the network with it.
void TakeMulti(Session& s, std::unique_lock<std::mutex>& lock) {
    if (!s.driving) return;
    ++s.waitingForMulti;
    while (s.driving) {
        curl_multi_wakeup(s.multi);
        s.turn.wait(lock);
    }
    --s.waitingForMulti;
    s.turn.notify_all();
}

// Synchronous sessions: runs the session's transfers on this thread until `ready()`, the
// end of the request's transfer, its time-out or its close. While another thread runs
// them, this one waits for its rounds, which move this request on too.
template <class Ready>
void DriveSync(Session& s, Request& r, std::unique_lock<std::mutex>& lock, Ready ready) {
    r.lastActivity = NowMs();
    for (;;) {
        if (r.closed || ready() || r.done) return;
        uint64_t now = NowMs();
        if (s.waitingForMulti > 0 && !s.driving) {
            s.turn.wait(lock, [&] { return s.waitingForMulti == 0 || s.driving; });
            continue;
        }
        if (s.driving) {
            if (DWORD limit = IdleLimit(r); limit && now - r.lastActivity >= limit) {
                TakeMulti(s, lock);  // to end this request as stalled
                continue;
            }
            s.turn.wait_for(lock, std::chrono::milliseconds(WaitMs(r, now)));
            continue;
        }
        int running = 0;
        curl_multi_perform(s.multi, &running);
        DrainMessages(s);
        s.turn.notify_all();  // other threads' requests may have moved on
        if (r.closed || ready() || r.done) return;
        now = NowMs();
        if (CheckStalled(s, r, now)) return;
        if (s.waitingForMulti > 0) continue;
        int wait = static_cast<int>(WaitMs(r, now));
        s.driving = true;
        lock.unlock();
        curl_multi_poll(s.multi, nullptr, 0, wait, nullptr);
        lock.lock();
        s.driving = false;
        s.turn.notify_all();
    }
}

void Resume(Request& r) {
    if (r.paused && r.easy) {
        r.paused = false;
        curl_easy_pause(r.easy, CURLPAUSE_CONT);
    }
}

void ReportTransferError(const Request& r) {
    DWORD code = MapCurlResult(r.result, r.failedInBody, r.session->async);
    const char* detail = r.errbuf[0] ? r.errbuf : curl_easy_strerror(r.result);
    FailWithInfo(code, detail);
}

// --- asynchronous sessions ----------------------------------------------------------------

struct Completion {
    INTERNET_STATUS_CALLBACK callback;
    HINTERNET handle;
    DWORD_PTR context;
    INTERNET_ASYNC_RESULT result;
};

void Complete(Request& r, DWORD_PTR result, DWORD error, std::vector<Completion>& out) {
    r.op = Op::None;
    r.opOut = nullptr;
    r.target = nullptr;
    if (r.callback) out.push_back({r.callback, r.id, r.context, {result, error}});
}

// Decides whether the request's outstanding operation is over (session lock held).
void CheckOperation(Session& s, Request& r, uint64_t now, std::vector<Completion>& out) {
    if (r.op == Op::None) return;
    if (r.closed) {
        if (r.op == Op::Open) DropHandle(r.id);
        Complete(r, 0, ERROR_INTERNET_OPERATION_CANCELLED, out);
        return;
    }
    CheckStalled(s, r, now);
    DWORD error = r.done && r.result != CURLE_OK ? MapCurlResult(r.result, r.failedInBody, true) : 0;
    switch (r.op) {
    case Op::Open:
        if (r.headersDone) {
            Complete(r, reinterpret_cast<DWORD_PTR>(r.id), 0, out);
        } else if (r.done) {
            r.closed = true;
            DropHandle(r.id);
            Complete(r, 0, error ? error : ERROR_HTTP_INVALID_SERVER_RESPONSE, out);
        }
        break;
    case Op::Read:
        for (;;) {
            if (r.targetLen < r.targetCap)
                r.targetLen += r.TakeSpill(r.target + r.targetLen, r.targetCap - r.targetLen);
            if (r.targetLen == r.targetCap || r.done) {
                if (r.targetLen == 0 && error) {
                    *r.opOut = 0;
                    Complete(r, FALSE, error, out);
                } else {
                    *r.opOut = static_cast<DWORD>(r.targetLen);
                    Complete(r, TRUE, 0, out);
                }
                break;
            }
            if (!r.paused) break;
            Resume(r);  // the spill made room: let curl deliver what it holds
            DrainMessages(s);
            error = r.done && r.result != CURLE_OK ? MapCurlResult(r.result, r.failedInBody, true) : 0;
        }
        break;
    case Op::Query:
        if (r.Buffered() > 0 || r.done) {
            if (r.Buffered() == 0 && error) {
                *r.opOut = 0;
                Complete(r, FALSE, error, out);
            } else {
                *r.opOut = static_cast<DWORD>(std::min<size_t>(r.Buffered(), 0xFFFFFFFFu));
                Complete(r, TRUE, 0, out);
            }
        }
        break;
    case Op::None:
        break;
    }
}

void Worker(std::shared_ptr<Session> s) {
    std::unique_lock<std::mutex> lock(s->mu);
    std::vector<Completion> out;
    for (;;) {
        for (auto& r : s->requests) {
            if (!r->started && !r->closed) {
                r->started = true;
                r->lastActivity = NowMs();
                if (curl_multi_add_handle(s->multi, r->easy) == CURLM_OK) r->inMulti = true;
                else Finish(*s, *r, CURLE_FAILED_INIT);
            }
            if (r->wantUnpause) {
                r->wantUnpause = false;
                Resume(*r);
            }
        }
        int running = 0;
        curl_multi_perform(s->multi, &running);
        DrainMessages(*s);
        uint64_t now = NowMs();
        for (auto& r : s->requests) {
            if (s->stop) r->closed = true;
            CheckOperation(*s, *r, now, out);
        }
        // Closed requests whose operation is over leave the session.
        for (auto it = s->requests.begin(); it != s->requests.end();) {
            Request& r = **it;
            if (r.closed && r.op == Op::None) {
                Detach(*s, r);
                it = s->requests.erase(it);
            } else {
                ++it;
            }
        }
        bool finished = s->stop && s->requests.empty();
        if (!out.empty()) {
            lock.unlock();
            for (auto& c : out) c.callback(c.handle, c.context, INTERNET_STATUS_REQUEST_COMPLETE, &c.result,
                                           sizeof(c.result));
            out.clear();
            lock.lock();
            if (!finished) continue;
        }
        if (finished) return;
        lock.unlock();
        curl_multi_poll(s->multi, nullptr, 0, 200, nullptr);
        lock.lock();
    }
}

void Wake(Session& s) { curl_multi_wakeup(s.multi); }

// --- helpers -------------------------------------------------------------------------------

std::string EscapeUrl(const std::string& url) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(url.size());
    for (unsigned char c : url) {
        if (c <= 0x20 || c >= 0x7F) {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) != std::tolower(static_cast<unsigned char>(prefix[i])))
            return false;
    return true;
}

bool EqualNoCase(std::string_view a, std::string_view b) { return a.size() == b.size() && StartsWithNoCase(a, b); }

// The value of the index-th header `name` in the block (status line first), if any.
bool FindHeader(std::string_view block, std::string_view name, DWORD index, std::string& value) {
    size_t pos = block.find("\r\n");  // skip the status line
    if (pos == std::string_view::npos) return false;
    pos += 2;
    while (pos < block.size()) {
        size_t end = block.find("\r\n", pos);
        if (end == std::string_view::npos) end = block.size();
        std::string_view line = block.substr(pos, end - pos);
        pos = end + 2;
        size_t colon = line.find(':');
        if (colon == std::string_view::npos) continue;
        std::string_view key = line.substr(0, colon);
        while (!key.empty() && (key.back() == ' ' || key.back() == '\t')) key.remove_suffix(1);
        if (!EqualNoCase(key, name)) continue;
        if (index > 0) {
            --index;
            continue;
        }
        std::string_view v = line.substr(colon + 1);
        while (!v.empty() && (v.front() == ' ' || v.front() == '\t')) v.remove_prefix(1);
        while (!v.empty() && (v.back() == ' ' || v.back() == '\t')) v.remove_suffix(1);
        value.assign(v);
        return true;
    }
    return false;
}

bool HasHeader(std::string_view block, std::string_view name) {
    std::string v;
    return FindHeader(block, name, 0, v);
}

const char* HeaderName(DWORD level) {
    switch (level) {
    case HTTP_QUERY_CONTENT_TYPE: return "Content-Type";
    case HTTP_QUERY_CONTENT_LENGTH: return "Content-Length";
    case 9: return "Date";
    case 11: return "Last-Modified";
    case HTTP_QUERY_PRAGMA: return "Pragma";
    case 23: return "Connection";
    case HTTP_QUERY_CONTENT_ENCODING: return "Content-Encoding";
    case HTTP_QUERY_LOCATION: return "Location";
    case 37: return "Server";
    case HTTP_QUERY_ACCEPT_RANGES: return "Accept-Ranges";
    case HTTP_QUERY_TRANSFER_ENCODING: return "Transfer-Encoding";
    default: return nullptr;
    }
}

BOOL CopyWide(const std::wstring& text, LPVOID buffer, DWORD* length) {
    DWORD needed = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
    if (!buffer || *length < needed) {
        *length = needed;
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    std::memcpy(buffer, text.c_str(), needed);
    *length = needed - sizeof(wchar_t);
    return TRUE;
}

BOOL CopyDword(DWORD value, LPVOID buffer, DWORD* length) {
    if (!buffer || *length < sizeof(DWORD)) {
        *length = sizeof(DWORD);
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    std::memcpy(buffer, &value, sizeof(DWORD));
    *length = sizeof(DWORD);
    return TRUE;
}

DWORD* TimeoutSlot(Timeouts& t, DWORD option) {
    switch (option) {
    case INTERNET_OPTION_CONNECT_TIMEOUT: return &t.connect;
    case INTERNET_OPTION_SEND_TIMEOUT:
    case INTERNET_OPTION_DATA_SEND_TIMEOUT: return &t.send;
    case INTERNET_OPTION_RECEIVE_TIMEOUT:
    case INTERNET_OPTION_DATA_RECEIVE_TIMEOUT: return &t.receive;
    default: return nullptr;
    }
}

std::atomic<bool> g_goOnlineHidden{false};

struct CallLog {
    std::atomic<bool> enabled{false};
    std::mutex mu;
    std::vector<std::string> lines;
};
CallLog& Log() {
    static CallLog* log = new CallLog;
    return *log;
}
void LogCall(const std::string& line) {
    CallLog& log = Log();
    if (!log.enabled) return;
    std::lock_guard<std::mutex> g(log.mu);
    if (log.lines.size() >= 1000) log.lines.erase(log.lines.begin());
    log.lines.push_back(line);
}
std::string Hex32(DWORD v) {
    char buf[16];
    std::snprintf(buf, sizeof(buf), "0x%08X", static_cast<unsigned>(v));
    return buf;
}

}  // namespace

// --- the API ---------------------------------------------------------------------------------

HINTERNET InternetOpenW(LPCWSTR agent, DWORD accessType, LPCWSTR /*proxy*/, LPCWSTR /*proxyBypass*/, DWORD flags) {
    RegisterTexts();
    static std::once_flag curlInit;
    std::call_once(curlInit, [] { curl_global_init(CURL_GLOBAL_ALL); });
    if (accessType != INTERNET_OPEN_TYPE_PRECONFIG && accessType != INTERNET_OPEN_TYPE_DIRECT &&
        accessType != INTERNET_OPEN_TYPE_PROXY && accessType != 4) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    LogCall("InternetOpenW access=" + std::to_string(accessType) + " flags=" + Hex32(flags) +
            " agent=" + (agent ? platform::WideToUtf8(agent) : std::string()));
    auto s = std::make_shared<Session>();
    s->agent = agent ? platform::WideToUtf8(agent) : std::string();
    s->accessType = accessType;
    s->async = (flags & INTERNET_FLAG_ASYNC) != 0;
    {
        std::lock_guard<std::mutex> g(g_defaultsLock);
        s->timeouts = g_defaults;
    }
    s->multi = curl_multi_init();
    if (!s->multi) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    HINTERNET h = AddHandle(s);
    if (s->async) {
        s->worker = std::thread(Worker, s);
        s->workerId = s->worker.get_id();
    }
    SetLastError(0);
    return h;
}

BOOL InternetCloseHandle(HINTERNET handle) {
    auto h = TakeHandle(handle);
    if (!h) return Fail(ERROR_INVALID_HANDLE);
    LogCall(h->kind == Kind::Request ? "InternetCloseHandle request" : "InternetCloseHandle session");
    if (h->kind == Kind::Request) {
        auto r = std::static_pointer_cast<Request>(h);
        auto s = r->session;
        std::unique_lock<std::mutex> lock(s->mu);
        r->closed = true;
        r->target = nullptr;
        if (s->async) {
            Wake(*s);  // the worker completes what is outstanding and lets the transfer go
        } else {
            TakeMulti(*s, lock);
            Detach(*s, *r);
            s->requests.erase(std::remove(s->requests.begin(), s->requests.end(), r), s->requests.end());
            s->turn.notify_all();  // a thread still waiting on this request gives up
        }
        return TRUE;
    }
    auto s = std::static_pointer_cast<Session>(h);
    std::vector<std::shared_ptr<Request>> children;
    {
        std::unique_lock<std::mutex> lock(s->mu);
        children = s->requests;
        for (auto& r : children) {
            r->closed = true;
            r->target = nullptr;
        }
        if (s->async) {
            s->stop = true;
            Wake(*s);
        } else {
            TakeMulti(*s, lock);
            for (auto& r : children) Detach(*s, *r);
            s->requests.clear();
            s->turn.notify_all();
        }
    }
    for (auto& r : children) DropHandle(r->id);
    if (s->async && s->worker.joinable()) {
        if (std::this_thread::get_id() == s->workerId) s->worker.detach();  // closed from its own callback
        else s->worker.join();
    }
    return TRUE;
}

BOOL InternetSetOptionW(HINTERNET handle, DWORD option, LPVOID buffer, DWORD length) {
    if (option == INTERNET_OPTION_CALLBACK || option == INTERNET_OPTION_URL || option == INTERNET_OPTION_HANDLE_TYPE)
        return Fail(ERROR_INTERNET_OPTION_NOT_SETTABLE);
    if (option == INTERNET_OPTION_CONNECT_RETRIES) {
        if (!buffer || length != sizeof(DWORD)) return Fail(ERROR_INTERNET_BAD_OPTION_LENGTH);
        return TRUE;  // curl makes one attempt per address
    }
    if (option == INTERNET_OPTION_CONTEXT_VALUE) {
        if (!buffer || length != sizeof(DWORD_PTR)) return Fail(ERROR_INTERNET_BAD_OPTION_LENGTH);
        auto h = FindHandle(handle);
        if (!h) return Fail(ERROR_INVALID_HANDLE);
        std::memcpy(&h->context, buffer, sizeof(DWORD_PTR));
        return TRUE;
    }
    if (!handle) {
        std::lock_guard<std::mutex> g(g_defaultsLock);
        DWORD* slot = TimeoutSlot(g_defaults, option);
        if (!slot) return Fail(ERROR_INTERNET_INVALID_OPTION);
        if (!buffer || length != sizeof(DWORD)) return Fail(ERROR_INTERNET_BAD_OPTION_LENGTH);
        std::memcpy(slot, buffer, sizeof(DWORD));
        return TRUE;
    }
    auto h = FindHandle(handle);
    if (!h) return Fail(ERROR_INVALID_HANDLE);
    DWORD* slot = TimeoutSlot(h->timeouts, option);
    if (!slot) return Fail(ERROR_INTERNET_INVALID_OPTION);
    if (!buffer || length != sizeof(DWORD)) return Fail(ERROR_INTERNET_BAD_OPTION_LENGTH);
    if (h->kind == Kind::Request) {
        auto s = std::static_pointer_cast<Request>(h)->session;
        std::lock_guard<std::mutex> g(s->mu);
        std::memcpy(slot, buffer, sizeof(DWORD));
    } else {
        std::lock_guard<std::mutex> g(std::static_pointer_cast<Session>(h)->mu);
        std::memcpy(slot, buffer, sizeof(DWORD));
    }
    return TRUE;
}

BOOL InternetQueryOptionW(HINTERNET handle, DWORD option, LPVOID buffer, DWORD* length) {
    if (!length) return Fail(ERROR_INVALID_PARAMETER);
    auto h = FindHandle(handle);
    if (!h) return Fail(ERROR_INVALID_HANDLE);
    if (option == INTERNET_OPTION_HANDLE_TYPE)
        return CopyDword(h->kind == Kind::Session ? INTERNET_HANDLE_TYPE_INTERNET : INTERNET_HANDLE_TYPE_HTTP_REQUEST,
                         buffer, length);
    if (option == INTERNET_OPTION_CONTEXT_VALUE) {
        if (!buffer || *length < sizeof(DWORD_PTR)) {
            *length = sizeof(DWORD_PTR);
            return Fail(ERROR_INSUFFICIENT_BUFFER);
        }
        std::memcpy(buffer, &h->context, sizeof(DWORD_PTR));
        *length = sizeof(DWORD_PTR);
        return TRUE;
    }
    if (DWORD* slot = TimeoutSlot(h->timeouts, option)) return CopyDword(*slot, buffer, length);
    if (option == INTERNET_OPTION_USER_AGENT && h->kind == Kind::Session)
        return CopyWide(platform::Utf8ToWide(std::static_pointer_cast<Session>(h)->agent), buffer, length);
    if (option == INTERNET_OPTION_URL) {
        if (h->kind != Kind::Request) return Fail(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
        auto r = std::static_pointer_cast<Request>(h);
        std::string url;
        {
            std::lock_guard<std::mutex> g(r->session->mu);
            url = r->effectiveUrl.empty() ? r->requestedUrl : r->effectiveUrl;
        }
        return CopyWide(platform::Utf8ToWide(url), buffer, length);
    }
    return Fail(ERROR_INTERNET_INVALID_OPTION);
}

HINTERNET InternetOpenUrlW(HINTERNET session, LPCWSTR url, LPCWSTR headers, DWORD headersLength, DWORD flags,
                           DWORD_PTR context) {
    auto h = FindHandle(session);
    if (!h) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (h->kind != Kind::Session) {
        SetLastError(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
        return nullptr;
    }
    auto s = std::static_pointer_cast<Session>(h);
    if (!url || !*url) {
        FailWithInfo(ERROR_INTERNET_INVALID_URL, "No URL");
        return nullptr;
    }
    std::string u = platform::WideToUtf8(url);
    LogCall("InternetOpenUrlW url=" + u + " flags=" + Hex32(flags) +
            " headers=" + (headers ? platform::WideToUtf8(headersLength == 0xFFFFFFFFu
                                                              ? std::wstring_view(headers)
                                                              : std::wstring_view(headers, headersLength))
                                   : std::string()));
    size_t lead = 0;
    while (lead < u.size() && (u[lead] == ' ' || u[lead] == '\t')) ++lead;
    u.erase(0, lead);
    if (!StartsWithNoCase(u, "http://") && !StartsWithNoCase(u, "https://")) {
        FailWithInfo(u.find("://") == std::string::npos ? ERROR_INTERNET_INVALID_URL
                                                        : ERROR_INTERNET_UNRECOGNIZED_SCHEME,
                     "Only http and https URLs are supported");
        return nullptr;
    }

    auto r = std::make_shared<Request>();
    r->session = s;
    r->requestedUrl = u;
    r->follow = (flags & INTERNET_FLAG_NO_AUTO_REDIRECT) == 0;
    r->spillCap = s->async ? kAsyncSpill : kSyncSpill;
    r->easy = curl_easy_init();
    if (!r->easy) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (headers) {
        std::wstring_view all = headersLength == 0xFFFFFFFFu ? std::wstring_view(headers)
                                                             : std::wstring_view(headers, headersLength);
        std::string text = platform::WideToUtf8(all);
        size_t pos = 0;
        while (pos < text.size()) {
            size_t end = text.find('\n', pos);
            if (end == std::string::npos) end = text.size();
            std::string line = text.substr(pos, end - pos);
            pos = end + 1;
            while (!line.empty() && (line.back() == '\r' || line.back() == '\0')) line.pop_back();
            if (line.empty() || line.find(':') == std::string::npos) continue;
            curl_slist* next = curl_slist_append(r->headerList, line.c_str());
            if (next) r->headerList = next;
        }
    }
    CURL* e = r->easy;
    curl_easy_setopt(e, CURLOPT_URL, EscapeUrl(u).c_str());
    curl_easy_setopt(e, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, r->follow ? 1L : 0L);
    curl_easy_setopt(e, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(e, CURLOPT_HTTP09_ALLOWED, 1L);
    if (!s->agent.empty()) curl_easy_setopt(e, CURLOPT_USERAGENT, s->agent.c_str());
    if (r->headerList) curl_easy_setopt(e, CURLOPT_HTTPHEADER, r->headerList);
    if (s->accessType == INTERNET_OPEN_TYPE_DIRECT) curl_easy_setopt(e, CURLOPT_PROXY, "");
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e, CURLOPT_BUFFERSIZE, kCurlBuffer);
    curl_easy_setopt(e, CURLOPT_ERRORBUFFER, r->errbuf);
    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, OnHeader);
    curl_easy_setopt(e, CURLOPT_HEADERDATA, r.get());
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, OnBody);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, r.get());
    curl_easy_setopt(e, CURLOPT_PRIVATE, r.get());

    std::unique_lock<std::mutex> lock(s->mu);
    if (s->stop) {
        SetLastError(ERROR_INTERNET_SHUTDOWN);
        return nullptr;
    }
    r->timeouts = s->timeouts;
    r->callback = s->callback;
    r->context = context;
    if (r->timeouts.connect) curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(r->timeouts.connect));
    HINTERNET id = AddHandle(r);
    s->requests.push_back(r);
    if (s->async) {
        r->op = Op::Open;
        Wake(*s);
        SetLastError(ERROR_IO_PENDING);
        return nullptr;
    }
    r->started = true;
    TakeMulti(*s, lock);
    if (curl_multi_add_handle(s->multi, e) != CURLM_OK) {
        s->requests.pop_back();
        DropHandle(id);
        FailWithInfo(ERROR_INTERNET_INTERNAL_ERROR, "The transfer could not start");
        return nullptr;
    }
    r->inMulti = true;
    DriveSync(*s, *r, lock, [&] { return r->headersDone; });
    if (r->closed) {  // the session was closed meanwhile
        DropHandle(id);
        SetLastError(ERROR_INTERNET_OPERATION_CANCELLED);
        return nullptr;
    }
    if (!r->headersDone) {
        ReportTransferError(*r);
        DWORD code = GetLastError();
        TakeMulti(*s, lock);
        Detach(*s, *r);
        s->requests.erase(std::remove(s->requests.begin(), s->requests.end(), r), s->requests.end());
        DropHandle(id);
        SetLastError(code);
        return nullptr;
    }
    SetLastError(0);
    return id;
}

BOOL InternetReadFile(HINTERNET request, LPVOID buffer, DWORD toRead, DWORD* read) {
    if (!read) return Fail(ERROR_INVALID_PARAMETER);
    auto r = FindRequest(request);
    if (!r) return FALSE;
    if (!buffer && toRead) return Fail(ERROR_INVALID_PARAMETER);
    Session& s = *r->session;
    std::unique_lock<std::mutex> lock(s.mu);
    if (r->op != Op::None) return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
    char* dst = static_cast<char*>(buffer);
    size_t got = r->TakeSpill(dst, toRead);
    if (got < toRead && !r->done) {
        r->target = dst;
        r->targetCap = toRead;
        r->targetLen = got;
        if (s.async) {
            r->op = Op::Read;
            r->opOut = read;
            r->lastActivity = NowMs();  // the time-out counts from the request for bytes
            if (r->paused) r->wantUnpause = true;
            Wake(s);
            return Fail(ERROR_IO_PENDING);
        }
        if (r->paused) TakeMulti(s, lock);
        Resume(*r);
        DriveSync(s, *r, lock, [&] { return r->targetLen == r->targetCap; });
        got = r->targetLen;
        r->target = nullptr;
        if (r->closed) return Fail(ERROR_INTERNET_OPERATION_CANCELLED);
    } else if (s.async && r->paused && r->Buffered() <= r->spillCap / 2) {
        // Let the transfer go on once half the read-ahead is free, not after every read.
        r->wantUnpause = true;
        Wake(s);
    }
    if (got == 0 && toRead > 0 && r->done && r->result != CURLE_OK) {
        ReportTransferError(*r);
        *read = 0;
        return FALSE;
    }
    *read = static_cast<DWORD>(got);
    SetLastError(0);
    return TRUE;
}

BOOL InternetQueryDataAvailable(HINTERNET request, DWORD* available, DWORD /*flags*/, DWORD_PTR /*context*/) {
    if (!available) return Fail(ERROR_INVALID_PARAMETER);
    auto r = FindRequest(request);
    if (!r) return FALSE;
    Session& s = *r->session;
    std::unique_lock<std::mutex> lock(s.mu);
    if (r->op != Op::None) return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
    if (r->Buffered() == 0 && !r->done) {
        if (s.async) {
            r->op = Op::Query;
            r->opOut = available;
            r->lastActivity = NowMs();
            if (r->paused) r->wantUnpause = true;
            Wake(s);
            return Fail(ERROR_IO_PENDING);
        }
        if (r->paused) TakeMulti(s, lock);
        Resume(*r);
        DriveSync(s, *r, lock, [&] { return r->Buffered() > 0; });
        if (r->closed) return Fail(ERROR_INTERNET_OPERATION_CANCELLED);
    }
    if (r->Buffered() == 0 && r->done && r->result != CURLE_OK) {
        ReportTransferError(*r);
        *available = 0;
        return FALSE;
    }
    *available = static_cast<DWORD>(std::min<size_t>(r->Buffered(), 0xFFFFFFFFu));
    SetLastError(0);
    return TRUE;
}

BOOL HttpQueryInfoW(HINTERNET request, DWORD infoLevel, LPVOID buffer, DWORD* length, DWORD* index) {
    if (!length) return Fail(ERROR_INVALID_PARAMETER);
    auto r = FindRequest(request);
    if (!r) return FALSE;
    std::string block;
    int status = 0;
    {
        std::lock_guard<std::mutex> g(r->session->mu);
        if (!r->headersDone) return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
        block = r->headerBlock;
        status = r->status;
    }
    DWORD level = infoLevel & HTTP_QUERY_HEADER_MASK;
    bool number = (infoLevel & HTTP_QUERY_FLAG_NUMBER) != 0;
    DWORD want = index ? *index : 0;
    std::string value;
    bool indexed = false;
    if (block.empty()) return Fail(ERROR_HTTP_HEADER_NOT_FOUND);  // an answer without headers (HTTP/0.9)
    size_t lineEnd = block.find("\r\n");
    std::string_view statusLine(block.data(), lineEnd == std::string::npos ? block.size() : lineEnd);
    switch (level) {
    case HTTP_QUERY_STATUS_CODE:
        if (status <= 0) return Fail(ERROR_HTTP_HEADER_NOT_FOUND);
        value = std::to_string(status);
        break;
    case HTTP_QUERY_VERSION:
        value.assign(statusLine.substr(0, statusLine.find(' ')));
        break;
    case HTTP_QUERY_STATUS_TEXT: {
        size_t a = statusLine.find(' ');
        size_t b = a == std::string_view::npos ? a : statusLine.find(' ', a + 1);
        if (b != std::string_view::npos) value.assign(statusLine.substr(b + 1));
        break;
    }
    case HTTP_QUERY_RAW_HEADERS_CRLF:
        value = block + "\r\n";
        break;
    case HTTP_QUERY_RAW_HEADERS: {
        value = block;
        for (size_t p; (p = value.find("\r\n")) != std::string::npos;) value.replace(p, 2, std::string(1, '\0'));
        std::wstring w = platform::Utf8ToWide(value);
        w.push_back(L'\0');
        return CopyWide(w, buffer, length);
    }
    case HTTP_QUERY_CUSTOM: {
        if (!buffer) return Fail(ERROR_INVALID_PARAMETER);
        std::string name = platform::WideToUtf8(static_cast<const wchar_t*>(buffer));
        if (!FindHeader(block, name, want, value)) return Fail(ERROR_HTTP_HEADER_NOT_FOUND);
        indexed = true;
        break;
    }
    default: {
        const char* name = HeaderName(level);
        if (!name) return Fail(ERROR_HTTP_INVALID_QUERY_REQUEST);
        if (!FindHeader(block, name, want, value)) return Fail(ERROR_HTTP_HEADER_NOT_FOUND);
        indexed = true;
        break;
    }
    }
    BOOL ok;
    if (number) {
        char* end = nullptr;
        unsigned long long v = std::strtoull(value.c_str(), &end, 10);
        if (end == value.c_str()) return Fail(ERROR_HTTP_INVALID_QUERY_REQUEST);
        ok = CopyDword(static_cast<DWORD>(v), buffer, length);
    } else {
        ok = CopyWide(platform::Utf8ToWide(value), buffer, length);
    }
    if (ok && indexed && index) ++*index;
    if (ok) SetLastError(0);
    return ok;
}

INTERNET_STATUS_CALLBACK InternetSetStatusCallbackW(HINTERNET handle, INTERNET_STATUS_CALLBACK callback) {
    auto h = FindHandle(handle);
    if (!h) {
        SetLastError(ERROR_INVALID_HANDLE);
        return INTERNET_INVALID_STATUS_CALLBACK;
    }
    std::mutex& mu = h->kind == Kind::Session ? std::static_pointer_cast<Session>(h)->mu
                                               : std::static_pointer_cast<Request>(h)->session->mu;
    std::lock_guard<std::mutex> g(mu);
    INTERNET_STATUS_CALLBACK old = h->callback;
    h->callback = callback;
    return old;
}

BOOL InternetGetLastResponseInfoW(DWORD* error, LPWSTR buffer, DWORD* length) {
    if (!error || !length) return Fail(ERROR_INVALID_PARAMETER);
    const LastInfo& info = t_lastInfo;
    if (!buffer || *length < info.text.size() + 1) {
        *length = static_cast<DWORD>(info.text.size() + 1);
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    std::wmemcpy(buffer, info.text.c_str(), info.text.size() + 1);
    *length = static_cast<DWORD>(info.text.size());
    *error = info.error;
    return TRUE;
}

extern "C" BOOL InternetGoOnlineW(LPCWSTR url, HWND /*parent*/, DWORD /*flags*/) {
    LogCall("InternetGoOnlineW url=" + (url ? platform::WideToUtf8(url) : std::string()));
    return TRUE;
}

namespace platform {

void* GetWininetExport(const char* name) {
    if (!name) return nullptr;
    std::string_view n(name);
    if (n == "InternetGoOnlineW") {
        const char* env = std::getenv("LUMEO_WININET_NO_GOONLINE");
        if (g_goOnlineHidden || (env && *env && *env != '0')) return nullptr;
        return reinterpret_cast<void*>(&InternetGoOnlineW);
    }
    static const std::map<std::string_view, void*> exports = {
        {"InternetOpenW", reinterpret_cast<void*>(&InternetOpenW)},
        {"InternetCloseHandle", reinterpret_cast<void*>(&InternetCloseHandle)},
        {"InternetSetOptionW", reinterpret_cast<void*>(&InternetSetOptionW)},
        {"InternetQueryOptionW", reinterpret_cast<void*>(&InternetQueryOptionW)},
        {"InternetOpenUrlW", reinterpret_cast<void*>(&InternetOpenUrlW)},
        {"InternetReadFile", reinterpret_cast<void*>(&InternetReadFile)},
        {"InternetQueryDataAvailable", reinterpret_cast<void*>(&InternetQueryDataAvailable)},
        {"HttpQueryInfoW", reinterpret_cast<void*>(&HttpQueryInfoW)},
        {"InternetSetStatusCallbackW", reinterpret_cast<void*>(&InternetSetStatusCallbackW)},
        {"InternetGetLastResponseInfoW", reinterpret_cast<void*>(&InternetGetLastResponseInfoW)},
    };
    auto it = exports.find(n);
    return it == exports.end() ? nullptr : it->second;
}

void SetWininetCallLog(bool enabled) { Log().enabled = enabled; }

std::vector<std::string> TakeWininetCallLog() {
    CallLog& log = Log();
    std::lock_guard<std::mutex> g(log.mu);
    std::vector<std::string> out;
    out.swap(log.lines);
    return out;
}

void SetWininetExportHidden(const char* name, bool hidden) {
    if (name && std::string_view(name) == "InternetGoOnlineW") g_goOnlineHidden = hidden;
}

}  // namespace platform
