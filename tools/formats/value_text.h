// Which text an item's value is, the one rule every command reads values by. Items of the
// library hold UTF-16 text; the desktop's own items (xdg.*, mime_type, ..., written by
// browsers, curl --xattr, file managers and setfattr) and some streams of Windows programs
// (Zone.Identifier) hold UTF-8 text. The name says which convention an item follows: an
// item whose name's convention is UTF-8 is UTF-8 text when its bytes are; any other item is
// the library's UTF-16 text when its bytes are. Stored bytes are never changed by reading.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tools/formats/text.h"

namespace quarrow2::tool {

// Whether the convention of items of this name (the file system's bytes) is UTF-8 text:
// xdg.*, dublincore.*, baloo.*, mime_type, charset, creator and Zone.Identifier, whatever
// the case of their ASCII letters (Windows names streams without regard to case).
bool NamesUtf8Text(std::string_view type);
// The rule in a sentence, for the help of the commands that read values as text.
std::string TextRuleHelp();

// The bytes as UTF-8 text: well-formed UTF-8 without a zero byte; nothing otherwise.
std::optional<std::string> Utf8TextOfValue(const Bytes& value);

enum class TextForm { kNone, kUtf16, kUtf8 };

struct ValueText {
    TextForm form = TextForm::kNone;
    std::string text;      // UTF-8 for output; empty when the value is no text
    bool guessed = false;  // UTF-8 read from the bytes alone, for display only
};

// The text the rule gives, never a guess: get, dump and every --json. The empty value is
// the library's empty text.
ValueText ExactText(std::string_view type, const Bytes& value);

// What list -l shows: the exact text, or, for an item of a name without the UTF-8
// convention, its UTF-8 reading (marked `guessed`) when its bytes are printable UTF-8
// without a zero byte and are not plausible UTF-16 text (East Asian text, which UTF-16
// writes without zero bytes).
ValueText ShownText(std::string_view type, const Bytes& value);

// The readings find matches against: the exact text, and for an item of a name without the
// UTF-8 convention also its UTF-8 reading; none when the value is no text.
std::vector<std::string> MatchedTexts(std::string_view type, const Bytes& value);

// The exact text as a JSON document gives it: "text" (UTF-16) or "utf8" with the text, or
// "hex" with the bytes' hex digits when the value is no text.
std::pair<const char*, std::string> JsonTextOrHex(std::string_view type, const Bytes& value);

// Why the value is not text of this form (kUtf16: the library's; kUtf8: any well-formed
// UTF-8), as sentences that end with the options that do read it.
std::string WhyNotText(const Bytes& value, TextForm form);

}  // namespace quarrow2::tool
