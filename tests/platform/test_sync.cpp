#include <gtest/gtest.h>

#include <atomic>

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

}  // namespace
