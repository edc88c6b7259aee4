// Thread queues: posting, sending across threads, the message loop, timers, the default
// window procedure and registered messages.
#include <chrono>
#include <thread>

#include "platform/lasterror.h"
#include "platform/sync.h"
#include "wm.h"

namespace platform::ui::detail {

uint64_t NowMs() {
    using namespace std::chrono;
    return static_cast<uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

std::shared_ptr<ThreadQueue> QueueOf(DWORD threadId) {
    auto& m = M();
    std::lock_guard lk(m.mu);
    auto& q = m.queues[threadId];
    if (!q) {
        q = std::make_shared<ThreadQueue>();
        q->threadId = threadId;
    }
    return q;
}

namespace {

// Ends the thread's queue when the thread ends: senders waiting on it get 0.
struct QueueHolder {
    std::shared_ptr<ThreadQueue> q;
    ~QueueHolder() {
        if (!q) return;
        std::deque<std::shared_ptr<SentMessage>> pending;
        {
            std::lock_guard lk(q->mu);
            q->alive = false;
            pending.swap(q->sent);
        }
        for (auto& s : pending) {
            std::lock_guard sl(s->sender->mu);
            s->done = true;
            s->sender->Wake();
        }
        std::lock_guard lk(M().mu);
        M().queues.erase(q->threadId);
    }
};

}  // namespace

std::shared_ptr<ThreadQueue> CurrentQueue() {
    thread_local QueueHolder holder;
    if (!holder.q) holder.q = QueueOf(GetCurrentThreadId());
    return holder.q;
}

LRESULT CallProc(const std::shared_ptr<Window>& w, UINT msg, WPARAM wParam, LPARAM lParam) {
    WNDPROC proc = w->proc;
    if (!proc) return DefWindowProcW(w->h, msg, wParam, lParam);
    return proc(w->h, msg, wParam, lParam);
}

void PostTo(const std::shared_ptr<Window>& w, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto q = w->queue;
    MSG m{w->h, msg, wParam, lParam, GetTickCount(), POINT{0, 0}};
    std::lock_guard lk(q->mu);
    q->posted.push_back(m);
    q->Wake();
}

bool DispatchIncomingSent() {
    auto q = CurrentQueue();
    bool any = false;
    for (;;) {
        std::shared_ptr<SentMessage> s;
        bool wasBusy;
        {
            std::lock_guard lk(q->mu);
            if (q->sent.empty()) return any;
            s = q->sent.front();
            q->sent.pop_front();
            wasBusy = q->busy;
            q->busy = true;
        }
        any = true;
        LRESULT r = 0;
        if (auto w = Find(s->hwnd)) {
            ++q->inSend;
            r = CallProc(w, s->msg, s->wParam, s->lParam);
            --q->inSend;
        }
        {
            std::lock_guard lk(q->mu);
            q->busy = wasBusy;
        }
        std::lock_guard sl(s->sender->mu);
        s->result = r;
        s->done = true;
        s->sender->Wake();
    }
}

namespace {

bool InFilter(const MSG& m, HWND hwnd, UINT lo, UINT hi) {
    if (hwnd && m.hwnd != hwnd) return false;
    if (lo == 0 && hi == 0) return true;
    return m.message >= lo && m.message <= hi;
}

// One look at the queue: sent messages run, then posted and input messages, quit,
// timers, paint. True when `out` holds a message.
bool TakeMessage(const std::shared_ptr<ThreadQueue>& q, MSG* out, HWND hwnd, UINT lo, UINT hi, bool remove,
                 uint64_t* nextDue) {
    DispatchIncomingSent();
    std::unique_lock lk(q->mu);
    for (auto it = q->posted.begin(); it != q->posted.end(); ++it) {
        if (!InFilter(*it, hwnd, lo, hi)) continue;
        *out = *it;
        if (remove) {
            q->posted.erase(it);
            NoteKeyMessage(*out);
        }
        return true;
    }
    if (q->quit) {
        *out = MSG{nullptr, WM_QUIT, static_cast<WPARAM>(q->quitCode), 0, GetTickCount(), POINT{0, 0}};
        if (remove) q->quit = false;
        return true;
    }
    uint64_t now = NowMs();
    *nextDue = UINT64_MAX;
    for (auto& t : q->timers) {
        if (hwnd && t.hwnd != hwnd) continue;
        if (t.due <= now) {
            MSG m{t.hwnd, WM_TIMER, t.id, reinterpret_cast<LPARAM>(t.proc), GetTickCount(), POINT{0, 0}};
            if (!InFilter(m, hwnd, lo, hi)) continue;
            if (remove) t.due = now + t.elapse;
            *out = m;
            return true;
        }
        *nextDue = std::min(*nextDue, t.due);
    }
    lk.unlock();
    HWND p = nullptr;
    if ((lo == 0 && hi == 0) || (WM_PAINT >= lo && WM_PAINT <= hi)) {
        if (FindPaintWindow(q->threadId, hwnd, &p)) {
            *out = MSG{p, WM_PAINT, 0, 0, GetTickCount(), POINT{0, 0}};
            return true;
        }
    }
    return false;
}

}  // namespace

bool ModalPump() {
    MSG msg;
    if (!GetMessageW(&msg, nullptr, 0, 0)) {
        PostQuitMessage(static_cast<int>(msg.wParam));
        return false;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
    return true;
}

}  // namespace platform::ui::detail

using namespace platform::ui::detail;

BOOL GetMessageW(LPMSG msg, HWND hwnd, UINT lo, UINT hi) {
    auto q = CurrentQueue();
    for (;;) {
        uint64_t nextDue = UINT64_MAX;
        if (TakeMessage(q, msg, hwnd, lo, hi, true, &nextDue)) {
            q->last = *msg;
            {
                std::lock_guard lk(q->mu);
                q->busy = true;
            }
            return msg->message != WM_QUIT;
        }
        std::unique_lock lk(q->mu);
        if (!q->sent.empty() || !q->posted.empty() || q->quit) continue;
        q->busy = false;
        uint64_t now = NowMs();
        // Paint work is announced by a wake; the bounded wait also covers timers.
        uint64_t wait = nextDue == UINT64_MAX ? 200 : (nextDue > now ? nextDue - now : 0);
        q->cv.wait_for(lk, std::chrono::milliseconds(std::min<uint64_t>(wait, 200)));
    }
}

BOOL PeekMessageW(LPMSG msg, HWND hwnd, UINT lo, UINT hi, UINT removeFlags) {
    auto q = CurrentQueue();
    uint64_t nextDue;
    if (!TakeMessage(q, msg, hwnd, lo, hi, (removeFlags & PM_REMOVE) != 0, &nextDue)) return FALSE;
    if (removeFlags & PM_REMOVE) q->last = *msg;
    return TRUE;
}

BOOL WaitMessage() {
    auto q = CurrentQueue();
    std::unique_lock lk(q->mu);
    if (q->posted.empty() && q->sent.empty() && !q->quit) q->cv.wait_for(lk, std::chrono::milliseconds(50));
    return TRUE;
}

BOOL TranslateMessage(const MSG* msg) {
    // Printable characters arrive as WM_CHAR from the display's text input; the keys that
    // stand for a control character get theirs here.
    if (!msg || msg->message != WM_KEYDOWN) return FALSE;
    wchar_t c = msg->wParam == VK_RETURN ? L'\r' : msg->wParam == VK_BACK ? L'\b' : msg->wParam == VK_ESCAPE ? 27 : 0;
    if (c && !(GetKeyState(VK_CONTROL) & 0x8000)) {
        if (auto w = Find(msg->hwnd)) PostTo(w, WM_CHAR, static_cast<WPARAM>(c), msg->lParam);
    }
    return TRUE;
}

LRESULT DispatchMessageW(const MSG* msg) {
    if (!msg) return 0;
    if (msg->message == WM_TIMER && msg->lParam) {
        reinterpret_cast<TIMERPROC>(msg->lParam)(msg->hwnd, WM_TIMER, msg->wParam, GetTickCount());
        return 0;
    }
    auto w = Find(msg->hwnd);
    if (!w) return 0;
    uint32_t validations = 0;
    if (msg->message == WM_PAINT) {
        std::lock_guard lk(M().mu);
        validations = w->validations;
    }
    LRESULT r = CallProc(w, msg->message, msg->wParam, msg->lParam);
    if (msg->message == WM_PAINT) {
        // A procedure that neither painted nor validated would be asked again and again
        // (the phone spins there): the area it left alone counts as painted. What another
        // thread invalidated while a procedure painted stays, to be painted next.
        std::lock_guard lk(M().mu);
        if (validations == w->validations) {
            w->update = RECT{0, 0, 0, 0};
            w->erase = false;
        }
    }
    return r;
}

namespace {
platform::ui::PostObserver& Observer() {
    static auto* o = new platform::ui::PostObserver;
    return *o;
}
std::mutex& ObserverMu() {
    static auto* m = new std::mutex;
    return *m;
}
}  // namespace

void platform::ui::SetPostObserver(PostObserver observer) {
    std::lock_guard lk(ObserverMu());
    Observer() = std::move(observer);
}

BOOL PostMessageW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    platform::ui::PostObserver obs;
    {
        std::lock_guard lk(ObserverMu());
        obs = Observer();
    }
    if (obs && obs(hwnd, msg, wParam, lParam)) return TRUE;
    if (!hwnd) return PostThreadMessageW(GetCurrentThreadId(), msg, wParam, lParam);
    if (hwnd == HWND_BROADCAST) {
        std::vector<HWND> list;
        {
            std::lock_guard lk(M().mu);
            list = M().topLevel;
        }
        for (HWND h : list)
            if (auto w = Find(h); w && !w->remote) PostTo(w, msg, wParam, lParam);
        return TRUE;
    }
    auto w = Find(hwnd);
    if (!w || w->remote) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    PostTo(w, msg, wParam, lParam);
    return TRUE;
}

BOOL PostThreadMessageW(DWORD threadId, UINT msg, WPARAM wParam, LPARAM lParam) {
    std::shared_ptr<ThreadQueue> q;
    {
        std::lock_guard lk(M().mu);
        auto it = M().queues.find(threadId);
        if (it != M().queues.end()) q = it->second;
    }
    if (!q) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::lock_guard lk(q->mu);
    q->posted.push_back(MSG{nullptr, msg, wParam, lParam, GetTickCount(), POINT{0, 0}});
    q->Wake();
    return TRUE;
}

LRESULT SendMessageW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto w = Find(hwnd);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    if (w->remote) {
        if (msg == WM_COPYDATA) return RemoteCopyData(w, wParam, reinterpret_cast<const COPYDATASTRUCT*>(lParam));
        SetLastError(ERROR_NOT_SUPPORTED);
        return 0;
    }
    if (w->threadId == GetCurrentThreadId()) return CallProc(w, msg, wParam, lParam);
    // Another thread's window: the message runs there while this thread waits, still
    // answering messages sent to it (so two threads sending to each other do not lock).
    auto self = CurrentQueue();
    auto s = std::make_shared<SentMessage>();
    s->hwnd = hwnd;
    s->msg = msg;
    s->wParam = wParam;
    s->lParam = lParam;
    s->sender = self;
    {
        auto target = w->queue;
        std::lock_guard lk(target->mu);
        if (!target->alive) return 0;
        target->sent.push_back(s);
        target->Wake();
    }
    for (;;) {
        DispatchIncomingSent();
        std::unique_lock lk(self->mu);
        if (s->done) return s->result;
        if (!self->sent.empty()) continue;
        self->cv.wait_for(lk, std::chrono::milliseconds(100));
        if (s->done) return s->result;
        lk.unlock();
        if (!IsWindow(hwnd)) {
            // The window went while the message waited in its queue.
            std::lock_guard tl(w->queue->mu);
            std::erase(w->queue->sent, s);
            return 0;
        }
    }
}

