// The window system's own face: the display, the headless script, resource tables and the
// hooks by which tests (and code running without a display) answer message boxes and watch
// posted messages.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/winuser.h"

namespace platform::ui {

// ---- Message boxes and posted messages, for tests and display-less runs ----

// Answers every MessageBoxW on any thread while set (nullptr removes it). The hook's
// result is the box's result; returning 0 lets the box be shown as usual.
using MessageBoxHook = std::function<int(HWND owner, const std::wstring& text, const std::wstring& caption, UINT type)>;
void SetMessageBoxHook(MessageBoxHook hook);

// Every message box shown since the last clear, with the answer it gave.
struct MessageBoxRecord {
    HWND owner;
    std::wstring text;
    std::wstring caption;
    UINT type;
    int result;
};
std::vector<MessageBoxRecord> MessageBoxHistory();
void ClearMessageBoxHistory();

// Sees every PostMessageW before it is queued, from the posting thread. Returning true
// swallows the message (PostMessageW then succeeds even for a handle that is no window).
using PostObserver = std::function<bool(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)>;
void SetPostObserver(PostObserver observer);

// For a program run headless (called by its entry with its name): every message box's text
// goes to the standard error as "<program>: <caption>: <text>". Without a script nobody can
// answer, so the box gives its default answer at once; with one it waits for the script's.
void ReportHeadlessMessageBoxes(const std::string& program);

// Queues the answer (IDOK, IDYES, IDNO, IDCANCEL) of the next message box shown on the
// display; a box on screen takes it at once. Without one a box waits, as on the phone.
void AnswerNextMessageBox(int answer);

// Makes the next `count` CreateWindowExW calls for windows of `className` (any thread, the
// name compared without case) fail with ERROR_NOT_ENOUGH_MEMORY, as when the system has no
// room for another window (tests of the callers' failure paths). A count of 0 ends it.
void FailWindowCreation(const std::wstring& className, int count);
// The same with a test's own choice: while set (nullptr removes it, as does
// FailWindowCreation, which sets one of its own), every CreateWindowExW asks it first with
// the name of the window's class (the soft-key bar of SHCreateMenuBar is a window of class
// "#MenuBar"); true makes that creation fail so.
using WindowCreationFault = std::function<bool(const std::wstring& className)>;
void SetWindowCreationFault(WindowCreationFault fault);

// ---- Screen and display ----

struct DisplayOptions {
    int width = 480;  // the orientation follows from the two numbers
    int height = 800;
    bool headless = false;
    std::string script;  // headless input, one command a line
    std::string error;   // non-empty when an option was bad
    std::vector<std::string> rest;  // arguments that are not display options, in order
};

// Reads LUMEO_SCREEN ("WxH") and LUMEO_HEADLESS (non-empty and not "0"), then the
// options --screen WxH, --headless and --script FILE (which win over the environment).
DisplayOptions ParseDisplayOptions(int argc, const char* const* argv);
// The same from a command line given as one text (split at blanks, quotes group).
DisplayOptions ParseDisplayOptions(const std::wstring& commandLine);

// Sets up the screen and starts the display (SDL2 window, or the in-memory screen when
// headless or when no window can be opened). Returns 0, or -1 with a reason on stderr.
// Call before the first window is created. A headless script starts running at once.
int StartDisplay(const DisplayOptions& options);
// Ends the display and the script runner; windows stay.
void StopDisplay();
bool DisplayRunning();
bool DisplayIsHeadless();
// Whether the display was started with a script (its input comes from nobody else).
bool DisplayHasScript();

// Screen size without a display (tests): windows, metrics and the orientation follow it.
void SetScreenSize(int width, int height);
int ScreenWidth();
int ScreenHeight();
// Turns the screen by a quarter: sides swap, top-level windows resize, WM_SETTINGCHANGE
// with SETTINGCHANGE_RESET goes to each top-level window. What the rotate key does.
void RotateScreen();
// DMDO_0 for the screen as started, DMDO_90 after one turn (values of the orientation query).
int DisplayOrientation();
// Heights of the top status bar and of the soft-key bar at the current screen size.
int StatusBarHeight();
int SoftKeyBarHeight();

// Writes the composited screen as a PNG. True on success.
bool SaveScreenshot(const std::string& path);
// The screen's pixel at (x, y) as a COLORREF (0x00BBGGRR); CLR_INVALID outside.
COLORREF ScreenPixel(int x, int y);

// ---- Headless script ----

struct ScriptCommand {
    enum Kind { Tap, Hold, Drag, Key, Text, Rotate, Answer, Wait, WaitIdle, WaitFile, Screenshot, Quit } kind;
    int x1 = 0, y1 = 0, x2 = 0, y2 = 0, ms = 0;  // ms: a wait's time, or the bound of `wait idle` / `wait file`
    std::string arg;  // key name, UTF-8 text, answer word or file
    int line = 0;
};
// Parses a script; on a bad line returns false with "line N: reason" in `error`.
bool ParseScript(const std::string& text, std::vector<ScriptCommand>* commands, std::string* error);
// Runs the commands against the display on a thread of its own. `quit` ends the program
// as its exit command would, without asking: the quit handler (below) runs, which by
// default closes every top-level window.
bool RunScript(const std::vector<ScriptCommand>& commands);
// Blocks until a running script has finished (for tests).
void WaitForScript();
void SetQuitHandler(std::function<void()> handler);
// The bound of `wait idle` and of `wait file` (which waits until a file exists: a harness
// driving the run makes it once something outside the program holds) without one of their own.
constexpr int kWaitIdleDefaultMs = 30000;
// `wait idle` waits until the program waits for the user: its queues are empty, no window
// timer runs, and the probe (what only the program knows: start-up, loads, downloads) has
// nothing under way; or a message box waits for its answer. The probe returns an empty
// text when nothing is under way, else a few words on what is, which name the cause when
// the wait runs out. It is called on the script's thread. A wait that runs out ends the
// process with status 3 and a message on stderr that names the script line.
using IdleProbe = std::function<std::string()>;
void SetIdleProbe(IdleProbe probe);

// Input as the display delivers it (the script and tests use the same path). Screen
// coordinates. Key names as in the script: soft1, soft2, up, down, left, right, enter,
// back, ctrl+0 .. ctrl+9.
void InjectPenDown(int x, int y);
void InjectPenMove(int x, int y);
void InjectPenUp(int x, int y);
bool InjectKey(const std::string& name);
void InjectVirtualKey(UINT vk, bool ctrl);
void InjectText(const std::wstring& text);
// Waits until every queue of the program is idle (no sent, posted, paint or input work
// pending) or `ms` passed. For scripts and tests.
bool WaitForIdle(DWORD ms);

// ---- Resource tables the program registers at start ----
// One store per process; the instance argument of the Load* calls is not looked at.

void AddString(UINT id, const std::wstring& text);
void AddAccelerators(UINT id, const std::vector<ACCEL>& entries);
void AddIcon(UINT id);
// A menu resource: its items; an item with children is a pop-up. `name` is a text name
// (e.g. L"IDR_MENU_LV") or MAKEINTRESOURCEW(id).
struct MenuItemDef {
    UINT id = 0;  // 0 with empty text = separator
    std::wstring text;
    std::vector<MenuItemDef> popup;
};
void AddMenu(LPCWSTR name, const std::vector<MenuItemDef>& items);
// Raw resources (RT_DIALOG templates, RT_RCDATA menu bars) as the device lays them out.
void AddResource(LPCWSTR type, LPCWSTR name, std::vector<BYTE> bytes);
// Builds a dialog template without controls: style, ex-style, position and size in dialog
// units, with DS_SETFONT the font size and face, and the caption.
std::vector<BYTE> BuildDialogTemplate(DWORD style, DWORD exStyle, short x, short y, short cx, short cy,
                                      WORD fontSize = 0, const std::wstring& face = L"",
                                      const std::wstring& title = L"");
// Builds a soft-key bar record: menu id, then per button {command, string id, style,
// popup index}; image and state take the device's usual values (0xFFFE, 4).
struct MenuBarButtonDef {
    WORD command;
    WORD stringId;
    WORD style;  // 0x10 button, 0x18 drop-down
    WORD popupIndex;  // 0xFFFF none
};
std::vector<BYTE> BuildMenuBar(WORD menuId, const std::vector<MenuBarButtonDef>& buttons);

// ---- Single instance across processes ----
// Top-level windows whose class is registered here are announced to other processes of
// this user (FindWindowW, SetForegroundWindow and WM_COPYDATA reach them). The program's
// frame and the updater's window call it for their class before creating the window.
void PublishWindowClass(const std::wstring& className);
// Folder of the registry of running frames ($LUMEO_RUNTIME_DIR, else $XDG_RUNTIME_DIR/lumeo,
// else /tmp/lumeo-<uid>).
std::string RuntimeDirectory();
// Number of SetForegroundWindow requests that reached this process's windows from outside.
int ForegroundRequestsReceived();

}  // namespace platform::ui
