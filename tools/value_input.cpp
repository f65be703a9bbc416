#include "tools/value_input.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "tools/failure.h"

namespace quarrow2::tool {
namespace {

// Reads in pieces and stops once past the limit, so an endless source cannot exhaust
// memory before it is refused.
std::string ReadLimited(std::istream& source, const std::string& name) {
    std::string content;
    char buffer[65536];
    while (source.read(buffer, sizeof buffer) || source.gcount() > 0) {
        content.append(buffer, static_cast<size_t>(source.gcount()));
        if (content.size() > kLargestValueBytes)
            throw UsageError("The value from " + name + " is larger than an item can hold (" +
                             std::to_string(kLargestValueBytes) + " bytes).");
    }
    if (source.bad()) throw UsageError("Unable to read " + name + ".");
    return content;
}

}  // namespace

std::string ReadValueFile(const std::string& path) {
    namespace fs = std::filesystem;
    std::error_code error;
    if (fs::is_directory(fs::u8path(path), error))
        throw UsageError("Unable to read " + path + ": it is a folder.");
    std::ifstream stream(fs::u8path(path), std::ios::binary);
    if (!stream) throw UsageError("Unable to read " + path + ": " + std::strerror(errno) + ".");
    return ReadLimited(stream, path);
}

std::string ReadStandardInput() { return ReadLimited(std::cin, "standard input"); }

}  // namespace quarrow2::tool
