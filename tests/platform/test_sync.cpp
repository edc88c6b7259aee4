#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/lasterror.h"
#include "platform/sync.h"

namespace {

DWORD Worker(LPVOID p) {
    auto* counter = static_cast<std::atomic<int>*>(p);
    Sleep(20);
    ++*counter;
    SetLastError(77);  // per thread: must not leak into the caller
    return 42;
}

TEST(Threads, WaitForEndAndExitCode) {
    std::atomic<int> counter{0};
    SetLastError(5);
    HANDLE h = CreateThread(nullptr, 0, Worker, &counter, 0, nullptr);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(WaitForSingleObject(h, 5000), WAIT_OBJECT_0);
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(h, &code));
    EXPECT_EQ(code, 42u);
    EXPECT_EQ(counter.load(), 1);
    EXPECT_EQ(GetLastError(), 5u);
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_FALSE(CloseHandle(h));
}

TEST(Events, AutoResetReleasesOneWait) {
    HANDLE e = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    EXPECT_EQ(WaitForSingleObject(e, 10), WAIT_TIMEOUT);
    SetEvent(e);
    EXPECT_EQ(WaitForSingleObject(e, 10), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(e, 10), WAIT_TIMEOUT);
    HANDLE m = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    EXPECT_EQ(WaitForSingleObject(m, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(m, 0), WAIT_OBJECT_0);
    HANDLE both[] = {e, m};
    EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 10), WAIT_OBJECT_0 + 1);
    CloseHandle(e);
    CloseHandle(m);
    EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_FAILED);
}

TEST(CriticalSection, IsRecursive) {
    CRITICAL_SECTION cs;
    InitializeCriticalSection(&cs);
    EnterCriticalSection(&cs);
    EnterCriticalSection(&cs);
    LeaveCriticalSection(&cs);
    LeaveCriticalSection(&cs);
    DeleteCriticalSection(&cs);
}

TEST(Time, TickCountIsMonotonic) {
    DWORD a = GetTickCount();
    Sleep(15);
    EXPECT_GE(GetTickCount() - a, 14u);
    SYSTEMTIME st;
    GetLocalTime(&st);
    EXPECT_GE(st.wYear, 2020);
    EXPECT_LE(st.wMonth, 12);
}

int g_exitPipe = -1;
void AtExit() {
    if (g_exitPipe >= 0 && write(g_exitPipe, "d", 1) != 1) _exit(99);
}
DWORD Hang(LPVOID) {
    HANDLE never = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    WaitForSingleObject(never, INFINITE);
    return 0;
}

// Ending the process while a thread hangs (a download on a slow server) must not wait for
// it, nor run the destructors of the objects it may still use.
TEST(Process, ExitEndsAtOnceAndSkipsDestructorsWhileThreadsRun) {
    struct Case {
        int hangingThreads;
        bool cleanupRuns;
    } cases[] = {{0, true}, {1, false}, {3, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.hangingThreads);
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            close(fds[0]);
            g_exitPipe = fds[1];
            std::atexit(AtExit);
            for (int i = 0; i < c.hangingThreads; ++i) CloseHandle(CreateThread(nullptr, 0, Hang, nullptr, 0, nullptr));
            ExitProcess(7);
        }
        close(fds[1]);
        int status = 0;
        auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        pid_t done = 0;
        while ((done = waitpid(pid, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (done == 0) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
        }
        char mark = 0;
        bool ran = read(fds[0], &mark, 1) == 1;
        close(fds[0]);
        ASSERT_NE(done, 0) << "the process did not end";
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 7);
        EXPECT_EQ(ran, c.cleanupRuns);
    }
}

}  // namespace
