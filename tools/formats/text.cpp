#include "tools/formats/text.h"

#include <algorithm>
#include <iterator>

#include <utf8.h>

#include "quarrow2/names.h"

namespace quarrow2::tool {
namespace {

constexpr std::uint32_t kReplacementCharacter = 0xFFFD;

bool IsLeadSurrogate(std::uint32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsTrailSurrogate(std::uint32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// Walks UTF-16 code points; an unpaired surrogate is handed over as it is, for the caller
// to refuse or replace.
template <class Visit>
void ForEachCodePoint(const OLECHAR* text, size_t length, Visit visit) {
    for (size_t i = 0; i < length; ++i) {
        std::uint32_t unit = static_cast<std::uint16_t>(text[i]);
        if (IsLeadSurrogate(unit) && i + 1 < length) {
            std::uint32_t trail = static_cast<std::uint16_t>(text[i + 1]);
            if (IsTrailSurrogate(trail)) {
                visit(0x10000 + ((unit - 0xD800) << 10) + (trail - 0xDC00), false);
                ++i;
                continue;
            }
        }
        bool unpaired = IsLeadSurrogate(unit) || IsTrailSurrogate(unit);
        visit(unit, unpaired);
    }
}

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

constexpr char kBase64Digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int Base64DigitValue(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

void AppendOctalEscape(std::uint8_t byte, std::string& out) {
    out += '\\';
    out += static_cast<char>('0' + (byte >> 6));
    out += static_cast<char>('0' + ((byte >> 3) & 7));
    out += static_cast<char>('0' + (byte & 7));
}

bool IsControl(std::uint32_t code_point) {
    return code_point < 0x20 || (code_point >= 0x7F && code_point <= 0x9F);
}

// Each character of the well-formed UTF-8 runs is kept unless `escape` says otherwise; each
// stray byte between them is escaped.
template <class Escape>
std::string escaped(std::string_view bytes, Escape escape) {
    // Printable ASCII that nothing escapes, as most names are, is itself: one look at each
    // byte, where the loop below decodes and appends each character on its own.
    if (std::all_of(bytes.begin(), bytes.end(), [&](char c) {
            const auto byte = static_cast<unsigned char>(c);
            return byte >= 0x20 && byte < 0x7F && !escape(byte);
        }))
        return std::string(bytes);
    std::string out;
    out.reserve(bytes.size());
    auto next = bytes.begin();
    while (next != bytes.end()) {
        auto invalid = utf8::find_invalid(next, bytes.end());
        while (next != invalid) {
            auto start = next;
            if (!escape(utf8::unchecked::next(next))) {
                out.append(start, next);
                continue;
            }
            for (; start != next; ++start)
                AppendOctalEscape(static_cast<std::uint8_t>(*start), out);
        }
        if (invalid == bytes.end()) break;
        AppendOctalEscape(static_cast<std::uint8_t>(*invalid), out);
        next = invalid + 1;
    }
    return out;
}

}  // namespace

std::string EscapedForDisplay(std::string_view bytes) {
    return escaped(bytes, [](std::uint32_t c) { return IsControl(c) || c == '\\'; });
}

std::string TerminalSafe(std::string_view text) {
    return escaped(text, [](std::uint32_t c) { return IsControl(c) && c != '\n' && c != '\t'; });
}

std::optional<size_t> FindInvalidUtf8(std::string_view utf8) {
    auto invalid = utf8::find_invalid(utf8.begin(), utf8.end());
    if (invalid == utf8.end()) return std::nullopt;
    return static_cast<size_t>(invalid - utf8.begin());
}

WString Utf16FromUtf8(std::string_view utf8) {
    WString text;
    text.reserve(utf8.size());
    utf8::utf8to16(utf8.begin(), utf8.end(), std::back_inserter(text));
    return text;
}

std::optional<std::string> Utf8FromUtf16(const OLECHAR* text, size_t length) {
    std::string result;
    result.reserve(length);
    try {
        utf8::utf16to8(text, text + length, std::back_inserter(result));
    } catch (const utf8::invalid_utf16&) {
        return std::nullopt;
    }
    return result;
}

WString NameUtf16(std::string_view bytes) { return NameUtf16FromBytes(bytes.data(), bytes.size()); }

std::optional<std::string> NameBytes(const OLECHAR* text, size_t length) {
    std::string result;
    if (!NameBytesFromUtf16(text, length, result)) return std::nullopt;
    return result;
}

std::optional<std::string> NameBytes(const WString& text) {
    return NameBytes(text.data(), text.size());
}

std::string NameForDisplay(const WString& text) {
    if (std::optional<std::string> bytes = NameBytes(text)) return *bytes;
    return DisplayableUtf8(text);
}

std::optional<std::string> TypeNameFault(std::string_view name) {
    if (name.empty() || name == "." || name == "..")
        return "A type name must not be empty, \".\" or \"..\".";
    if (name.find_first_of(std::string_view(":\\/\0", 4)) != std::string_view::npos)
        return "A type name must not hold ':', '\\', '/' or a zero byte.";
    return std::nullopt;
}

std::string DisplayableUtf8(const OLECHAR* text, size_t length) {
    std::string result;
    result.reserve(length);
    ForEachCodePoint(text, length, [&](std::uint32_t code_point, bool unpaired) {
        utf8::append(unpaired ? kReplacementCharacter : code_point, std::back_inserter(result));
    });
    return result;
}

std::string DisplayableUtf8(const WString& text) {
    return DisplayableUtf8(text.data(), text.size());
}

std::string HexFromBytes(const Bytes& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(bytes.size() * 2);
    for (std::uint8_t byte : bytes) {
        hex.push_back(digits[byte >> 4]);
        hex.push_back(digits[byte & 0x0F]);
    }
    return hex;
}

std::optional<Bytes> BytesFromHex(std::string_view hex) {
    if (hex.size() % 2 != 0) return std::nullopt;
    Bytes bytes;
    bytes.reserve(hex.size() / 2);
    for (size_t i = 0; i < hex.size(); i += 2) {
        int high = HexDigitValue(hex[i]);
        int low = HexDigitValue(hex[i + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        bytes.push_back(static_cast<std::uint8_t>(high * 16 + low));
    }
    return bytes;
}

std::string Base64FromBytes(const Bytes& bytes) {
    std::string text;
    text.reserve((bytes.size() + 2) / 3 * 4);
    for (size_t i = 0; i < bytes.size(); i += 3) {
        size_t count = std::min<size_t>(3, bytes.size() - i);
        std::uint32_t group = std::uint32_t{bytes[i]} << 16;
        if (count > 1) group |= std::uint32_t{bytes[i + 1]} << 8;
        if (count > 2) group |= bytes[i + 2];
        for (size_t digit = 0; digit < 4; ++digit)
            text.push_back(digit <= count ? kBase64Digits[(group >> (18 - 6 * digit)) & 0x3F]
                                          : '=');
    }
    return text;
}

std::optional<Bytes> BytesFromBase64(std::string_view base64) {
    while (!base64.empty() && base64.back() == '=') base64.remove_suffix(1);
    // One digit left over carries fewer than 8 bits: no whole byte, so not base64.
    if (base64.size() % 4 == 1) return std::nullopt;
    Bytes bytes;
    bytes.reserve(base64.size() / 4 * 3 + 2);
    std::uint32_t bits = 0;
    int held = 0;
    for (char c : base64) {
        int value = Base64DigitValue(c);
        if (value < 0) return std::nullopt;
        bits = (bits << 6) | static_cast<std::uint32_t>(value);
        held += 6;
        if (held >= 8) {
            held -= 8;
            bytes.push_back(static_cast<std::uint8_t>(bits >> held));
        }
    }
    return bytes;
}

std::optional<std::string> TextOfValue(const Bytes& bytes) {
    if (bytes.size() % 2 != 0) return std::nullopt;
    WString units(bytes.size() / 2, OLECHAR{});
    for (size_t i = 0; i < units.size(); ++i)
        units[i] = static_cast<OLECHAR>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    return Utf8FromUtf16(units.data(), units.size());
}

}  // namespace quarrow2::tool
