// The core's guarded call for driver routines that may fault.
#include <signal.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include "core/sys.h"

namespace {

int Returns(void* arg) { return *static_cast<int*>(arg); }

int Faults(void*) {
    volatile int* nowhere = nullptr;
    raise(SIGSEGV);
    return nowhere ? *nowhere : 7;  // not reached
}

int BusFault(void*) {
    raise(SIGBUS);
    return 7;
}

// A guarded call inside a guarded call: the inner fault stays inside.
int Nested(void*) { return CallGuarded(Faults, nullptr, -20) + 100; }

TEST(CallGuarded, GivesTheCallsResultOrTheFaultResult) {
    int value = 42;
    struct Case {
        int (*call)(void*);
        void* arg;
        int expected;
    } cases[] = {
        {Returns, &value, 42}, {Faults, nullptr, -10}, {BusFault, nullptr, -10}, {Nested, nullptr, 80},
        {nullptr, nullptr, -10},
    };
    for (const auto& c : cases) EXPECT_EQ(CallGuarded(c.call, c.arg, -10), c.expected);
    // The guard is gone after a fault: a later call still works.
    EXPECT_EQ(CallGuarded(Returns, &value, -10), 42);
}

TEST(CallGuardedDeathTest, AFaultOutsideAGuardStillEndsTheProcess) {
    int value = 1;
    EXPECT_EQ(CallGuarded(Returns, &value, -10), 1);  // the handler is installed
    // Killed by the signal, or ended by the handler that had it before (a sanitizer's).
    auto ended = [](int status) { return WIFSIGNALED(status) || (WIFEXITED(status) && WEXITSTATUS(status) != 0); };
    EXPECT_EXIT(raise(SIGSEGV), ended, "");
}

}  // namespace
