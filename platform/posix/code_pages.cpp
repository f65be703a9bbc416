// Code-page conversion. The ANSI code page of this platform is UTF-8, so CP_ACP and CP_UTF8
// encode alike; they differ where Windows makes them differ: a UTF-16 unit that UTF-8
// cannot carry (a lone surrogate) becomes the code page's default character '?' under
// CP_ACP, reported through lpUsedDefaultChar, and U+FFFD under CP_UTF8, which takes no
// default character. Invalid UTF-8 decodes to U+FFFD, one for each maximal ill-formed
// subsequence, as the Unicode standard recommends. Flags that ask for other behaviour
// (MB_ERR_INVALID_CHARS, WC_ERR_INVALID_CHARS and the like) are refused with
// ERROR_INVALID_FLAGS rather than ignored.
#include <climits>
#include <cstdint>
#include <cstring>

#include "platform/platform.h"

namespace {

constexpr char32_t kReplacement = 0xFFFD;
constexpr DWORD kPrecomposed = 0x00000001;  // MB_PRECOMPOSED: what UTF-8 decoding yields anyway

int Fail(DWORD error) {
    SetLastError(error);
    return 0;
}

bool IsHighSurrogate(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLowSurrogate(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

// One code point from UTF-8 at s[i], advancing i past it. An ill-formed sequence yields
// U+FFFD and advances past its maximal well-formed prefix (at least one byte).
char32_t DecodeUtf8(const unsigned char* s, size_t n, size_t& i) {
    const unsigned char lead = s[i++];
    if (lead < 0x80) return lead;
    int trailing;
    char32_t cp;
    unsigned char low = 0x80, high = 0xBF;  // the allowed range of the next byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        trailing = 1;
        cp = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        trailing = 2;
        cp = lead & 0x0F;
        if (lead == 0xE0) low = 0xA0;   // no overlong forms
        if (lead == 0xED) high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        trailing = 3;
        cp = lead & 0x07;
        if (lead == 0xF0) low = 0x90;   // no overlong forms
        if (lead == 0xF4) high = 0x8F;  // nothing past U+10FFFF
    } else {
        return kReplacement;
    }
    for (int k = 0; k < trailing; ++k) {
        if (i >= n || s[i] < low || s[i] > high) return kReplacement;
        cp = (cp << 6) | (s[i++] & 0x3F);
        low = 0x80;
        high = 0xBF;
    }
    return cp;
}

// Counts (out null) or writes UTF-16 units; returns the number of units.
size_t Utf8ToUtf16(const unsigned char* s, size_t n, char16_t* out) {
    size_t units = 0;
    for (size_t i = 0; i < n;) {
        const char32_t cp = DecodeUtf8(s, n, i);
        if (cp >= 0x10000) {
            if (out) {
                out[units] = static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
                out[units + 1] = static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
            }
            units += 2;
        } else {
            if (out) out[units] = static_cast<char16_t>(cp);
            units += 1;
        }
    }
    return units;
}

struct Utf8Encoding {
    // The bytes that stand in for a lone surrogate, and whether one was needed.
    const char* replacement;
    size_t replacementBytes;
    bool usedReplacement = false;
};

size_t PutUtf8(char32_t cp, unsigned char* out) {
    if (cp < 0x80) {
        if (out) out[0] = static_cast<unsigned char>(cp);
        return 1;
    }
    if (cp < 0x800) {
        if (out) {
            out[0] = static_cast<unsigned char>(0xC0 | (cp >> 6));
            out[1] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
        }
        return 2;
    }
    if (cp < 0x10000) {
        if (out) {
            out[0] = static_cast<unsigned char>(0xE0 | (cp >> 12));
            out[1] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
            out[2] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
        }
        return 3;
    }
    if (out) {
        out[0] = static_cast<unsigned char>(0xF0 | (cp >> 18));
        out[1] = static_cast<unsigned char>(0x80 | ((cp >> 12) & 0x3F));
        out[2] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
        out[3] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
    }
    return 4;
}

// Counts (out null) or writes UTF-8 bytes; returns the number of bytes.
uint64_t Utf16ToUtf8(const char16_t* s, size_t n, unsigned char* out, Utf8Encoding& encoding) {
    uint64_t bytes = 0;
    for (size_t i = 0; i < n; ++i) {
        const char16_t u = s[i];
        if (IsHighSurrogate(u) && i + 1 < n && IsLowSurrogate(s[i + 1])) {
            const char32_t cp = 0x10000 + ((char32_t{u} - 0xD800) << 10) + (char32_t{s[i + 1]} - 0xDC00);
            bytes += PutUtf8(cp, out ? out + bytes : nullptr);
            ++i;
        } else if (IsHighSurrogate(u) || IsLowSurrogate(u)) {
            if (out) std::memcpy(out + bytes, encoding.replacement, encoding.replacementBytes);
            bytes += encoding.replacementBytes;
            encoding.usedReplacement = true;
        } else {
            bytes += PutUtf8(u, out ? out + bytes : nullptr);
        }
    }
    return bytes;
}

bool IsSupportedCodePage(UINT codePage) { return codePage == CP_ACP || codePage == CP_UTF8; }

}  // namespace

int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                        LPWSTR lpWideCharStr, int cchWideChar) {
    if (!IsSupportedCodePage(CodePage)) return Fail(ERROR_INVALID_PARAMETER);
    const DWORD allowedFlags = CodePage == CP_ACP ? kPrecomposed : 0;
    if (dwFlags & ~allowedFlags) return Fail(ERROR_INVALID_FLAGS);
    if (!lpMultiByteStr || cbMultiByte == 0 || cbMultiByte < -1 || cchWideChar < 0 ||
        (cchWideChar > 0 && !lpWideCharStr))
        return Fail(ERROR_INVALID_PARAMETER);

    // -1: up to and including the terminating zero, which converts to a zero unit.
    const size_t length = cbMultiByte == -1 ? std::strlen(lpMultiByteStr) + 1 : size_t(cbMultiByte);
    const auto* bytes = reinterpret_cast<const unsigned char*>(lpMultiByteStr);
    const size_t needed = Utf8ToUtf16(bytes, length, nullptr);  // never more units than bytes
    if (needed > INT_MAX) return Fail(ERROR_INSUFFICIENT_BUFFER);
    if (cchWideChar == 0) return static_cast<int>(needed);
    if (needed > size_t(cchWideChar)) return Fail(ERROR_INSUFFICIENT_BUFFER);
    Utf8ToUtf16(bytes, length, lpWideCharStr);
    return static_cast<int>(needed);
}

int WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar,
                        LPSTR lpMultiByteStr, int cbMultiByte, LPCSTR lpDefaultChar,
                        BOOL* lpUsedDefaultChar) {
    if (!IsSupportedCodePage(CodePage)) return Fail(ERROR_INVALID_PARAMETER);
    const DWORD allowedFlags = CodePage == CP_ACP ? WC_NO_BEST_FIT_CHARS : 0;
    if (dwFlags & ~allowedFlags) return Fail(ERROR_INVALID_FLAGS);
    if (CodePage == CP_UTF8 && (lpDefaultChar || lpUsedDefaultChar))
        return Fail(ERROR_INVALID_PARAMETER);
    if (!lpWideCharStr || cchWideChar == 0 || cchWideChar < -1 || cbMultiByte < 0 ||
        (cbMultiByte > 0 && !lpMultiByteStr))
        return Fail(ERROR_INVALID_PARAMETER);

    size_t length;
    if (cchWideChar == -1) {
        length = 0;
        while (lpWideCharStr[length]) ++length;
        ++length;  // the terminating zero converts to a zero byte
    } else {
        length = size_t(cchWideChar);
    }

    static const char kUtf8Replacement[] = "\xEF\xBF\xBD";
    static const char kAnsiDefault[] = "?";
    Utf8Encoding encoding{};
    if (CodePage == CP_UTF8) {
        encoding.replacement = kUtf8Replacement;
        encoding.replacementBytes = 3;
    } else {
        encoding.replacement = lpDefaultChar ? lpDefaultChar : kAnsiDefault;
        encoding.replacementBytes = 1;
    }

    const uint64_t needed = Utf16ToUtf8(lpWideCharStr, length, nullptr, encoding);
    if (lpUsedDefaultChar) *lpUsedDefaultChar = encoding.usedReplacement ? TRUE : FALSE;
    if (needed > INT_MAX) return Fail(ERROR_INSUFFICIENT_BUFFER);
    if (cbMultiByte == 0) return static_cast<int>(needed);
    if (needed > uint64_t(cbMultiByte)) return Fail(ERROR_INSUFFICIENT_BUFFER);
    Utf16ToUtf8(lpWideCharStr, length, reinterpret_cast<unsigned char*>(lpMultiByteStr), encoding);
    return static_cast<int>(needed);
}
