// Reading what File and its items left on disk: "user." attributes, contents, folders.
#pragma once

#include <sys/xattr.h>

#include <optional>
#include <set>

#include "support/test_support.h"

namespace quarrow2::test {

inline Bytes Utf16Bytes(const std::string& utf8) { return Utf16Bytes(W(utf8)); }
inline std::string Raw(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

// The value of the attribute "user." + name, or nothing when the file has none.
inline std::optional<Bytes> UserAttribute(const std::filesystem::path& file,
                                          const std::string& name) {
    Bytes value(65536);
    const ssize_t got =
        getxattr(file.c_str(), ("user." + name).c_str(), value.data(), value.size());
    if (got < 0) return std::nullopt;
    value.resize(static_cast<size_t>(got));
    return value;
}

inline bool SetUserAttribute(const std::filesystem::path& file, const std::string& name,
                             const Bytes& value) {
    return setxattr(file.c_str(), ("user." + name).c_str(), value.data(), value.size(), 0) == 0;
}

// Every attribute name of the file, in the order the file system lists them.
inline std::vector<std::string> RawAttributeNames(const std::filesystem::path& file) {
    std::vector<std::string> names;
    std::string list(65536, '\0');
    ssize_t got = listxattr(file.c_str(), list.data(), list.size());
    for (size_t at = 0; got > 0 && at < static_cast<size_t>(got); at += names.back().size() + 1)
        names.emplace_back(list.c_str() + at);
    return names;
}

// Every "user." attribute name of the file, without the prefix.
inline std::set<std::string> UserAttributeNames(const std::filesystem::path& file) {
    std::set<std::string> names;
    for (const std::string& name : RawAttributeNames(file))
        if (name.rfind("user.", 0) == 0) names.insert(name.substr(5));
    return names;
}

}  // namespace quarrow2::test