BOOL InSendMessage() { return CurrentQueue()->inSend > 0; }

void PostQuitMessage(int exitCode) {
    auto q = CurrentQueue();
    std::lock_guard lk(q->mu);
    q->quit = true;
    q->quitCode = exitCode;
    q->Wake();
}

DWORD GetMessagePos() {
    auto& p = CurrentQueue()->last.pt;
    return static_cast<DWORD>(MAKELONG(p.x, p.y));
}

LONG GetMessageTime() { return static_cast<LONG>(CurrentQueue()->last.time); }

UINT RegisterWindowMessageW(LPCWSTR name) {
    if (!name || !*name) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    static std::mutex mu;
    static auto* table = new std::map<std::wstring, UINT>;
    std::lock_guard lk(mu);
    auto key = Lower(name);
    auto it = table->find(key);
    if (it != table->end()) return it->second;
    if (table->size() >= 0x4000) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    UINT id = 0xC000 + static_cast<UINT>(table->size());
    (*table)[key] = id;
    return id;
}

namespace {

UINT_PTR SetTimerOf(HWND hwnd, UINT_PTR id, UINT elapse, TIMERPROC proc, bool system) {
    std::shared_ptr<ThreadQueue> q;
    if (hwnd) {
        auto w = Find(hwnd);
        if (!w) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return 0;
        }
        q = w->queue;
    } else {
        q = CurrentQueue();
    }
    elapse = std::max<UINT>(elapse, 10);
    std::lock_guard lk(q->mu);
    if (!hwnd) {
        static UINT_PTR next = 0x7000;
        if (!id) id = ++next;
    }
    for (auto& t : q->timers) {
        if (t.hwnd == hwnd && t.id == id) {
            t.elapse = elapse;
            t.proc = proc;
            t.due = NowMs() + elapse;
            t.system = system;
            return hwnd ? 1 : id;
        }
    }
    q->timers.push_back(Timer{hwnd, id, elapse, proc, NowMs() + elapse, system});
    q->Wake();
    return hwnd ? (id ? id : 1) : id;
}

}  // namespace

UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapse, TIMERPROC proc) {
    return SetTimerOf(hwnd, id, elapse, proc, false);
}

UINT_PTR platform::ui::detail::SetSystemTimer(HWND hwnd, UINT_PTR id, UINT elapse) {
    return SetTimerOf(hwnd, id, elapse, nullptr, true);
}

BOOL KillTimer(HWND hwnd, UINT_PTR id) {
    std::shared_ptr<ThreadQueue> q;
    if (hwnd) {
        auto w = Find(hwnd);
        if (!w) return FALSE;
        q = w->queue;
    } else {
        q = CurrentQueue();
    }
    std::lock_guard lk(q->mu);
    auto n = std::erase_if(q->timers, [&](const Timer& t) { return t.hwnd == hwnd && t.id == id; });
    std::erase_if(q->posted, [&](const MSG& m) { return m.hwnd == hwnd && m.message == WM_TIMER && m.wParam == id; });
    return n ? TRUE : FALSE;
}

LRESULT CallWindowProcW(WNDPROC proc, HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (!proc) return 0;
    return proc(hwnd, msg, wParam, lParam);
}

LRESULT DefWindowProcW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto w = Find(hwnd);
    if (!w) return 0;
    switch (msg) {
    case WM_NCCREATE: return TRUE;
    case WM_CLOSE:
        // Closing destroys; a WM_DESTROY the program sends or posts itself is only a message.
        DestroyWindow(hwnd);
        return 0;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        BeginPaint(hwnd, &ps);
        EndPaint(hwnd, &ps);
        return 0;
    }
    case WM_ERASEBKGND: return EraseWithClassBrush(hwnd, reinterpret_cast<HDC>(wParam));
    case WM_SETTEXT: {
        auto* text = reinterpret_cast<LPCWSTR>(lParam);
        {
            std::lock_guard lk(M().mu);
            w->text = text ? text : L"";
        }
        InvalidateInternal(w, nullptr, true);
        return TRUE;
    }
    case WM_GETTEXT: {
        auto* buf = reinterpret_cast<LPWSTR>(lParam);
        return GetWindowTextW(hwnd, buf, static_cast<int>(wParam));
    }
    case WM_GETTEXTLENGTH: return GetWindowTextLengthW(hwnd);
    case WM_SETFONT:
        w->font = reinterpret_cast<HFONT>(wParam);
        if (LOWORD(lParam)) InvalidateInternal(w, nullptr, true);
        return 0;
    case WM_GETFONT: return reinterpret_cast<LRESULT>(w->font);
    case WM_SETCURSOR: return FALSE;
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORMSGBOX: return 0;
    default: return 0;
    }
}
