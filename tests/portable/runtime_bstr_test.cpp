// Automation strings: the Windows layout (32-bit byte length in front, a zero unit after)
// and the allocation rules that clients rely on.
#include <gtest/gtest.h>

#include "portable/runtime_test_objects.h"

namespace quarrow2::test {
namespace {

TEST(RuntimeBstr, LayoutIsLengthPrefixContentAndZeroUnit) {
    const OLECHAR text[] = {'a', 0, 'c'};  // embedded zeros are content
    UniqueBstr s(SysAllocStringLen(text, 3));
    ASSERT_NE(s.get(), nullptr);
    EXPECT_EQ(LengthPrefix(s.get()), 6u);
    EXPECT_EQ(SysStringLen(s.get()), 3u);
    EXPECT_EQ(SysStringByteLen(s.get()), 6u);
    EXPECT_EQ(std::memcmp(s.get(), text, sizeof text), 0);
    EXPECT_EQ(s.get()[3], OLECHAR(0));
    // An empty string is a real string, distinct from null.
    UniqueBstr empty(SysAllocString(OLESTR("")));
    ASSERT_NE(empty.get(), nullptr);
    EXPECT_EQ(LengthPrefix(empty.get()), 0u);
    EXPECT_EQ(empty.get()[0], OLECHAR(0));
    // Odd byte lengths keep their length, and a zero character follows the last byte.
    UniqueBstr odd(SysAllocStringByteLen("abc", 3));
    ASSERT_NE(odd.get(), nullptr);
    EXPECT_EQ(LengthPrefix(odd.get()), 3u);
    EXPECT_EQ(SysStringLen(odd.get()), 1u);
    EXPECT_EQ(std::memcmp(odd.get(), "abc\0\0", 5), 0);
}

TEST(RuntimeBstr, NullStringsSourcelessAndHugeAllocations) {
    EXPECT_EQ(SysAllocString(nullptr), nullptr);
    EXPECT_EQ(SysStringLen(nullptr), 0u);
    EXPECT_EQ(SysStringByteLen(nullptr), 0u);
    SysFreeString(nullptr);
    // Without a source the string still has its length and its terminator.
    UniqueBstr sized(SysAllocStringLen(nullptr, 4));
    ASSERT_NE(sized.get(), nullptr);
    EXPECT_EQ(SysStringLen(sized.get()), 4u);
    EXPECT_EQ(sized.get()[4], OLECHAR(0));
    if (kOwnRuntime) {
        for (int i = 0; i < 4; ++i) EXPECT_EQ(sized.get()[i], OLECHAR(0)) << "never uninitialised";
    }
    UniqueBstr bytes(SysAllocStringByteLen(nullptr, 5));
    ASSERT_NE(bytes.get(), nullptr);
    EXPECT_EQ(SysStringByteLen(bytes.get()), 5u);
    UniqueBstr none(SysAllocStringLen(nullptr, 0));
    ASSERT_NE(none.get(), nullptr);
    EXPECT_EQ(SysStringLen(none.get()), 0u);
    // Lengths beyond what the byte count holds fail.
    EXPECT_EQ(SysAllocStringLen(nullptr, 0xFFFFFFFFu), nullptr);
    EXPECT_EQ(SysAllocStringLen(nullptr, 0x80000000u), nullptr);
    EXPECT_EQ(SysAllocStringByteLen(nullptr, 0xFFFFFFFFu), nullptr);
}

TEST(RuntimeBstr, ReallocationReplacesAndMayReadFromTheOldString) {
    UniqueBstr s(SysAllocString(OLESTR("hello")));
    BSTR raw = s.release();
    ASSERT_TRUE(SysReAllocString(&raw, OLESTR("a longer text than before")));
    EXPECT_EQ(Narrow(raw), "a longer text than before");
    // The source may lie inside the string being replaced.
    ASSERT_TRUE(SysReAllocStringLen(&raw, raw + 2, 6));
    EXPECT_EQ(Narrow(raw), "longer");
    // Without a source the old content is kept as far as the new length reaches.
    ASSERT_TRUE(SysReAllocStringLen(&raw, nullptr, 4));
    s.reset(raw);
    EXPECT_EQ(SysStringLen(s.get()), 4u);
    EXPECT_EQ(Narrow(s.get()), "long");
    EXPECT_EQ(s.get()[4], OLECHAR(0));
    EXPECT_FALSE(SysReAllocString(nullptr, OLESTR("x")));
    if (kOwnRuntime) {
        // Wine's runtime dereferences a missing string pointer here; this one refuses it.
        EXPECT_FALSE(SysReAllocStringLen(nullptr, OLESTR("x"), 1));
    }
}

}  // namespace
}  // namespace quarrow2::test
