#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <ctime>
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

// Enters the section twice, then leaves it once each time the test signals. It runs on a
// thread of its own so that a section which deadlocks on its owner fails the test, not hangs it.
struct Owner {
    CRITICAL_SECTION* cs;
    HANDLE step;  // the test: leave once more
    HANDLE done;  // the owner: entered twice, then left once more
};
DWORD EnterTwiceThenLeaveOnSignal(LPVOID p) {
    auto* o = static_cast<Owner*>(p);
    EnterCriticalSection(o->cs);
    EnterCriticalSection(o->cs);
    SetEvent(o->done);
    for (int i = 0; i < 2; ++i) {
        if (WaitForSingleObject(o->step, 10000) != WAIT_OBJECT_0) return 1;
        LeaveCriticalSection(o->cs);
        SetEvent(o->done);
    }
    return 0;
}
DWORD EnterAndLeave(LPVOID p) {
    EnterCriticalSection(static_cast<CRITICAL_SECTION*>(p));
    LeaveCriticalSection(static_cast<CRITICAL_SECTION*>(p));
    return 0;
}

TEST(CriticalSection, IsRecursive) {
    // Static: after a failure the owner may still be running.
    static CRITICAL_SECTION cs;
    InitializeCriticalSection(&cs);
    static Owner o;
    o = {&cs, CreateEventW(nullptr, FALSE, FALSE, nullptr), CreateEventW(nullptr, FALSE, FALSE, nullptr)};
    HANDLE owner = CreateThread(nullptr, 0, EnterTwiceThenLeaveOnSignal, &o, 0, nullptr);
    ASSERT_NE(owner, nullptr);
    ASSERT_EQ(WaitForSingleObject(o.done, 10000), WAIT_OBJECT_0) << "the owner could not enter a second time";

    // Another thread stays out until the owner has left as often as it entered.
    HANDLE other = CreateThread(nullptr, 0, EnterAndLeave, &cs, 0, nullptr);
    ASSERT_NE(other, nullptr);
    for (int held = 2; held > 0; --held) {
        SCOPED_TRACE(held);
        EXPECT_FALSE(TryEnterCriticalSection(&cs));
        EXPECT_EQ(WaitForSingleObject(other, 100), WAIT_TIMEOUT);
        SetEvent(o.step);
        ASSERT_EQ(WaitForSingleObject(o.done, 10000), WAIT_OBJECT_0);
    }
    EXPECT_EQ(WaitForSingleObject(other, 10000), WAIT_OBJECT_0) << "still kept out once free";
    EXPECT_EQ(WaitForSingleObject(owner, 10000), WAIT_OBJECT_0);
    DWORD code = 1;
    EXPECT_TRUE(GetExitCodeThread(owner, &code));
    EXPECT_EQ(code, 0u);
    EXPECT_TRUE(TryEnterCriticalSection(&cs));
    LeaveCriticalSection(&cs);
    for (HANDLE h : {owner, other, o.step, o.done}) CloseHandle(h);
    DeleteCriticalSection(&cs);
}

DWORD MonotonicMilliseconds() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<DWORD>(static_cast<uint64_t>(ts.tv_sec) * 1000 + static_cast<uint64_t>(ts.tv_nsec) / 1000000);
}

// The count runs on the system's monotonic clock, which setting the date does not move: each
// reading falls between two readings of that clock taken around it, over a span with sleeps.
TEST(Time, TickCountIsMonotonic) {
    DWORD a = GetTickCount();
    Sleep(15);
    EXPECT_GE(GetTickCount() - a, 14u);
    DWORD last = GetTickCount();
    for (int i = 0; i < 200; ++i) {
        DWORD before = MonotonicMilliseconds();
        DWORD tick = GetTickCount();
        DWORD after = MonotonicMilliseconds();
        // Unsigned differences, as the count wraps after 49.7 days.
        ASSERT_LE(tick - before, after - before) << "tick " << tick << " outside [" << before << ", " << after << "]";
        ASSERT_LT(tick - last, 0x80000000u) << "went back from " << last << " to " << tick;
        last = tick;
        if (i % 50 == 0) Sleep(1);
    }
}

time_t WallSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);  // not time(), which may lag behind by a tick
    return ts.tv_sec;
}

// Local and system time are the wall clock's, as the C library breaks it down.
TEST(Time, LocalAndSystemTimeAreTheWallClock) {
    struct Case {
        void (*get)(SYSTEMTIME*);
        tm* (*breakDown)(const time_t*, tm*);
    } cases[] = {{GetLocalTime, localtime_r}, {GetSystemTime, gmtime_r}};
    for (const Case& c : cases) {
        time_t from = WallSeconds();
        SYSTEMTIME st;
        c.get(&st);
        time_t to = WallSeconds();
        EXPECT_GE(st.wYear, 2020);
        EXPECT_LE(st.wMonth, 12);
        EXPECT_LE(st.wMilliseconds, 999);
        bool matched = false;
        for (time_t t = from; t <= to && !matched; ++t) {
            tm b{};
            c.breakDown(&t, &b);
            matched = st.wYear == b.tm_year + 1900 && st.wMonth == b.tm_mon + 1 && st.wDay == b.tm_mday &&
                      st.wDayOfWeek == b.tm_wday && st.wHour == b.tm_hour && st.wMinute == b.tm_min &&
                      st.wSecond == b.tm_sec;
        }
        EXPECT_TRUE(matched) << st.wYear << "-" << st.wMonth << "-" << st.wDay << " " << st.wHour << ":"
                             << st.wMinute << ":" << st.wSecond;
    }
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
