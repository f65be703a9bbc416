#include "tools/item_store.h"

#include <algorithm>
#include <filesystem>

#include "tools/console.h"
#include "tools/failure.h"

namespace quarrow2::tool {
namespace {

namespace fs = std::filesystem;

bool file_is_present(const std::string& path) {
    std::error_code error;
    return fs::exists(fs::u8path(path), error);
}

void put_value(MetadataItem& item, const ItemValue& value) {
    if (value.text)
        item.put_text(*value.text);
    else
        item.put_bytes(value.bytes);
}

}  // namespace

FileChanges::FileChanges(MetadataFile& file)
    : file_(file), file_was_present_(file_is_present(file.path())) {}

void FileChanges::store(const WString& type, const std::string& shown_type,
                        const ItemValue& value) {
    std::optional<MetadataItem> item;
    try {
        item.emplace(file_.open(type, shown_type));
    } catch (const Failure&) {
        if (!present_types_) {
            present_types_.emplace();
            if (file_was_present_) *present_types_ = file_.types();
        }
        // It is there but could not be opened: not a new item. Another process may have
        // made it since the open failed, so it is opened once more, and that answer stands.
        if (std::find(present_types_->begin(), present_types_->end(), type) !=
            present_types_->end())
            item.emplace(file_.open(type, shown_type));
    }
    if (item) {
        changes_.push_back({type, shown_type, item->bytes()});
    } else {
        item.emplace(file_.add(type, shown_type));
        changes_.push_back({type, shown_type, std::nullopt});
    }
    put_value(*item, value);
}

bool FileChanges::undo() {
    bool complete = true;
    for (auto change = changes_.rbegin(); change != changes_.rend(); ++change) {
        try {
            if (change->old_value) {
                file_.open(change->type, change->shown_type).put_bytes(*change->old_value);
            } else {
                file_.open(change->type, change->shown_type).remove();
            }
        } catch (const Failure& failure) {
            report_failure(failure.what());
            complete = false;
        }
    }
    changes_.clear();
    std::error_code error;
    fs::path path = fs::u8path(file_.path());
    if (complete && !file_was_present_ && fs::is_regular_file(path, error) &&
        fs::file_size(path, error) == 0)
        fs::remove(path, error);
    return complete;
}

bool store_together(MetadataFile& file, const std::vector<std::pair<WString, ItemValue>>& values) {
    FileChanges changes(file);
    size_t stored = 0;
    for (const auto& [type, value] : values) {
        std::string shown = name_for_display(type);
        try {
            changes.store(type, shown, value);
            ++stored;
        } catch (const Failure& failure) {
            bool undone = changes.undo();  // reports each step that fails
            std::string message = failure.what();
            // One line: the cause and what became of the items written before it.
            if (stored > 0 || !undone)
                message += undone ? "; the items already written to this file were put back "
                                    "as they were."
                                  : "; not every item of this file could be put back as it "
                                    "was (see above).";
            report_failure(message);
            return false;
        }
    }
    return true;
}

void report_marker_note(size_t empty_values) {
    if (empty_values == 0) return;
    report_failure("note: " + std::to_string(empty_values) +
                   " item(s) of 0 bytes go in as the 32-byte empty-value marker; the "
                   "library never stores an empty item.");
}

}  // namespace quarrow2::tool
