// Storing one value on one item, the way set, cp and restore all store: the item is
// created when missing, and a put that fails leaves nothing new behind.
#pragma once

#include <optional>
#include <string>

#include "metadata_client.h"
#include "text.h"

namespace quarrow2::tool {

// Text is stored as UTF-16; otherwise the bytes as they are. Either, when empty, is stored
// as the empty-value marker.
struct ItemValue {
    std::optional<WString> text;
    Bytes bytes;
};

// Puts `value` on the item `type` of `file`, adding the item (and the file) when missing.
// A failed put of a new item removes it again, and the file when this call created it
// empty, so the failure changes nothing; an existing item keeps its old value. Failure on
// failure.
void store_value(MetadataFile& file, const WString& type, const std::string& shown_type,
                 const ItemValue& value);

}  // namespace quarrow2::tool
