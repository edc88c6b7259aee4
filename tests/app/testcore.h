// The player core of the program's tests: "interface.plg" built in variants that lack one
// entry point or another. Its answers are set, and what it was asked is read, through the
// record TestCore() returns.
#pragma once

#include <atomic>

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
};

using TestCoreProc = TestCoreControl* (*)();
