// The headless script: one command a line, run on a thread of its own against the display.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <thread>

#include "platform/codepage.h"
#include "platform/sync.h"
#include "wm.h"

namespace platform::ui {

namespace {

struct Runner {
    std::mutex mu;
    std::thread thread;
    std::atomic<bool> stop{false};
    std::function<void()> quit;
    IdleProbe probe;
};

Runner& R() {
    static auto* r = new Runner;
    return *r;
}

bool ToInt(const std::string& s, int* out) {
    if (s.empty()) return false;
    char* end = nullptr;
    long v = std::strtol(s.c_str(), &end, 10);
    if (*end || v < -100000 || v > 100000) return false;
    *out = static_cast<int>(v);
    return true;
}

bool KnownKey(const std::string& k) {
    static const char* names[] = {"soft1", "soft2", "up", "down", "left", "right", "enter", "back"};
    for (auto* n : names)
        if (k == n) return true;
    return k.size() == 6 && k.rfind("ctrl+", 0) == 0 && k[5] >= '0' && k[5] <= '9';
}

// Sleeps in small steps so a stopped runner ends at once.
void Pause(int ms) {
    uint64_t end = detail::NowMs() + static_cast<uint64_t>(std::max(0, ms));
    while (!R().stop && detail::NowMs() < end) std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

void DefaultQuit() {
    // The exit command's effect without its question: the program's top-level windows close.
    std::vector<HWND> tops;
    {
        std::lock_guard lk(detail::M().mu);
        for (HWND t : detail::M().topLevel) {
            auto w = detail::FindLocked(t);
            if (w && !w->remote && !w->owner && !w->cls->system) tops.push_back(t);
        }
    }
    for (HWND h : tops) PostMessageW(h, WM_CLOSE, 0, 0);
}

// The script may start before the program has made its first window: input sent then
// would reach nobody. Wait (bounded) for a visible top-level window of the program.
void WaitForFirstWindow(DWORD ms) {
    uint64_t end = detail::NowMs() + ms;
    while (!R().stop && detail::NowMs() < end) {
        {
            std::lock_guard lk(detail::M().mu);
            for (HWND t : detail::M().topLevel) {
                auto w = detail::FindLocked(t);
                if (w && !w->remote && !w->cls->system && (w->style & WS_VISIBLE)) return;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

// Waits (bounded) for the program to settle, in short steps so that a runner stopped by the
// program's end does not sit out the whole bound.
void Settle(DWORD ms) {
    uint64_t end = detail::NowMs() + ms;
    while (!R().stop && detail::NowMs() < end)
        if (WaitForIdle(50)) return;
}

// What keeps the program from waiting for the user, or "" when nothing does.
std::string Busy() {
    if (!detail::QueuesQuiet()) return "messages not yet handled";
    if (detail::MessageBoxWaiting()) return "";
    if (detail::WindowTimersSet()) return "a window timer running";
    IdleProbe probe;
    {
        std::lock_guard lk(R().mu);
        probe = R().probe;
    }
    return probe ? probe() : "";
}

// Returns once the program has been found waiting for the user a few times in a row (work
// handed from one thread to another is seen between two looks); a wait that runs out ends
// the run, naming the script line and what was still under way.
void WaitIdle(const ScriptCommand& c) {
    uint64_t end = detail::NowMs() + static_cast<uint64_t>(c.ms);
    std::string why;
    for (int calm = 0; !R().stop;) {
        why = Busy();
        calm = why.empty() ? calm + 1 : 0;
        if (calm >= 3) return;
        if (detail::NowMs() >= end) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (R().stop) return;
    std::fprintf(stderr, "Lumeo: script line %d: wait idle: still busy after %d ms (%s)\n", c.line, c.ms, why.c_str());
    std::fflush(stderr);
    std::_Exit(3);
}

// Waits until the file exists; one that does not come in time ends the run as above.
void WaitFile(const ScriptCommand& c) {
    uint64_t end = detail::NowMs() + static_cast<uint64_t>(c.ms);
    while (!R().stop) {
        if (FILE* f = std::fopen(c.arg.c_str(), "rb")) {
            std::fclose(f);
            return;
        }
        if (detail::NowMs() >= end) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (R().stop) return;
    std::fprintf(stderr, "Lumeo: script line %d: wait file: no %s after %d ms\n", c.line, c.arg.c_str(), c.ms);
    std::fflush(stderr);
    std::_Exit(3);
}

void Run(std::vector<ScriptCommand> commands) {
    constexpr DWORD kSettle = 5000;
    WaitForFirstWindow(kSettle);
    Settle(kSettle);
    for (auto& c : commands) {
        if (R().stop) return;
        switch (c.kind) {
        case ScriptCommand::Tap:
            InjectPenDown(c.x1, c.y1);
            InjectPenUp(c.x1, c.y1);
            break;
        case ScriptCommand::Hold:
            InjectPenDown(c.x1, c.y1);
            Pause(800);  // well past the half second of a tap-and-hold
            InjectPenUp(c.x1, c.y1);
            break;
        case ScriptCommand::Drag: {
            InjectPenDown(c.x1, c.y1);
            int steps = std::max(1, c.ms / 16);
            for (int i = 1; i <= steps && !R().stop; ++i) {
                Pause(c.ms / steps);
                InjectPenMove(c.x1 + (c.x2 - c.x1) * i / steps, c.y1 + (c.y2 - c.y1) * i / steps);
            }
            InjectPenUp(c.x2, c.y2);
            break;
        }
        case ScriptCommand::Key: InjectKey(c.arg); break;
        case ScriptCommand::Text: InjectText(platform::Utf8ToWide(c.arg)); break;
        case ScriptCommand::Rotate: RotateScreen(); break;
        case ScriptCommand::Answer: {
            int a = c.arg == "ok" ? IDOK : c.arg == "yes" ? IDYES : c.arg == "no" ? IDNO : IDCANCEL;
            AnswerNextMessageBox(a);
            break;
        }
        case ScriptCommand::Wait: Pause(c.ms); break;
        case ScriptCommand::WaitIdle: WaitIdle(c); break;
        case ScriptCommand::WaitFile: WaitFile(c); break;
        case ScriptCommand::Screenshot:
            Settle(kSettle);
            if (!SaveScreenshot(c.arg)) std::fprintf(stderr, "Lumeo: cannot write screenshot %s\n", c.arg.c_str());
            else std::fprintf(stderr, "Lumeo: screenshot written to %s\n", c.arg.c_str());
            break;
        case ScriptCommand::Quit: {
            std::function<void()> q;
            {
                std::lock_guard lk(R().mu);
                q = R().quit;
            }
            if (q) q(); else DefaultQuit();
            return;
        }
        }
        Settle(kSettle);
    }
}

}  // namespace

bool ParseScript(const std::string& text, std::vector<ScriptCommand>* commands, std::string* error) {
    commands->clear();
    std::istringstream in(text);
    std::string line;
    int n = 0;
    auto fail = [&](const std::string& why) {
        if (error) *error = "line " + std::to_string(n) + ": " + why;
        commands->clear();
        return false;
    };
    while (std::getline(in, line)) {
        ++n;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line[start] == '#') continue;
        std::string body = line.substr(start);
        std::istringstream words(body);
        std::string cmd;
        words >> cmd;
        std::vector<std::string> args;
        for (std::string a; words >> a;) args.push_back(a);
        ScriptCommand c{};
        c.line = n;
        auto ints = [&](size_t count, std::initializer_list<int*> outs) {
            if (args.size() != count) return false;
            size_t i = 0;
            for (int* o : outs)
                if (!ToInt(args[i++], o)) return false;
            return true;
        };
        if (cmd == "tap" || cmd == "hold") {
            c.kind = cmd == "tap" ? ScriptCommand::Tap : ScriptCommand::Hold;
            if (!ints(2, {&c.x1, &c.y1})) return fail(cmd + " takes X Y");
        } else if (cmd == "drag") {
            c.kind = ScriptCommand::Drag;
            if (!ints(5, {&c.x1, &c.y1, &c.x2, &c.y2, &c.ms}) || c.ms < 0) return fail("drag takes X1 Y1 X2 Y2 MS");
        } else if (cmd == "key") {
            c.kind = ScriptCommand::Key;
            if (args.size() != 1 || !KnownKey(args[0])) return fail("unknown key (soft1 soft2 up down left right enter back ctrl+0..9)");
            c.arg = args[0];
        } else if (cmd == "text") {
            c.kind = ScriptCommand::Text;
            // The rest of the line after one blank, as written.
            size_t at = body.find_first_of(" \t");
            if (at == std::string::npos) return fail("text takes the text to type");
            c.arg = body.substr(at + 1);
        } else if (cmd == "rotate") {
            c.kind = ScriptCommand::Rotate;
            if (!args.empty()) return fail("rotate takes nothing");
        } else if (cmd == "answer") {
            c.kind = ScriptCommand::Answer;
            if (args.size() != 1 || (args[0] != "ok" && args[0] != "yes" && args[0] != "no" && args[0] != "cancel"))
                return fail("answer takes ok, yes, no or cancel");
            c.arg = args[0];
        } else if (cmd == "wait" && !args.empty() && args[0] == "idle") {
            c.kind = ScriptCommand::WaitIdle;
            c.ms = kWaitIdleDefaultMs;
            args.erase(args.begin());
            if (!args.empty() && (!ints(1, {&c.ms}) || c.ms <= 0)) return fail("wait idle takes an optional bound MS");
        } else if (cmd == "wait" && !args.empty() && args[0] == "file") {
            c.kind = ScriptCommand::WaitFile;
            c.ms = kWaitIdleDefaultMs;
            if (args.size() < 2 || args.size() > 3 || (args.size() == 3 && (!ToInt(args[2], &c.ms) || c.ms <= 0)))
                return fail("wait file takes FILE and an optional bound MS");
            c.arg = args[1];
        } else if (cmd == "wait") {
            c.kind = ScriptCommand::Wait;
            if (!ints(1, {&c.ms}) || c.ms < 0) return fail("wait takes MS, idle or file");
        } else if (cmd == "screenshot") {
            c.kind = ScriptCommand::Screenshot;
            if (args.size() != 1) return fail("screenshot takes FILE.png");
            c.arg = args[0];
        } else if (cmd == "quit") {
            c.kind = ScriptCommand::Quit;
            if (!args.empty()) return fail("quit takes nothing");
        } else {
            return fail("unknown command '" + cmd + "'");
        }
        commands->push_back(std::move(c));
    }
    return true;
}

bool RunScript(const std::vector<ScriptCommand>& commands) {
    auto& r = R();
    detail::StopScript();
    r.stop = false;
    r.thread = std::thread(Run, commands);
    return true;
}

void WaitForScript() {
    if (R().thread.joinable()) R().thread.join();
}

void SetQuitHandler(std::function<void()> handler) {
    std::lock_guard lk(R().mu);
    R().quit = std::move(handler);
}

void SetIdleProbe(IdleProbe probe) {
    std::lock_guard lk(R().mu);
    R().probe = std::move(probe);
}

namespace detail {

void StopScript() {
    auto& r = R();
    r.stop = true;
    if (r.thread.joinable()) {
        if (r.thread.get_id() == std::this_thread::get_id()) r.thread.detach();
        else r.thread.join();
    }
}

void ScriptQuit() {
    std::function<void()> q;
    {
        std::lock_guard lk(R().mu);
        q = R().quit;
    }
    if (q) q(); else DefaultQuit();
}

}  // namespace detail

}  // namespace platform::ui
