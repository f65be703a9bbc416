// Critical sections and interlocked counts.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "portable/runtime_test_objects.h"

namespace quarrow2::test {
namespace {

// Initialises a critical section for a scope.
class Section {
public:
    Section() { InitializeCriticalSection(&cs_); }
    Section(const Section&) = delete;
    Section& operator=(const Section&) = delete;
    ~Section() { DeleteCriticalSection(&cs_); }
    CRITICAL_SECTION& get() { return cs_; }

private:
    CRITICAL_SECTION cs_;
};

TEST(RuntimeSync, CriticalSectionIsReentrantAndReleasedByTheLastLeave) {
    Section section;
    EnterCriticalSection(&section.get());
    EnterCriticalSection(&section.get());  // the owner enters again without blocking
    { CriticalSectionGuard nested(section.get()); }
    LeaveCriticalSection(&section.get());
    LeaveCriticalSection(&section.get());

    // Fully left, another thread can take it (a section still held would hang this test).
    bool entered = false;
    std::thread other([&] {
        CriticalSectionGuard guard(section.get());
        entered = true;
    });
    other.join();
    EXPECT_TRUE(entered);
}

TEST(RuntimeSync, CriticalSectionExcludesOtherThreads) {
    Section section;
    long unguarded = 0;  // changed only inside the section
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 20000; ++i) {
                CriticalSectionGuard guard(section.get());
                CriticalSectionGuard again(section.get());
                unguarded = unguarded + 1;
            }
        });
    }
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(unguarded, 80000);
}

TEST(RuntimeSync, InterlockedOperations) {
    volatile LONG count = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 20000; ++i) {
                InterlockedIncrement(&count);
                InterlockedIncrement(&count);
                InterlockedDecrement(&count);
            }
        });
    }
    for (std::thread& t : threads) t.join();
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
