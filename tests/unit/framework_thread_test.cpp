// Threads that delete their own objects, the handle that outlives them, the lock and the event.
#include <gtest/gtest.h>

#include <atomic>
#include <new>
#include <thread>
#include <vector>

#include "framework/critical_section.h"
#include "framework/event.h"
#include "framework/thread.h"
#include "tests/support/test_services.h"

namespace {

using namespace framework;

struct Gate {
    std::atomic<bool> open{false};
    std::atomic<bool> sawStop{false};
};

unsigned WaitAtGate(void* param) {
    auto* gate = static_cast<Gate*>(param);
    while (!gate->open.load()) std::this_thread::yield();
    gate->sawStop = CurrentThreadStopRequested();
    return 7;
}

TEST(FrameworkThread, HandleOutlivesTheSelfDeletingThreadObject) {
    for (ThreadPriority priority :
         {ThreadPriority::kNormal, ThreadPriority::kHighest, ThreadPriority::kTimeCritical}) {
        Gate gate;
        ThreadHandle handle;
        WinThread* thread = BeginThread(WaitAtGate, &gate, priority, &handle);
        ASSERT_NE(thread, nullptr);
        ASSERT_TRUE(handle);
        EXPECT_EQ(handle->Priority(), priority);
        EXPECT_FALSE(handle->Ended());
        EXPECT_FALSE(handle->ExitCode().has_value());
        EXPECT_FALSE(handle->WaitForEnd(20)) << "still held at the gate";
        handle->RequestStop();
        gate.open = true;
        // From here on the thread object may be gone: only the handle is used.
        EXPECT_TRUE(handle->WaitForEnd(10000));
        EXPECT_TRUE(handle->Ended());
        EXPECT_EQ(handle->ExitCode(), 7u);
        EXPECT_TRUE(gate.sawStop.load());
    }
    EXPECT_FALSE(CurrentThreadStopRequested()) << "the main thread was never asked";
}

unsigned FailUnexpectedly(void*) {
    throw std::bad_alloc();
}

TEST(FrameworkThread, UnexpectedFailureEndsOnlyTheThread) {
    ThreadHandle handle;
    ASSERT_NE(BeginThread(FailUnexpectedly, nullptr, ThreadPriority::kTimeCritical, &handle),
              nullptr);
    EXPECT_TRUE(handle->WaitForEnd(10000));
    EXPECT_EQ(handle->ExitCode(), 0u);
}

TEST(FrameworkThread, StartThatFailsReturnsNothing) {
    testsupport::ScopedTestServices services(
        {.platform = {.threadStartFilter = [](ThreadPriority p) {
             return p != ThreadPriority::kTimeCritical;
         }}});
    Gate gate;
    gate.open = true;
    ThreadHandle handle = std::make_shared<ThreadState>(ThreadPriority::kNormal);
    EXPECT_EQ(BeginThread(WaitAtGate, &gate, ThreadPriority::kTimeCritical, &handle), nullptr);
    EXPECT_FALSE(handle);
    ASSERT_NE(BeginThread(WaitAtGate, &gate, ThreadPriority::kHighest, &handle), nullptr);
    EXPECT_TRUE(handle->WaitForEnd(10000));
}

TEST(FrameworkCriticalSection, LifecycleAndMutualExclusion) {
    CriticalSection section;
    EXPECT_FALSE(section.IsInitialized());
    section.Delete();  // never initialised: harmless
    EXPECT_FALSE(section.Enter());
    {
        CriticalSection::Lock lock(section);
        EXPECT_FALSE(lock.Owns());
    }
    EXPECT_TRUE(section.Initialize(0x80000400));
    EXPECT_FALSE(section.Initialize(0x80000400));
    EXPECT_EQ(section.SpinCount(), 0x80000400u);

    int counter = 0;  // unprotected but for the section
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 10000; ++i) {
                CriticalSection::Lock lock(section);
                ASSERT_TRUE(lock.Owns());
                ++counter;
            }
        });
    }
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(counter, 40000);
    section.Delete();
    section.Delete();
    EXPECT_FALSE(section.IsInitialized());
    EXPECT_FALSE(section.Enter());
}

// Waiters started before the set all wake; a wait after it returns at once; a reset holds the
// next wait again. (Under Wine, tests/win32 checks that no set is missed by a waiter just
// starting its wait.)
TEST(FrameworkEvent, SetWakesEveryWaiterAndHoldsUntilReset) {
    Event event;
    EXPECT_FALSE(event.IsSet());
    std::atomic<int> woken{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 3; ++i) {
        waiters.emplace_back([&] {
            event.Wait();
            woken.fetch_add(1);
        });
    }
    EXPECT_EQ(woken.load(), 0);
    event.Set();
    for (std::thread& t : waiters) t.join();
    EXPECT_EQ(woken.load(), 3);
    EXPECT_TRUE(event.IsSet());
    event.Wait();  // already set: returns at once
    event.Reset();
    EXPECT_FALSE(event.IsSet());
    std::thread late([&] {
        event.Wait();
        woken.fetch_add(1);
    });
    std::this_thread::yield();
    EXPECT_EQ(woken.load(), 3) << "a reset event holds the next wait";
    event.Set();
    late.join();
    EXPECT_EQ(woken.load(), 4);
}

}  // namespace
