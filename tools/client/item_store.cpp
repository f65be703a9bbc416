#include "tools/client/item_store.h"

#include <algorithm>

#include "tools/formats/console.h"
#include "tools/formats/failure.h"

namespace quarrow2::tool {
namespace {

void PutValue(MetadataItem& item, const ItemValue& value) {
    if (value.text)
        item.PutText(*value.text);
    else
        item.PutBytes(value.bytes);
}

}  // namespace

FileChanges::FileChanges(MetadataFile& file, WriteTarget& target)
    : file_(file), target_(target), fileWasPresent_(!target.Made() && !target.Missing()) {}

void FileChanges::Store(const WString& type, const std::string& shownType, const ItemValue& value) {
    std::optional<MetadataItem> item;
    try {
        item.emplace(file_.Open(type, shownType));
    } catch (const Failure&) {
        // A read, which shares the item with everyone, tells a missing item from one that
        // could not be opened. It is there but could not be opened: not a new item. Another
        // process may have made it since the open failed, so it is opened once more, and
        // that answer stands. Where the read fails too, Add below fails for the same cause.
        if (file_.HasItem(type, shownType)) item.emplace(file_.Open(type, shownType));
    }
    if (item) {
        changes_.push_back({type, shownType, item->ValueBytes()});
    } else {
        item.emplace(file_.Add(type, shownType));
        changes_.push_back({type, shownType, std::nullopt});
    }
    PutValue(*item, value);
}

bool FileChanges::Undo() {
    bool complete = true;
    for (auto change = changes_.rbegin(); change != changes_.rend(); ++change) {
        try {
            if (change->oldValue) {
                file_.Open(change->type, change->shownType).PutBytes(*change->oldValue);
            } else {
                file_.Open(change->type, change->shownType).Remove();
            }
        } catch (const Failure& failure) {
            ReportFailure(failure.what());
            complete = false;
        }
    }
    changes_.clear();
    if (complete)
        target_.Discard();
    else
        target_.Keep();
    return complete;
}

bool StoreTogether(MetadataFile& file, WriteTarget& target,
                   const std::vector<std::pair<WString, ItemValue>>& values) {
    FileChanges changes(file, target);
    size_t stored = 0;
    for (const auto& [type, value] : values) {
        std::string shown = NameForDisplay(type);
        try {
            changes.Store(type, shown, value);
            ++stored;
        } catch (const Failure& failure) {
            bool undone = changes.Undo();  // reports each step that fails
            std::string message = failure.what();
            // One line: the cause and what became of the items written before it.
            if (stored > 0 || !undone)
                message += undone ? "; the items already written to this file were put back "
                                    "as they were."
                                  : "; not every item of this file could be put back as it "
                                    "was (see above).";
            ReportFailure(message);
            return false;
        }
    }
    target.Keep();
    return true;
}

void ReportMarkerNote(size_t emptyValues) {
    if (emptyValues == 0) return;
    ReportFailure("note: " + std::to_string(emptyValues) +
                  " item(s) of 0 bytes go in as the 32-byte empty-value marker; the "
                  "library never stores an empty item.");
}

}  // namespace quarrow2::tool
