// Reading what File and its items left on disk: "user." attributes, contents, folders.
#pragma once

#include <sys/xattr.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace quarrow2::test {

inline Bytes Utf16Bytes(const std::string& utf8) { return Utf16Bytes(W(utf8)); }

// The value of the attribute "user." + name, or nothing when the file has none.
inline std::optional<Bytes> UserAttribute(const std::filesystem::path& file,
                                          const std::string& name) {
    const std::string attribute = "user." + name;
    const ssize_t size = getxattr(file.c_str(), attribute.c_str(), nullptr, 0);
    if (size < 0) return std::nullopt;
    Bytes value(static_cast<size_t>(size));
    const ssize_t got = getxattr(file.c_str(), attribute.c_str(), value.data(), value.size());
    if (got < 0) return std::nullopt;
    value.resize(static_cast<size_t>(got));
    return value;
}

inline bool SetUserAttribute(const std::filesystem::path& file, const std::string& name,
                             const Bytes& value) {
    const std::string attribute = "user." + name;
    return setxattr(file.c_str(), attribute.c_str(), value.data(), value.size(), 0) == 0;
}

// Every "user." attribute name of the file, without the prefix.
inline std::set<std::string> UserAttributeNames(const std::filesystem::path& file) {
    std::set<std::string> names;
    const ssize_t size = listxattr(file.c_str(), nullptr, 0);
    if (size <= 0) return names;
    std::string list(static_cast<size_t>(size), '\0');
    const ssize_t got = listxattr(file.c_str(), list.data(), list.size());
    for (size_t at = 0; got > 0 && at < static_cast<size_t>(got);) {
        const std::string name(list.c_str() + at);
        if (name.rfind("user.", 0) == 0) names.insert(name.substr(5));
        at += name.size() + 1;
    }
    return names;
}

inline std::string Contents(const std::filesystem::path& file) { return FileContent(file); }
inline void WriteContents(const std::filesystem::path& file, const std::string& content) {
    MakeFile(file, content);
}

// The names in a folder.
inline std::set<std::string> Entries(const std::filesystem::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

}  // namespace quarrow2::test
