// The fault guard: which faults it catches, reuse, nesting, stack overflow,
// and that the handlers and signal stack found before come back afterwards.
#include "support.h"

#include "system/platform.h"

#include <pthread.h>

#include <csignal>
#include <cstring>

namespace {

void WriteNowhere() {
    volatile int *volatile nowhere = nullptr;
    *nowhere = 1;
}

// The volatile frame keeps the recursion from becoming a loop.
volatile int neverReached = 1 << 30;
int Recurse(int n) {
    if (n == neverReached) return 0;
    volatile char frame[1024];
    frame[0] = static_cast<char>(n);
    return n + Recurse(n + 1) + frame[0];
}

class FaultGuard : public LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        if (!FaultGuardActive()) GTEST_SKIP() << "the sanitizers own the fault signals in this build";
    }
};

TEST_F(FaultGuard, EachFaultEndsTheBodyAndIsNamed) {
    const struct {
        void (*provoke)();
        int signal;
    } cases[] = {{WriteNowhere, SIGSEGV},
                 {[] { raise(SIGBUS); }, SIGBUS},
                 {[] { raise(SIGILL); }, SIGILL},
                 {[] { raise(SIGFPE); }, SIGFPE}};
    for (const auto &c : cases) {
        volatile bool after = false;
        const FaultReport report = RunGuarded([&] {
            c.provoke();
            after = true;
        });
        EXPECT_TRUE(report.faulted) << strsignal(c.signal);
        EXPECT_EQ(report.signal, c.signal);
        EXPECT_FALSE(after) << "the rest of the body must not run";
    }
}

// On a thread of its own: its stack ends in a guard page, so running off it
// faults at once. (A 32-bit program under user-mode emulation has no guard gap
// below the main stack, and would run on into whatever lies there.)
TEST_F(FaultGuard, CatchesAStackOverflowOnTheAlternateStack) {
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, 256 * 1024);
    FaultReport report{};
    pthread_t thread;
    const auto overflow = [](void *out) -> void * {
        *static_cast<FaultReport *>(out) = RunGuarded([] { neverReached = Recurse(0); });
        return nullptr;
    };
    ASSERT_EQ(pthread_create(&thread, &attributes, overflow, &report), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attributes);
    EXPECT_TRUE(report.faulted);
    EXPECT_EQ(report.signal, SIGSEGV);
}

TEST_F(FaultGuard, AFaultReturnsToTheInnermostGuard) {
    volatile int outerSteps = 0;
    FaultReport inner{};
    const FaultReport outer = RunGuarded([&] {
        inner = RunGuarded(WriteNowhere);
        outerSteps = outerSteps + 1;
        raise(SIGFPE);  // the outer guard still holds
        outerSteps = outerSteps + 1;
    });
    EXPECT_EQ(inner.signal, SIGSEGV);
    EXPECT_EQ(outer.signal, SIGFPE);
    EXPECT_EQ(outerSteps, 1);
}

void Ignore(int) {}

TEST_F(FaultGuard, PutsBackTheHandlersAndSignalStackItFound) {
    struct sigaction mine {
    }, before{}, after{};
    mine.sa_handler = Ignore;
    sigemptyset(&mine.sa_mask);
    ASSERT_EQ(sigaction(SIGFPE, &mine, &before), 0);
    stack_t stackBefore{}, stackAfter{};
    sigaltstack(nullptr, &stackBefore);
    RunGuarded([] { raise(SIGFPE); });
    sigaction(SIGFPE, nullptr, &after);
    sigaltstack(nullptr, &stackAfter);
    EXPECT_EQ(after.sa_handler, Ignore);
    EXPECT_EQ(stackAfter.ss_flags, stackBefore.ss_flags);
    EXPECT_EQ(stackAfter.ss_sp, stackBefore.ss_sp);
    sigaction(SIGFPE, &before, nullptr);
}

}  // namespace
