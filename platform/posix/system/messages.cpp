// FormatMessageW for system error codes: the English texts of the system's message table.
// Message sources other than the system, and insert arguments, are not offered: a call that
// needs them fails with ERROR_INVALID_PARAMETER instead of producing a wrong text.
// Also the local memory those texts are handed out in, and debug output.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/owners.h"
#include "platform/platform.h"
#include "platform/posix/system/message_texts.h"

namespace {

constexpr DWORD kSupportedFlags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
                                  FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_MAX_WIDTH_MASK;
constexpr DWORD kNoLineBreaks = FORMAT_MESSAGE_MAX_WIDTH_MASK;
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
        return quarrow2::posix::SystemMessageText(messageId & 0xFFFF);
    return quarrow2::posix::SystemMessageText(messageId);
}

// With the maximum width 0xFF the text's own line breaks become blanks.
quarrow2::WString Render(const OLECHAR* text, DWORD width) {
    quarrow2::WString out(text);
    if (width != kNoLineBreaks) return out;
    quarrow2::WString joined;
    for (size_t i = 0; i < out.size(); ++i) {
        if (out[i] == u'\r' && i + 1 < out.size() && out[i + 1] == u'\n') {
            joined.push_back(u' ');
            ++i;
        } else {
            joined.push_back(out[i]);
        }
    }
    return joined;
}

}  // namespace

DWORD FormatMessageW(DWORD dwFlags, LPCVOID, DWORD dwMessageId, DWORD dwLanguageId, LPWSTR lpBuffer,
                     DWORD nSize, void*) {
    const bool allocate = dwFlags & FORMAT_MESSAGE_ALLOCATE_BUFFER;
    const DWORD width = dwFlags & FORMAT_MESSAGE_MAX_WIDTH_MASK;
    if (!lpBuffer) return Fail(ERROR_INVALID_PARAMETER);
    if (allocate) *reinterpret_cast<LPWSTR*>(lpBuffer) = nullptr;
    if ((dwFlags & ~kSupportedFlags) || !(dwFlags & FORMAT_MESSAGE_FROM_SYSTEM) ||
        (width != 0 && width != kNoLineBreaks))
        return Fail(ERROR_INVALID_PARAMETER);
    if (!IsServedLanguage(dwLanguageId)) return Fail(ERROR_RESOURCE_LANG_NOT_FOUND);

    const OLECHAR* text = TextFor(dwMessageId);
    if (!text) return Fail(ERROR_MR_MID_NOT_FOUND);
    // Inserts (%1 and the like) would need arguments, which this layer does not take.
    if (!(dwFlags & FORMAT_MESSAGE_IGNORE_INSERTS) &&
        std::char_traits<OLECHAR>::find(text, std::char_traits<OLECHAR>::length(text), u'%'))
        return Fail(ERROR_INVALID_PARAMETER);

    quarrow2::WString message;
    try {
        message = Render(text, width);
    } catch (const std::bad_alloc&) {
        return Fail(ERROR_NOT_ENOUGH_MEMORY);
    }
    const size_t units = message.size();  // far below any DWORD limit

    if (allocate) {
        // nSize is the least number of units to allocate.
        const size_t capacity = std::max<size_t>(units + 1, nSize);
        if (capacity > SIZE_MAX / sizeof(WCHAR)) return Fail(ERROR_NOT_ENOUGH_MEMORY);
        auto* block = static_cast<LPWSTR>(LocalAlloc(LMEM_FIXED, capacity * sizeof(WCHAR)));
        if (!block) return Fail(ERROR_NOT_ENOUGH_MEMORY);
        std::memcpy(block, message.c_str(), (units + 1) * sizeof(WCHAR));
        *reinterpret_cast<LPWSTR*>(lpBuffer) = block;
        return static_cast<DWORD>(units);
    }
    if (nSize < units + 1) return Fail(ERROR_INSUFFICIENT_BUFFER);
    std::memcpy(lpBuffer, message.c_str(), (units + 1) * sizeof(WCHAR));
    return static_cast<DWORD>(units);
}

// Local memory: the fixed blocks FormatMessageW hands out and callers free with LocalFree.
// Movable blocks (handles that must be locked to reach the memory) are not offered.
HLOCAL LocalAlloc(UINT uFlags, SIZE_T uBytes) {
    if (uFlags & ~static_cast<UINT>(LMEM_FIXED | LMEM_ZEROINIT)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    // Always zeroed: no caller ever sees memory it has not written.
    void* block = std::calloc(1, uBytes ? uBytes : 1);
    if (!block) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return block;
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
