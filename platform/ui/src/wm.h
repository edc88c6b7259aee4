// Internals of the window manager: the window table, thread queues and their lock order.
// Lock order: Manager::mu before any ThreadQueue::mu; no lock is held while a window
// procedure runs.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/surface.h"
#include "platform/ui.h"
#include "platform/winuser.h"

namespace platform::ui::detail {

struct ThreadQueue;

struct WndClass {
    std::wstring name;
    WNDCLASSW wc{};
    bool system = false;
};

// State a built-in control keeps beside its window.
struct ControlState {
    virtual ~ControlState() = default;
};

struct Window {
    HWND h = nullptr;
    std::shared_ptr<WndClass> cls;
    WNDPROC proc = nullptr;
    std::wstring text;
    std::atomic<DWORD> style{0};  // read by other threads (input, painting) without the lock
    DWORD exStyle = 0;
    HWND parent = nullptr;  // children only
    HWND owner = nullptr;   // top-level windows only
    std::vector<HWND> children;  // back to front
    RECT rect{};  // parent's client coordinates for children, screen for top-level
    UINT_PTR id = 0;
    LONG_PTR userData = 0;
    std::vector<LONG_PTR> extra;  // window extra words (dialogs use three)
    HINSTANCE instance = nullptr;
    DWORD threadId = 0;
    std::shared_ptr<ThreadQueue> queue;
    RECT update{};  // client coordinates; empty = valid
    uint32_t validations = 0;  // BeginPaint and ValidateRect calls, under M().mu
    bool erase = false;
    bool destroying = false;
    bool created = false;
    bool remote = false;  // a window of another process (FindWindowW)
    std::string remoteSocket;
    HFONT font = nullptr;
    std::shared_ptr<ControlState> control;
    // Top-level windows keep their pixels here (see paint.cpp).
    std::shared_ptr<Surface> surface;
    std::vector<HDC> dcs;  // window DCs handed out and not yet released
    bool isChild() const { return parent != nullptr; }
};

struct SentMessage {
    HWND hwnd;
    UINT msg;
    WPARAM wParam;
    LPARAM lParam;
    LRESULT result = 0;
    bool done = false;
    std::shared_ptr<ThreadQueue> sender;
};

struct Timer {
    HWND hwnd;
    UINT_PTR id;
    UINT elapse;
    TIMERPROC proc;
    uint64_t due;
    bool system = false;  // the system's own (a caret's blink), no work of the program
};

struct ThreadQueue {
    DWORD threadId = 0;
    std::mutex mu;
    std::condition_variable cv;
    std::deque<MSG> posted;
    std::deque<std::shared_ptr<SentMessage>> sent;
    std::vector<Timer> timers;
    bool quit = false;
    int quitCode = 0;
    bool alive = true;
    int inSend = 0;  // >0 while handling a message sent from another thread
    bool busy = false;  // dispatching (for WaitForIdle)
    MSG last{};
    void Wake() { cv.notify_all(); }
};

struct Manager {
    std::recursive_mutex mu;
    std::map<uintptr_t, std::shared_ptr<Window>> windows;
    std::vector<HWND> topLevel;  // back to front
    std::map<std::wstring, std::shared_ptr<WndClass>> classes;  // lower-case names
    std::map<DWORD, std::shared_ptr<ThreadQueue>> queues;
    uintptr_t nextHandle = 0x10000;
    HWND capture = nullptr;
    HWND focus = nullptr;
    HWND active = nullptr;
    int screenW = 480, screenH = 800;
    int rotation = 0;  // quarter turns since start
    std::condition_variable_any idleCv;
};

Manager& M();
std::shared_ptr<Window> Find(HWND h);  // takes M().mu
std::shared_ptr<Window> FindLocked(HWND h);  // caller holds M().mu
std::shared_ptr<ThreadQueue> QueueOf(DWORD threadId);  // creates it
std::shared_ptr<ThreadQueue> CurrentQueue();
uint64_t NowMs();
std::wstring Lower(const std::wstring& s);

// Delivery
LRESULT CallProc(const std::shared_ptr<Window>& w, UINT msg, WPARAM wParam, LPARAM lParam);
void PostTo(const std::shared_ptr<Window>& w, UINT msg, WPARAM wParam, LPARAM lParam);
// Runs every message sent to this thread from others. Returns true if it ran any.
bool DispatchIncomingSent();
// One round of a modal loop: waits for and dispatches one message. False on WM_QUIT (the
// quit is put back for the outer loop).
bool ModalPump();

// Geometry
RECT ScreenRect(const std::shared_ptr<Window>& w);  // caller holds M().mu
bool IsShown(const std::shared_ptr<Window>& w);     // it and its ancestors visible
HWND TopLevelOf(HWND h);
HWND WindowFromScreenPoint(POINT pt);
bool IsEnabledChain(const std::shared_ptr<Window>& w);

// Painting (paint.cpp)
void InvalidateInternal(const std::shared_ptr<Window>& w, const RECT* rc, bool erase);
void InvalidateScreenArea(const RECT& screenRc);
void OnTopLevelResized(const std::shared_ptr<Window>& w);
void MarkScreenDirty();
std::shared_ptr<Surface> ScreenSurface();
LRESULT EraseWithClassBrush(HWND hwnd, HDC dc);
void UpdateDCGeometry(const std::shared_ptr<Window>& w);  // it and its descendants
bool FindPaintWindow(DWORD threadId, HWND filter, HWND* out);

// Controls and built-in classes
void RegisterSystemClasses();
LRESULT ButtonProc(HWND, UINT, WPARAM, LPARAM);
LRESULT EditProc(HWND, UINT, WPARAM, LPARAM);
LRESULT ProgressProc(HWND, UINT, WPARAM, LPARAM);
LRESULT StaticProc(HWND, UINT, WPARAM, LPARAM);
LRESULT DialogClassProc(HWND, UINT, WPARAM, LPARAM);

// Cross-process registry of frames (instance.cpp)
void AnnounceWindow(const std::shared_ptr<Window>& w);
void WithdrawWindow(HWND h);
HWND FindRemoteWindow(const std::wstring& cls, const std::wstring* title);
bool RemoteForeground(const std::shared_ptr<Window>& w);
LRESULT RemoteCopyData(const std::shared_ptr<Window>& w, WPARAM wParam, const COPYDATASTRUCT* cds);

// Screen state and input
void ScreenChanged();
void NoteKeyMessage(const MSG& m);
void PenState(bool* down, HWND* target);
// No queue has sent, posted, paint or input work pending, and none is dispatching.
bool QueuesQuiet();
// A window has a timer of the program set (an animation is running).
bool WindowTimersSet();
// SetTimer for the system's own controls: a timer that WindowTimersSet does not count.
UINT_PTR SetSystemTimer(HWND hwnd, UINT_PTR id, UINT elapse);
// A message box is on screen and no answer for it is queued: the program waits for the user.
bool MessageBoxWaiting();
void CountForegroundRequest();
void StopScript();
void ScriptQuit();

}  // namespace platform::ui::detail
