// quarrow2 set [--bytes|--hex] PATH TYPE (VALUE | --file F | -)
#include <cctype>
#include <filesystem>
#include <optional>

#include "commands.h"
#include "failure.h"
#include "metadata_client.h"
#include "value_input.h"

namespace quarrow2::tool {
namespace {

namespace fs = std::filesystem;

std::string read_value(const SetOptions& options) {
    if (options.value_file) return read_value_file(*options.value_file);
    if (*options.value == "-") return read_standard_input();
    return *options.value;
}

WString text_value(const std::string& utf8) {
    if (auto bad = find_invalid_utf8(utf8))
        throw UsageError("The value is not valid UTF-8 (at byte " + std::to_string(*bad) +
                         "); use --bytes to store bytes as they are.");
    WString text = utf16_from_utf8(utf8);
    if (text.size() > kLargestValueBytes / 2)
        throw UsageError("The value is larger than an item can hold (" +
                         std::to_string(kLargestValueBytes) + " bytes).");
    return text;
}

Bytes hex_value(const std::string& digits) {
    std::string compact;
    for (char c : digits)
        if (!std::isspace(static_cast<unsigned char>(c))) compact.push_back(c);
    std::optional<Bytes> bytes = bytes_from_hex(compact);
    if (!bytes) throw UsageError("The value is not hex: pairs of the digits 0-9 and a-f expected.");
    return *bytes;
}

bool file_is_present(const std::string& path) {
    std::error_code error;
    return fs::exists(fs::u8path(path), error);
}

// A failed put of a new item must not leave the item behind, nor the file when this set
// created it: nothing changed, as for an existing item, whose old value the library keeps.
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

int run_set(const Library& library, const SetOptions& options) {
    // The value is read and checked before the file is touched.
    std::string raw = read_value(options);
    WString text;
    Bytes bytes;
    if (options.form == ValueForm::kText)
        text = text_value(raw);
    else if (options.form == ValueForm::kHex)
        bytes = hex_value(raw);
    else
        bytes.assign(raw.begin(), raw.end());

    bool file_was_present = file_is_present(options.path);
    MetadataFile file(library, options.path);
    WString type = utf16_from_utf8(options.type);
    std::optional<MetadataItem> item;
    bool created = false;
    try {
        item.emplace(file.open(type, options.type));
    } catch (const Failure&) {
        // Missing (or not to be opened): Add creates it, or reports why it cannot.
        item.emplace(file.add(type, options.type));
        created = true;
    }
    try {
        if (options.form == ValueForm::kText)
            item->put_text(text);
        else
            item->put_bytes(bytes);
    } catch (const Failure&) {
        if (created) undo_creation(*item, options.path, file_was_present);
        throw;
    }
    return kSuccess;
}

}  // namespace quarrow2::tool
