// Critical sections and interlocked counts.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "portable/runtime_test_objects.h"

namespace quarrow2::test {
namespace {

// Runs `body` on four threads at once, 20000 times each.
template <class Body>
void OnFourThreads(Body body) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 20000; ++i) body();
        });
    for (std::thread& t : threads) t.join();
}

TEST(RuntimeSync, CriticalSectionIsReentrantAndExcludesOtherThreads) {
    CRITICAL_SECTION section;
    InitializeCriticalSection(&section);
    EnterCriticalSection(&section);
    EnterCriticalSection(&section);  // the owner enters again without blocking
    LeaveCriticalSection(&section);
    LeaveCriticalSection(&section);
    // Fully left, other threads can take it (a section still held would hang this test).
    long unguarded = 0;  // changed only inside the section
    OnFourThreads([&] {
        CriticalSectionGuard guard(section);
        CriticalSectionGuard again(section);
        unguarded = unguarded + 1;
    });
    EXPECT_EQ(unguarded, 80000);
    DeleteCriticalSection(&section);
}

TEST(RuntimeSync, InterlockedOperations) {
    volatile LONG count = 0;
    OnFourThreads([&] {
        InterlockedIncrement(&count);
        InterlockedIncrement(&count);
        InterlockedDecrement(&count);
    });
    EXPECT_EQ(count, 80000);
    volatile LONG value = 5;
    EXPECT_EQ(InterlockedIncrement(&value), 6) << "returns the new value";
    EXPECT_EQ(InterlockedDecrement(&value), 5);
    EXPECT_EQ(InterlockedExchange(&value, 9), 5) << "returns the old value";
    EXPECT_EQ(InterlockedCompareExchange(&value, 1, 8), 9) << "no match: unchanged";
    EXPECT_EQ(value, 9);
    EXPECT_EQ(InterlockedCompareExchange(&value, 1, 9), 9);
    EXPECT_EQ(value, 1);
}

}  // namespace
}  // namespace quarrow2::test
