// quarrow2 set [--bytes|--hex] PATH TYPE (VALUE | --file F | -)
#include <cctype>
#include <optional>

#include "commands.h"
#include "failure.h"
#include "item_store.h"
#include "metadata_client.h"
#include "value_input.h"

namespace quarrow2::tool {
namespace {

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

    MetadataFile file(library, options.path);
    FileChanges changes(file);
    try {
        changes.store(name_utf16(options.type), options.type,
                      options.form == ValueForm::kText ? ItemValue{std::move(text), {}}
                                                       : ItemValue{std::nullopt, std::move(bytes)});
    } catch (const Failure&) {
        // The old value stays, and an item made only for this value goes again.
        changes.undo();
        throw;
    }
    return kSuccess;
}

}  // namespace quarrow2::tool
