// What the video and audio pages of the settings sheet share: a page lists the core's
// drivers of its kind as radio buttons in a group box, marks the stored choice and hands
// a tapped one to the core and to the registry at once.
#pragma once

#include "player.h"
#include "platform/registry.h"

// How the two pages differ.
struct DriverPageKind {
    bool video;
    int firstId;                 // control id of slot 0's button
    const wchar_t* groupText;
    const wchar_t* memoryLog;    // with the driver count
    const wchar_t* readLog;
    const wchar_t* writeLog;
    int (*getChoice)(HKEY key, int& index);
    int (*setChoice)(HKEY key, int index);
    bool (*send)(int index);
};

// One page's state while it is shown.
struct DriverPage {
    PlayerInfo info{};
    int driverNum = 0;
    HWND* buttons = nullptr;  // driverNum radio buttons
    HWND group = nullptr;
    int baseX = 0, baseY = 0;
};

INT_PTR DriverPageProc(const DriverPageKind& kind, DriverPage& page, HWND hwnd, UINT msg, WPARAM wParam,
                       LPARAM lParam);
