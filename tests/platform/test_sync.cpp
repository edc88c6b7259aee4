#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

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

// Named mutexes live in a runtime folder of the test's own.
class NamedMutex : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = std::filesystem::path(testing::TempDir()) / ("lumeo-mutex-" + std::to_string(getpid()));
        std::filesystem::create_directories(dir_);
        setenv("LUMEO_RUNTIME_DIR", dir_.c_str(), 1);
    }
    void TearDown() override {
        unsetenv("LUMEO_RUNTIME_DIR");
        std::filesystem::remove_all(dir_);
    }
    std::filesystem::path dir_;
};

TEST_F(NamedMutex, ASecondCreateInTheProcessFindsItUntilTheLastHandleCloses) {
    HANDLE a = CreateMutexW(nullptr, FALSE, L"澜映");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(GetLastError(), 0u);
    HANDLE b = CreateMutexW(nullptr, FALSE, L"澜映");
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    HANDLE other = CreateMutexW(nullptr, FALSE, L"another name");
    EXPECT_EQ(GetLastError(), 0u);
    CloseHandle(a);
    HANDLE c = CreateMutexW(nullptr, FALSE, L"澜映");
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));  // b still holds it
    CloseHandle(b);
    CloseHandle(c);
    HANDLE d = CreateMutexW(nullptr, FALSE, L"澜映");
    EXPECT_EQ(GetLastError(), 0u);
    CloseHandle(d);
    CloseHandle(other);
}

TEST_F(NamedMutex, AnotherProcessHoldingItGivesAlreadyExistsUntilItDies) {
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        HANDLE h = CreateMutexW(nullptr, FALSE, L"澜映");
        char ok = h && GetLastError() == 0 ? 'y' : 'n';
        if (write(ready[1], &ok, 1) != 1) _exit(1);
        pause();
        _exit(0);
    }
    char ok = 0;
    ASSERT_EQ(read(ready[0], &ok, 1), 1);
    EXPECT_EQ(ok, 'y');
    HANDLE h = CreateMutexW(nullptr, FALSE, L"澜映");
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    CloseHandle(h);
    // The holder crashes: the name is free again.
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    h = CreateMutexW(nullptr, FALSE, L"澜映");
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(GetLastError(), 0u);
    CloseHandle(h);
    close(ready[0]);
    close(ready[1]);
}

DWORD TakeMutex(LPVOID p) { return WaitForSingleObject(static_cast<HANDLE>(p), 5000); }

TEST(Mutex, BelongsToTheThreadThatHoldsIt) {
    HANDLE m = CreateMutexW(nullptr, TRUE, nullptr);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(WaitForSingleObject(m, 0), WAIT_OBJECT_0);  // the owner enters again
    HANDLE t = CreateThread(nullptr, 0, TakeMutex, m, 0, nullptr);
    EXPECT_EQ(WaitForSingleObject(t, 100), WAIT_TIMEOUT);  // held twice by this thread
    EXPECT_TRUE(ReleaseMutex(m));
    EXPECT_EQ(WaitForSingleObject(t, 100), WAIT_TIMEOUT);
    EXPECT_TRUE(ReleaseMutex(m));
    ASSERT_EQ(WaitForSingleObject(t, 5000), WAIT_OBJECT_0);
    DWORD code = 0;
    GetExitCodeThread(t, &code);
    EXPECT_EQ(code, WAIT_OBJECT_0);
    // The thread ended holding it; this thread is not its owner.
    EXPECT_FALSE(ReleaseMutex(m));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_OWNER));
    CloseHandle(t);
    CloseHandle(m);
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
