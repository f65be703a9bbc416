// What restore reads: a dump written by `quarrow2 dump`, or the text `getfattr --dump`
// writes (its user. attributes, values in any of its three encodings).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "item_store.h"
#include "text.h"

namespace quarrow2::tool {

// The name of the dump format and the one version this tool writes and reads.
constexpr const char* kDumpFormat = "quarrow2-dump";
constexpr int kDumpVersion = 1;

struct RestoredItem {
    std::string type;  // UTF-8
    ItemValue value;
};

struct RestoredFile {
    std::string path;  // as written in the input
    std::vector<RestoredItem> items;
};

// The files and items of the whole input, checked before anything is written, so input that
// cannot be used changes nothing: UsageError saying where it went wrong.
std::vector<RestoredFile> read_dump(const std::string& input);

}  // namespace quarrow2::tool
