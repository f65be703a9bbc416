// What restore reads: a dump written by `quarrow2 dump`, or the text `getfattr --dump`
// writes (its user. attributes, values in any of its three encodings).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tools/client/item_store.h"
#include "tools/formats/text.h"

namespace quarrow2::tool {

// The name of the dump format and the one version this tool writes and reads.
constexpr const char* kDumpFormat = "quarrow2-dump";
constexpr int kDumpVersion = 1;

// Names are the file system's bytes: UTF-8 in "path" and "type", anything else in
// "path_bytes" and "type_bytes" (base64), so that no name is lost on the way. A value is
// UTF-16 text in "text", UTF-8 text in "utf8" (stored as those bytes) or base64 "bytes".
struct RestoredItem {
    std::string type;
    ItemValue value;
    bool zeroBytes = false;  // a value of 0 bytes, not the empty-value marker
    std::string where;       // where the input names it, for messages
};

struct RestoredFile {
    std::string path;     // as written in the input
    bool folder = false;  // the dump saw a folder there
    std::vector<RestoredItem> items;
    std::string where;
};

// The files and items of the whole input, checked as input before anything is written, so
// input that cannot be used changes nothing: UsageError saying where it went wrong. A UTF-8
// byte-order mark is passed over; UTF-16 is refused as such. getfattr text whose values are
// quoted text gets one warning, since that form drops a value's last zero byte.
std::vector<RestoredFile> ReadDump(std::string input);

}  // namespace quarrow2::tool
