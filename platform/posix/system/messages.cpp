// FormatMessageW as the library calls it: the English text of a system error code, in a
// block it allocates and the caller frees with LocalFree, inserts left as they are. Other
// sources, caller buffers, inserts and line widths are not offered: a call that needs them
// fails with ERROR_INVALID_PARAMETER instead of producing a wrong text.
// Also debug output.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/platform.h"
#include "platform/posix/system/message_texts.h"

namespace {

constexpr DWORD kOfferedFlags =
    FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM;
constexpr WORD kLangEnglish = 0x09;

DWORD Fail(DWORD error) {
    SetLastError(error);
    return 0;
}

// The texts are English: the neutral language (the user's or the system's default) and
// English in any of its sublanguages are served, other languages are not installed.
bool IsServedLanguage(DWORD languageId) {
    if (languageId > 0xFFFF) return false;
    const WORD primary = languageId & 0x3FF;
    return primary == LANG_NEUTRAL || primary == kLangEnglish;
}

// HRESULTs that wrap a Win32 code carry that code's text, as on Windows.
const OLECHAR* TextFor(DWORD messageId) {
    if ((messageId & 0xFFFF0000u) == 0x80070000u)
        return quarrow2::platform::SystemMessageText(messageId & 0xFFFF);
    return quarrow2::platform::SystemMessageText(messageId);
}

}  // namespace

DWORD FormatMessageW(DWORD dwFlags, LPCVOID, DWORD dwMessageId, DWORD dwLanguageId, LPWSTR lpBuffer,
                     DWORD nSize, void*) {
    if (!lpBuffer) return Fail(ERROR_INVALID_PARAMETER);
    if (dwFlags & FORMAT_MESSAGE_ALLOCATE_BUFFER) *reinterpret_cast<LPWSTR*>(lpBuffer) = nullptr;
    if (dwFlags != kOfferedFlags) return Fail(ERROR_INVALID_PARAMETER);
    if (!IsServedLanguage(dwLanguageId)) return Fail(ERROR_RESOURCE_LANG_NOT_FOUND);
    const OLECHAR* text = TextFor(dwMessageId);
    if (!text) return Fail(ERROR_MR_MID_NOT_FOUND);

    // nSize is the least number of units to allocate; the block is zeroed, so the text
    // ends in a terminator. The texts are short: no count here can overflow.
    const size_t units = std::char_traits<OLECHAR>::length(text);
    auto* block =
        static_cast<LPWSTR>(std::calloc(std::max<size_t>(units + 1, nSize), sizeof(WCHAR)));
    if (!block) return Fail(ERROR_NOT_ENOUGH_MEMORY);
    std::memcpy(block, text, units * sizeof(WCHAR));
    *reinterpret_cast<LPWSTR*>(lpBuffer) = block;
    return static_cast<DWORD>(units);
}

HLOCAL LocalFree(HLOCAL hMem) {
    std::free(hMem);
    return nullptr;
}

// Diagnostic text. Windows hands it to an attached debugger; here it goes to standard error,
// and only when QUARROW2_DEBUG is set, so a library in someone else's process stays quiet.
void OutputDebugStringA(LPCSTR lpOutputString) {
    if (!lpOutputString || !std::getenv("QUARROW2_DEBUG")) return;
    std::fputs(lpOutputString, stderr);
    std::fflush(stderr);
}
