// Runs the program's entry in this process on a headless screen. The driver takes the init
// thread's place: it runs once the main window exists, talks to the windows as the init
// thread and the user would, and ends the program.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "listview.h"

#include "platform/windows.h"
#include "platform/winuser.h"

namespace apptest {

// WinMain's result. `driver` runs on its own thread.
int RunProgram(int width, int height, std::function<void()> driver);
// Runs `fn` on the user-interface thread and waits for it.
void OnUi(std::function<void()> fn);
// Waits, up to `ms`, until `done` holds: asked on the calling thread, or on the
// user-interface thread (WaitOnUi) where it reads what that thread owns.
bool WaitFor(const std::function<bool()>& done, int ms = 30000);
bool WaitOnUi(const std::function<bool()>& done, int ms = 30000);
// What the init thread does at its end: message 0x592, on which the main window makes the
// home tab current. From then on the "not connected" box of a failed list load is answered.
void FinishInit();
// Waits until the program has handled everything queued and no wait dialog is up.
void Idle();
// Input in client coordinates of a window.
void TapIn(HWND hwnd, int x, int y);
// A picture's pixel (COLORREF) at (x, y).
COLORREF PicturePixel(HBITMAP picture, int x, int y);
// The screen's pixel at a point in a window's client coordinates.
COLORREF ScreenPixelIn(HWND hwnd, int x, int y);
// Which look tab k (0-3) shows on the screen: 1 normal, 2 current, 0 neither.
int TabLook(int k);
// Commands as the menus send them to the frame.
void Command(HWND hwnd, int id);
// Every list of the program, search results first.
std::vector<VideoList*> AllLists();
// Every list empty as at start, none current, the init thread not yet done.
void ResetLists();

// The ten screen forms the program supports, and a test name for each ("480x800").
struct ScreenForm {
    int width, height;
};
inline constexpr ScreenForm kScreenForms[] = {{800, 480}, {480, 800}, {640, 480}, {480, 640}, {320, 240},
                                              {240, 320}, {480, 320}, {320, 480}, {400, 240}, {240, 400}};
struct FormName {
    template <typename Info>
    std::string operator()(const Info& i) const {
        return std::to_string(i.param.width) + "x" + std::to_string(i.param.height);
    }
};

}  // namespace apptest
