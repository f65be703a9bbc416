// Conversions between the tool's UTF-8 world (command line, terminal, JSON) and the
// library's UTF-16 automation strings, and the hex form of raw values.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "quarrow2/client.h"

namespace quarrow2::tool {

using Bytes = std::vector<std::uint8_t>;

// Offset of the first byte that is not well-formed UTF-8, or nothing when all of it is.
std::optional<size_t> FindInvalidUtf8(std::string_view utf8);

// UTF-16 from well-formed UTF-8; the caller checks with FindInvalidUtf8 first.
WString Utf16FromUtf8(std::string_view utf8);

// UTF-8 from UTF-16, or nothing when the text holds an unpaired surrogate.
std::optional<std::string> Utf8FromUtf16(const OLECHAR* text, size_t length);

// Names as the file system keeps them (paths, item types): bytes, mostly UTF-8. Lossless
// both ways, by the library's own codec (quarrow2/names.h): each byte that is not part of
// well-formed UTF-8 becomes one unit U+DC80-U+DCFF, and each such unit its byte again.
WString NameUtf16(std::string_view bytes);
// The bytes of a name; nothing when it holds an unpaired surrogate outside that range, or
// escape units that spell well-formed UTF-8 (they would not come back as themselves).
std::optional<std::string> NameBytes(const OLECHAR* text, size_t length);
std::optional<std::string> NameBytes(const WString& text);

// The bytes of a name for messages and listings (EscapedForDisplay before they are
// shown), with U+FFFD for a unit NameBytes cannot take back.
std::string NameForDisplay(const WString& text);

// Why a type name can name no item, as a sentence; nothing when it can. The library takes
// none with ':', '\\', '/' or a zero unit in it, and none that is empty, "." or "..".
std::optional<std::string> TypeNameFault(std::string_view name);

// UTF-8 for showing a name to a person: unpaired surrogates become U+FFFD.
std::string DisplayableUtf8(const OLECHAR* text, size_t length);
std::string DisplayableUtf8(const WString& text);

// A name, value or path made safe for a terminal: every byte of a control character (C0,
// DEL, C1), every byte that is not part of well-formed UTF-8, and the backslash itself are
// written as a backslash and three octal digits (\012 for a line feed, \134 for a
// backslash), as getfattr writes them; all else, printable UTF-8, is kept. Distinct inputs
// stay distinct, so the form can be read back.
std::string EscapedForDisplay(std::string_view bytes);
// The same for a whole message that may hold line ends of its own: they and tabs are kept,
// and backslashes too, since the names in it are escaped already.
std::string TerminalSafe(std::string_view text);

// Lower-case hex digits, two per byte, nothing between them.
std::string HexFromBytes(const Bytes& bytes);

// Bytes from hex digits (either case, an even number of them), or nothing.
std::optional<Bytes> BytesFromHex(std::string_view hex);

// Standard base64 (RFC 4648, with padding).
std::string Base64FromBytes(const Bytes& bytes);
// Bytes from standard base64 (padding optional), or nothing.
std::optional<Bytes> BytesFromBase64(std::string_view base64);

// UTF-8 of a value stored as UTF-16LE text, or nothing when its bytes are not whole text
// (an odd count, or an unpaired surrogate).
std::optional<std::string> TextOfValue(const Bytes& bytes);

}  // namespace quarrow2::tool
