#include "tools/client/storage.h"
#include "tools/client/value_input.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "tools/formats/failure.h"
#include "tools/formats/text.h"

namespace quarrow2::tool {
namespace {

// Reads in pieces and stops once past `limit`: nothing then. Text alone (`text`) also
// stops after the first piece that holds a zero byte, which no text has: what is read then
// is refused as it stands, without reading the rest of /dev/zero or a binary file first.
std::optional<std::string> ReadLimited(std::istream& source, const std::string& name, size_t limit,
                                       bool dropSpace, bool text = false) {
    std::string content;
    char buffer[65536];
    while (source.read(buffer, sizeof buffer) || source.gcount() > 0) {
        const size_t got = static_cast<size_t>(source.gcount());
        if (text && std::memchr(buffer, 0, got)) return content.append(buffer, got);
        if (!dropSpace) {
            content.append(buffer, got);
        } else {
            for (size_t i = 0; i < got; ++i)
                if (!std::isspace(static_cast<unsigned char>(buffer[i])))
                    content.push_back(buffer[i]);
        }
        if (content.size() > limit) return std::nullopt;
    }
    if (source.bad()) throw UsageError("Unable to read " + name + ".");
    return content;
}

std::optional<std::string> ReadFrom(const std::string& source, size_t limit, bool dropSpace,
                                    bool text = false) {
    if (source == "-") return ReadLimited(std::cin, "standard input", limit, dropSpace, text);
    namespace fs = std::filesystem;
    const std::string shown = "\"" + EscapedForDisplay(source) + "\"";
    std::error_code error;
    if (fs::is_directory(fs::u8path(source), error))
        throw UsageError("Unable to read " + shown + ": it is a folder.");
    std::ifstream stream(fs::u8path(source), std::ios::binary);
    if (!stream) throw UsageError("Unable to read " + shown + ": " + std::strerror(errno) + ".");
    return ReadLimited(stream, shown, limit, dropSpace, text);
}

}  // namespace

std::string ReadInput(const std::string& source) {
    std::optional<std::string> content = ReadFrom(source, kLargestInputBytes, false, true);
    if (!content)
        throw UsageError("The input is larger than restore reads (" +
                         std::to_string(kLargestInputBytes) + " bytes).");
    return std::move(*content);
}

std::optional<std::string> ReadBoundedValue(const std::string& source, size_t limit,
                                            bool dropSpace) {
    return ReadFrom(source, limit, dropSpace);
}

std::string ValueTooLarge(bool text) {
    return std::string(text ? "Unable to put text." : "Unable to put data.") +
           " The value is larger than an item can hold (at most " +
           std::to_string(LargestValueBytes()) + " bytes here).";
}

}  // namespace quarrow2::tool
