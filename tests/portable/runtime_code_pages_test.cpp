// Code-page conversion between UTF-16 and the ANSI and UTF-8 code pages.
#include <gtest/gtest.h>

#include "portable/runtime_test_objects.h"

namespace quarrow2::test {
namespace {

std::string ToMultiByte(UINT codePage, const WString& text, BOOL* usedDefault = nullptr) {
    const int size = WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, usedDefault);
    std::string out(static_cast<size_t>(size), '\0');
    if (size > 0) {
        EXPECT_EQ(WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), &out[0],
                                      size, nullptr, usedDefault),
                  size);
    }
    return out;
}

WString ToWide(UINT codePage, const std::string& bytes) {
    const int size =
        MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    WString out(static_cast<size_t>(size), WCHAR(0));
    if (size > 0) {
        EXPECT_EQ(MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), &out[0],
                                      size),
                  size);
    }
    return out;
}

TEST(RuntimeCodePages, Utf8RoundTripIncludingSupplementaryCharacters) {
    const std::string utf8 = "Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC \xF0\x9D\x84\x9E";  // Grüße € 𝄞
    const WString wide = ToWide(CP_UTF8, utf8);
    EXPECT_EQ(wide, W(utf8));
    EXPECT_EQ(wide.size(), 10u) << "the clef is a surrogate pair";
    EXPECT_EQ(ToMultiByte(CP_UTF8, wide), utf8);
    if (kOwnRuntime) {
        // The ANSI code page of this runtime is UTF-8 as well.
        BOOL used = TRUE;
        EXPECT_EQ(ToMultiByte(CP_ACP, wide, &used), utf8);
        EXPECT_FALSE(used);
        EXPECT_EQ(ToWide(CP_ACP, utf8), wide);
    }
}

TEST(RuntimeCodePages, LengthMinusOneIncludesTheTerminator) {
    WCHAR wide[8] = {};
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", -1, nullptr, 0), 4);
    ASSERT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", -1, wide, 8), 4);
    EXPECT_EQ(wide[2], WCHAR('c'));
    EXPECT_EQ(wide[3], WCHAR(0));

    char narrow[8] = {'#', '#', '#', '#', '#', '#', '#', '#'};
    const WCHAR text[] = {'x', 'y', 0};
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr), 3);
    ASSERT_EQ(WideCharToMultiByte(CP_UTF8, 0, text, -1, narrow, 8, nullptr, nullptr), 3);
    EXPECT_EQ(std::string(narrow), "xy");

    // An explicit length converts exactly that many units, without a terminator.
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, text, 2, nullptr, 0, nullptr, nullptr), 2);
}

TEST(RuntimeCodePages, SmallBuffersAndBadArgumentsFail) {
    WCHAR wide[2];
    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", -1, wide, 2), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    char narrow[2];
    const WCHAR text[] = {'a', 0x20AC, 0};
    SetLastError(0);
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, text, -1, narrow, 2, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));

    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", 0, wide, 2), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, nullptr, 3, wide, 2), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    SetLastError(0);
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, text, 0, narrow, 2, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(RuntimeCodePages, LoneSurrogates) {
    const WString lone = {WCHAR('a'), WCHAR(0xD800), WCHAR('b')};
    const WString lowFirst = {WCHAR(0xDC00), WCHAR(0xD800)};

    // The ANSI code page cannot carry one: its default character stands in, and says so.
    BOOL used = FALSE;
    EXPECT_EQ(ToMultiByte(CP_ACP, lone, &used), "a?b");
    EXPECT_TRUE(used);
    used = FALSE;
    EXPECT_EQ(ToMultiByte(CP_ACP, lowFirst, &used), "??");
    EXPECT_TRUE(used);

    // UTF-8 replaces it with U+FFFD.
    EXPECT_EQ(ToMultiByte(CP_UTF8, lone), "a\xEF\xBF\xBD" "b");
    EXPECT_EQ(ToMultiByte(CP_UTF8, lowFirst), "\xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST(RuntimeCodePages, InvalidUtf8BecomesReplacementCharacters) {
    const WCHAR replacement = WCHAR(0xFFFD);
    EXPECT_EQ(ToWide(CP_UTF8, "\xFF"), WString(1, replacement));
    EXPECT_EQ(ToWide(CP_UTF8, "x\xC3"), (WString{WCHAR('x'), replacement})) << "truncated at the end";
    EXPECT_EQ(ToWide(CP_UTF8, "\xE2\x82" "A"), (WString{replacement, WCHAR('A')}))
        << "a broken sequence does not swallow the character after it";
    EXPECT_EQ(ToWide(CP_UTF8, "\xC0\x80"), (WString{replacement, replacement})) << "no overlong forms";
    if (kOwnRuntime) {
        // One replacement per maximal ill-formed subsequence, as Unicode recommends.
        EXPECT_EQ(ToWide(CP_UTF8, "\xED\xA0\x80"), WString(3, replacement)) << "no encoded surrogates";
        EXPECT_EQ(ToWide(CP_UTF8, "\xF4\x90\x80\x80"), WString(4, replacement)) << "nothing past U+10FFFF";
    }
}

}  // namespace
}  // namespace quarrow2::test
