#include "tools/formats/value_text.h"

#include <algorithm>
#include <array>
#include <cstdint>

#include <utf8.h>

namespace quarrow2::tool {
namespace {

// The names whose values other programs write as UTF-8 text, as they document them: a name
// ending in a dot is a namespace (the names that begin with it), any other a whole name.
constexpr std::array<std::string_view, 7> kUtf8Names = {
    "xdg.",             // freedesktop.org's common attributes: xdg.origin.url, xdg.tags, ...
    "dublincore.",      // freedesktop.org's Dublin Core attributes
    "baloo.",           // KDE's desktop search: baloo.rating
    "mime_type",        // freedesktop.org; curl --xattr
    "charset",          // freedesktop.org
    "creator",          // freedesktop.org; curl --xattr
    "Zone.Identifier",  // Windows' download marks: [ZoneTransfer] text
};

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameIgnoringAsciiCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return AsciiLower(x) == AsciiLower(y);
           });
}

// Whether every character of the well-formed UTF-8 `text` passes `test`.
template <class Test>
bool EveryCharacter(const std::string& text, Test test) {
    for (auto next = text.begin(); next != text.end();)
        if (!test(utf8::unchecked::next(next))) return false;
    return true;
}

// Text as a person writes it: no control character but the tab and the line ends.
bool Printable(std::uint32_t c) {
    bool control = c < 0x20 || (c >= 0x7F && c <= 0x9F);
    return !control || c == '\t' || c == '\n' || c == '\r';
}

// The scripts UTF-16 writes without a zero byte, whose text may also be well-formed UTF-8:
// CJK ideographs, symbols and punctuation, kana, Hangul and the full-width forms.
bool EastAsian(std::uint32_t c) {
    return (c >= 0x3000 && c <= 0x9FFF) || (c >= 0xAC00 && c <= 0xD7AF) ||
           (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFF00 && c <= 0xFFEF) ||
           (c >= 0x20000 && c <= 0x3FFFF);
}

std::string_view Chars(const Bytes& value) {
    return {reinterpret_cast<const char*>(value.data()), value.size()};
}

}  // namespace

bool NamesUtf8Text(std::string_view type) {
    return std::any_of(kUtf8Names.begin(), kUtf8Names.end(), [type](std::string_view name) {
        if (name.back() != '.') return SameIgnoringAsciiCase(type, name);
        return type.size() > name.size() &&
               SameIgnoringAsciiCase(type.substr(0, name.size()), name);
    });
}

std::string TextRuleHelp() {
    std::string names;
    for (size_t i = 0; i < kUtf8Names.size(); ++i) {
        if (i > 0) names += i + 1 == kUtf8Names.size() ? " or " : ", ";
        names += std::string(kUtf8Names[i]) + (kUtf8Names[i].back() == '.' ? "*" : "");
    }
    return "Values are read as text by their name: items named " + names +
           " are UTF-8 text when their bytes are (the form other programs store them in); all "
           "others are the library's UTF-16 text.";
}

std::optional<std::string> Utf8TextOfValue(const Bytes& value) {
    std::string_view text = Chars(value);
    if (text.find('\0') != std::string_view::npos || FindInvalidUtf8(text)) return std::nullopt;
    return std::string(text);
}

ValueText ExactText(std::string_view type, const Bytes& value) {
    if (!value.empty() && NamesUtf8Text(type))
        if (std::optional<std::string> utf8 = Utf8TextOfValue(value))
            return {TextForm::kUtf8, std::move(*utf8)};
    if (std::optional<std::string> utf16 = TextOfValue(value))
        return {TextForm::kUtf16, std::move(*utf16)};
    return {};
}

ValueText ShownText(std::string_view type, const Bytes& value) {
    ValueText exact = ExactText(type, value);
    if (NamesUtf8Text(type) ||
        (exact.form == TextForm::kUtf16 && EveryCharacter(exact.text, EastAsian)))
        return exact;
    std::optional<std::string> utf8 = Utf8TextOfValue(value);
    if (!utf8 || !EveryCharacter(*utf8, Printable)) return exact;
    return {TextForm::kUtf8, std::move(*utf8), true};
}

std::vector<std::string> MatchedTexts(std::string_view type, const Bytes& value) {
    std::vector<std::string> texts;
    ValueText exact = ExactText(type, value);
    if (exact.form != TextForm::kNone) texts.push_back(std::move(exact.text));
    if (!NamesUtf8Text(type))
        if (std::optional<std::string> utf8 = Utf8TextOfValue(value))
            texts.push_back(std::move(*utf8));
    return texts;
}

std::pair<const char*, std::string> JsonTextOrHex(std::string_view type, const Bytes& value) {
    ValueText exact = ExactText(type, value);
    switch (exact.form) {
        case TextForm::kUtf8:
            return {"utf8", std::move(exact.text)};
        case TextForm::kUtf16:
            return {"text", std::move(exact.text)};
        case TextForm::kNone:
            break;
    }
    return {"hex", HexFromBytes(value)};
}

std::string WhyNotText(const Bytes& value, TextForm form) {
    if (form == TextForm::kUtf8) {
        std::string why = "The value is not UTF-8 text: byte " +
                          std::to_string(FindInvalidUtf8(Chars(value)).value_or(0)) +
                          " is not part of well-formed UTF-8.";
        return why + (TextOfValue(value) ? " Read it with --utf16, --bytes or --hex."
                                         : " Read it with --bytes or --hex.");
    }
    std::string why = value.size() % 2 != 0
                          ? "The value is not text: it has an odd number of bytes."
                          : "The value is not text: it holds an unpaired surrogate.";
    return why + (FindInvalidUtf8(Chars(value)) ? " Read it with --bytes or --hex."
                                                : " Read it with --utf8, --bytes or --hex.");
}

}  // namespace quarrow2::tool
