// The library's one codec between the UTF-16 names of the interface and the byte names of
// Linux, for every client that names files or items by bytes (the tool, the Python module):
// well-formed UTF-8 maps to its UTF-16 form; each byte that is not part of well-formed UTF-8
// maps to one unit U+DC80-U+DCFF (byte 0x80-0xFF) and back, as Python's surrogateescape does,
// so that every file and every attribute another program made can be named, and comes back
// byte for byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "quarrow2/client.h"

namespace quarrow2 {
namespace name_codec {

inline bool IsHighSurrogate(std::uint32_t u) { return u >= 0xD800 && u < 0xDC00; }
inline bool IsLowSurrogate(std::uint32_t u) { return u >= 0xDC00 && u < 0xE000; }

inline void AppendUtf8(std::uint32_t cp, std::string& out) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

// Decodes the sequence at s[i], advancing i; false when it is malformed.
inline bool DecodeUtf8(const unsigned char* s, size_t n, size_t& i, std::uint32_t& cp) {
    unsigned char lead = s[i];
    size_t extra;
    std::uint32_t minimum;
    if (lead < 0x80) {
        cp = lead;
        ++i;
        return true;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        cp = lead & 0x1F;
        extra = 1;
        minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        cp = lead & 0x0F;
        extra = 2;
        minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        cp = lead & 0x07;
        extra = 3;
        minimum = 0x10000;
    } else {
        return false;
    }
    if (n - i <= extra) return false;
    for (size_t k = 1; k <= extra; ++k) {
        unsigned char c = s[i + k];
        if ((c & 0xC0) != 0x80) return false;
        cp = (cp << 6) | (c & 0x3F);
    }
    if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp < 0xE000)) return false;
    i += extra + 1;
    return true;
}

// The unit that stands for the stray byte 0x80; 0xFF has U+DCFF.
constexpr std::uint32_t kFirstEscapedByte = 0xDC80;

inline bool IsEscapedByte(std::uint32_t u) {
    return u >= kFirstEscapedByte && u <= kFirstEscapedByte + 0x7F;
}

}  // namespace name_codec

inline WString NameUtf16FromBytes(const char* s, size_t bytes);

// The bytes of the name `s`. False for a lone surrogate outside U+DC80-U+DCFF, and for
// units U+DC80-U+DCFF that would not come back as given (escapes that spell well-formed
// UTF-8 name another name, the one with the characters they spell).
inline bool NameBytesFromUtf16(const OLECHAR* s, size_t units, std::string& out) {
    out.clear();
    out.reserve(units);
    bool escaped = false;
    for (size_t i = 0; i < units; ++i) {
        std::uint32_t u = static_cast<std::uint16_t>(s[i]);
        if (name_codec::IsHighSurrogate(u) && i + 1 < units &&
            name_codec::IsLowSurrogate(static_cast<std::uint16_t>(s[i + 1]))) {
            u = 0x10000 + ((u - 0xD800) << 10) + (static_cast<std::uint16_t>(s[i + 1]) - 0xDC00);
            ++i;
        } else if (name_codec::IsEscapedByte(u)) {
            out.push_back(static_cast<char>(u - name_codec::kFirstEscapedByte + 0x80));
            escaped = true;
            continue;
        } else if (name_codec::IsHighSurrogate(u) || name_codec::IsLowSurrogate(u)) {
            return false;
        }
        name_codec::AppendUtf8(u, out);
    }
    return !escaped || NameUtf16FromBytes(out.data(), out.size()) == WString(s, units);
}

// The UTF-16 form of the byte name `s`; never fails.
inline WString NameUtf16FromBytes(const char* s, size_t bytes) {
    WString out;
    out.reserve(bytes);
    const auto* p = reinterpret_cast<const unsigned char*>(s);
    for (size_t i = 0; i < bytes;) {
        std::uint32_t cp;
        if (!name_codec::DecodeUtf8(p, bytes, i, cp)) {
            out.push_back(static_cast<OLECHAR>(name_codec::kFirstEscapedByte + p[i++] - 0x80));
        } else if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<OLECHAR>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<OLECHAR>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<OLECHAR>(cp));
        }
    }
    return out;
}

}  // namespace quarrow2
