// The player core of the program's tests: "interface.plg" built in variants that lack one
// entry point or another. Its answers are set, and what it was asked is read, through the
// record TestCore() returns.
#pragma once

#include <atomic>
#include <cstdint>

struct TestCoreControl {
    // What Main was given; Main runs until endMain is set.
    std::atomic<int> mainCalls{0};
    std::atomic<int> mainRunning{0};
    std::atomic<int> endMain{0};
    wchar_t appName[32];
    wchar_t version[32];
    int mode;
    wchar_t commandLine[64];
    // Calls of the other entry points.
    std::atomic<int> videoOutput{-1};
    std::atomic<int> audioOutput{-1};
    std::atomic<int> countQueries{0};
    std::atomic<int> requests{0};
    // The variant with a window: Main makes the core's "<app name>_Win" window (`target`) and
    // runs its messages. With `chain` > 0 the window is disabled and owns a line of `chain`
    // windows, each owning the next, of which only the last (`reached`) is enabled; a window
    // owned by none stands beside them. What WM_COPYDATA brought the target is kept.
    std::atomic<int> chain{0};
    std::atomic<int> windowsUp{0};
    void* target = nullptr;
    void* reached = nullptr;
    std::atomic<int> copies{0};
    uintptr_t copyWParam = 0;
    uintptr_t copyDwData = 0;
    unsigned copyBytes = 0;
    unsigned char copied[256];
};

using TestCoreProc = TestCoreControl* (*)();
