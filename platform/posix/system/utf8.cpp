#include "platform/posix/system/utf8.h"

#include <cstdint>

namespace quarrow2::platform {
namespace {

bool IsHighSurrogate(uint32_t u) { return u >= 0xD800 && u < 0xDC00; }
bool IsLowSurrogate(uint32_t u) { return u >= 0xDC00 && u < 0xE000; }

void AppendUtf8(uint32_t cp, std::string& out) {
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
bool DecodeUtf8(const unsigned char* s, size_t n, size_t& i, uint32_t& cp) {
    unsigned char lead = s[i];
    size_t extra;
    uint32_t minimum;
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
constexpr uint32_t kFirstEscapedByte = 0xDC80;

bool IsEscapedByte(uint32_t u) { return u >= kFirstEscapedByte && u <= kFirstEscapedByte + 0x7F; }

}  // namespace

bool NameBytesFromUtf16(const WCHAR* s, size_t units, std::string& out) {
    out.clear();
    out.reserve(units);
    bool escaped = false;
    for (size_t i = 0; i < units; ++i) {
        uint32_t u = static_cast<uint16_t>(s[i]);
        if (IsHighSurrogate(u) && i + 1 < units &&
            IsLowSurrogate(static_cast<uint16_t>(s[i + 1]))) {
            u = 0x10000 + ((u - 0xD800) << 10) + (static_cast<uint16_t>(s[i + 1]) - 0xDC00);
            ++i;
        } else if (IsEscapedByte(u)) {
            out.push_back(static_cast<char>(u - kFirstEscapedByte + 0x80));
            escaped = true;
            continue;
        } else if (IsHighSurrogate(u) || IsLowSurrogate(u)) {
            return false;
        }
        AppendUtf8(u, out);
    }
    return !escaped || NameUtf16FromBytes(out.data(), out.size()) == WString(s, units);
}

WString NameUtf16FromBytes(const char* s, size_t bytes) {
    WString out;
    out.reserve(bytes);
    const auto* p = reinterpret_cast<const unsigned char*>(s);
    for (size_t i = 0; i < bytes;) {
        uint32_t cp;
        if (!DecodeUtf8(p, bytes, i, cp)) {
            out.push_back(static_cast<WCHAR>(kFirstEscapedByte + p[i++] - 0x80));
        } else if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<WCHAR>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<WCHAR>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<WCHAR>(cp));
        }
    }
    return out;
}

}  // namespace quarrow2::platform
