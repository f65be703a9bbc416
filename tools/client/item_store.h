// Storing values on one file's items the way set, cp and restore all store: the item is
// created when missing, and the changes to one file are kept until that file is done, so a
// failure part way through its items can take all of them back.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tools/client/file_system.h"
#include "tools/client/metadata_client.h"
#include "tools/formats/text.h"

namespace quarrow2::tool {

// Text is stored as UTF-16; otherwise the bytes as they are. Either, when empty, is stored
// as the empty-value marker.
struct ItemValue {
    std::optional<WString> text;
    Bytes bytes;
    bool IsEmpty() const { return text ? text->empty() : bytes.empty(); }
};

// The items one run changes on one file, in order. Whether an item existed is learnt from a
// read of it, never from a failed Open (a moment's sharing violation is no proof of
// absence), and an existing item's old value is read before it is overwritten: an undo
// removes only the items this run created and puts the old values back. `file` is bound to
// `target`.
class FileChanges {
public:
    FileChanges(MetadataFile& file, WriteTarget& target);
    FileChanges(const FileChanges&) = delete;
    FileChanges& operator=(const FileChanges&) = delete;

    // Puts `value` on the item `type`, adding the item (and the file) when missing. Failure on
    // failure; what was changed stays recorded for Undo().
    void Store(const WString& type, const std::string& shownType, const ItemValue& value);

    // Takes back every change, newest first, and removes the file when this run made it and
    // it is still empty. Each step that fails is reported; returns whether all went back (if
    // not, a file this run made is kept with what is left on it).
    bool Undo();

private:
    struct Change {
        WString type;
        std::string shownType;
        std::optional<Bytes> oldValue;  // none: this run created the item
    };

    MetadataFile& file_;
    WriteTarget& target_;
    bool fileWasPresent_;
    std::vector<Change> changes_;
};

// Stores each value on `file` (bound to `target`) in order, and keeps the target; on the
// first failure reports it, takes back what was changed on the file, says so, and returns
// false.
bool StoreTogether(MetadataFile& file, WriteTarget& target,
                   const std::vector<std::pair<WString, ItemValue>>& values);

// One note on standard error when items of 0 bytes (made by another program) were stored as
// the empty-value marker in this run; nothing when there were none.
void ReportMarkerNote(size_t emptyValues);

}  // namespace quarrow2::tool
