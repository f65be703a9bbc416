// FormatMessageW for system codes. Runtimes word their texts differently (Wine's are shorter),
// so portable checks compare structure; exact English only against this project's runtime.
#include <gtest/gtest.h>

#include "portable/runtime_test_objects.h"

namespace quarrow2::test {
namespace {

constexpr DWORD kSystemText =
    FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM;
constexpr DWORD kNeutralLanguage = 0x0400;

// Every code the platform layer sets, with the text Microsoft publishes for it.
struct PublishedText {
    DWORD code;
    const char* text;
};
const PublishedText kPublished[] = {
    {0, "The operation completed successfully."},
    {1, "Incorrect function."},
    {2, "The system cannot find the file specified."},
    {3, "The system cannot find the path specified."},
    {4, "The system cannot open the file."},
    {5, "Access is denied."},
    {6, "The handle is invalid."},
    {8, "Not enough memory resources are available to process this command."},
    {13, "The data is invalid."},
    {14, "Not enough storage is available to complete this operation."},
    {19, "The media is write protected."},
    {21, "The device is not ready."},
    {25, "The drive cannot locate a specific area or track on the disk."},
    {29, "The system cannot write to the specified device."},
    {30, "The system cannot read from the specified device."},
    {31, "A device attached to the system is not functioning."},
    {32, "The process cannot access the file because it is being used by another process."},
    {33,
     "The process cannot access the file because another process has locked a portion of the "
     "file."},
    {38, "Reached the end of the file."},
    {39, "The disk is full."},
    {50, "The request is not supported."},
    {80, "The file exists."},
    {87, "The parameter is incorrect."},
    {112, "There is not enough space on the disk."},
    {120, "This function is not supported on this system."},
    {122, "The data area passed to a system call is too small."},
    {123, "The filename, directory name, or volume label syntax is incorrect."},
    {126, "The specified module could not be found."},
    {127, "The specified procedure could not be found."},
    {131, "An attempt was made to move the file pointer before the beginning of the file."},
    {145, "The directory is not empty."},
    {158, "The segment is already unlocked."},
    {161, "The specified path is invalid."},
    {183, "Cannot create a file when that file already exists."},
    {206, "The filename or extension is too long."},
    {223, "The file size exceeds the limit allowed and cannot be saved."},
    {234, "More data is available."},
    {255, "The extended attributes are inconsistent."},
    {259, "No more data is available."},
    {267, "The directory name is invalid."},
    {275, "The extended attributes did not fit in the buffer."},
    {282, "The mounted file system does not support extended attributes."},
    {317,
     "The system cannot find message text for message number 0x%1 in the message file for %2."},
    {998, "Invalid access to memory location."},
    {1004, "Invalid flags."},
    {1011, "The configuration registry key could not be opened."},
    {1012, "The configuration registry key could not be read."},
    {1013, "The configuration registry key could not be written."},
    {1117, "The request could not be performed because of an I/O device error."},
    {1815, "The specified resource language ID cannot be found in the image file."},
    {1920, "The file cannot be accessed by the system."},
    {1921, "The name of the file cannot be resolved by the system."},
    {4390, "The file or directory is not a reparse point."},
};

// FormatMessageW's count and text, "failed <error>" where it fails; `size` 0 allocates.
std::string Format(DWORD code, DWORD flags = kSystemText, DWORD language = 0, DWORD size = 0) {
    std::basic_string<WCHAR> buffer(size + 1, WCHAR('#'));
    LPWSTR allocated = nullptr;
    const bool allocate = flags & FORMAT_MESSAGE_ALLOCATE_BUFFER;
    SetLastError(0);
    const DWORD n =
        FormatMessageW(flags, nullptr, code, language,
                       allocate ? reinterpret_cast<LPWSTR>(&allocated) : &buffer[0], size, nullptr);
    if (!n) return "failed " + std::to_string(GetLastError());
    const WCHAR* text = allocate ? allocated : buffer.c_str();
    std::string out = std::to_string(n) + " " + Narrow(WString(text));
    EXPECT_TRUE(!allocated || LocalFree(allocated) == nullptr);
    return out;
}

TEST(RuntimeSystemMessages, TextsEndInOneLineEndAndBuffersMustHoldThem) {
    for (DWORD code : {2u, 3u, 5u, 32u, 33u, 87u, 183u}) {
        const std::string text = Narrow(SystemText(code));
        const std::string n = std::to_string(text.size()) + " ";
        ASSERT_GT(text.size(), 2u) << code;
        EXPECT_EQ(text.find('\n'), text.size() - 1) << "one line, ending in CR LF";
        EXPECT_EQ(text[text.size() - 2], '\r');
        EXPECT_EQ(Format(code, kSystemText, kNeutralLanguage), n + text);
        // Without the line end, at the maximum width a blank stands in for it.
        EXPECT_EQ(Format(code, kSystemText | FORMAT_MESSAGE_MAX_WIDTH_MASK),
                  std::to_string(text.size() - 1) + " " + text.substr(0, text.size() - 2) + " ");
    }
    EXPECT_NE(SystemText(5), SystemText(32));
    // An HRESULT that carries a system code has that code's text.
    EXPECT_EQ(SystemText(static_cast<DWORD>(HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED))),
              SystemText(5));

    // A caller's buffer must hold the text and its terminator.
    const DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
    const std::string text = Narrow(SystemText(ERROR_SHARING_VIOLATION));
    const DWORD size = static_cast<DWORD>(text.size());
    const std::string tooSmall = "failed " + std::to_string(ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(Format(ERROR_SHARING_VIOLATION, flags, 0, size + 1),
              std::to_string(size) + " " + text);
    EXPECT_EQ(Format(ERROR_SHARING_VIOLATION, flags, 0, size), tooSmall);
    EXPECT_EQ(Format(ERROR_SHARING_VIOLATION, flags, 0, 0), tooSmall);
    SetLastError(0);
    EXPECT_EQ(FormatMessageW(flags, nullptr, ERROR_SHARING_VIOLATION, 0, nullptr, 100, nullptr),
              0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(RuntimeSystemMessages, UnknownCodesAndMissingInsertsFail) {
    EXPECT_EQ(Format(0x12345, kSystemText, kNeutralLanguage),
              "failed " + std::to_string(ERROR_MR_MID_NOT_FOUND));
    // The text for a missing message has inserts, which need arguments unless ignored.
    EXPECT_EQ(Format(ERROR_MR_MID_NOT_FOUND, kSystemText & ~FORMAT_MESSAGE_IGNORE_INSERTS),
              "failed " + std::to_string(ERROR_INVALID_PARAMETER));
    EXPECT_NE(SystemText(ERROR_MR_MID_NOT_FOUND).find('%'), WString::npos);
}

TEST(RuntimeSystemMessages, EveryCodeOfThePlatformLayerHasItsPublishedText) {
    if (!kOwnRuntime) GTEST_SKIP() << "the texts of the Windows runtime under test are its own";
    for (const PublishedText& p : kPublished)
        EXPECT_EQ(Narrow(SystemText(p.code)), std::string(p.text) + "\r\n") << p.code;
    // English sublanguages are served; a language without texts is refused.
    EXPECT_EQ(Format(5, kSystemText, 0x0409), "19 Access is denied.\r\n");
    EXPECT_EQ(Format(5, kSystemText, 0x0407),
              "failed " + std::to_string(ERROR_RESOURCE_LANG_NOT_FOUND));
}

}  // namespace
}  // namespace quarrow2::test
