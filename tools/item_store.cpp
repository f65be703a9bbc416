#include "item_store.h"

#include <filesystem>

#include "failure.h"

namespace quarrow2::tool {
namespace {

namespace fs = std::filesystem;

bool file_is_present(const std::string& path) {
    std::error_code error;
    return fs::exists(fs::u8path(path), error);
}

void undo_creation(MetadataItem& item, const std::string& path, bool file_was_present) {
    try {
        item.remove();
    } catch (const Failure&) {
        return;
    }
    std::error_code error;
    fs::path file = fs::u8path(path);
    if (!file_was_present && fs::is_regular_file(file, error) && fs::file_size(file, error) == 0)
        fs::remove(file, error);
}

}  // namespace

void store_value(MetadataFile& file, const WString& type, const std::string& shown_type,
                 const ItemValue& value) {
    std::optional<MetadataItem> item;
    bool created = false;
    bool file_was_present = true;
    try {
        item.emplace(file.open(type, shown_type));
    } catch (const Failure&) {
        // Missing (or not to be opened): Add creates it, or reports why it cannot.
        file_was_present = file_is_present(file.path());
        item.emplace(file.add(type, shown_type));
        created = true;
    }
    try {
        if (value.text)
            item->put_text(*value.text);
        else
            item->put_bytes(value.bytes);
    } catch (const Failure&) {
        if (created) undo_creation(*item, file.path(), file_was_present);
        throw;
    }
}

}  // namespace quarrow2::tool
