// quarrow2 set [--utf8|--utf16|--bytes|--hex] PATH TYPE (VALUE | --file F | -)
#include <cctype>
#include <optional>
#include <memory>

#include <CLI/CLI.hpp>

#include "tools/client/storage.h"
#include "tools/commands/command.h"
#include "tools/formats/failure.h"
#include "tools/client/file_system.h"
#include "tools/client/item_store.h"
#include "tools/client/metadata_client.h"
#include "tools/client/value_input.h"

namespace quarrow2::tool {
namespace {

struct SetOptions {
    ValueFormFlags flags;
    std::string path;
    std::string type;
    std::optional<std::string> value;      // the argument; "-" reads standard input
    std::optional<std::string> valueFile;  // --file
};

// Text is stored as UTF-16 unless --utf8 says UTF-8.
bool StoresUtf16(ValueForm form) { return form == ValueForm::kText || form == ValueForm::kUtf16; }

// The value's bytes as given, read no further than its form can use for an item of `limit`
// bytes (text: three bytes of UTF-8 at most for each two of UTF-16; hex: two digits a byte,
// whitespace dropped); nothing when there is more.
std::optional<std::string> ReadValue(const SetOptions& options, size_t limit) {
    const ValueForm form = options.flags.Form();
    const size_t readLimit = StoresUtf16(form)         ? limit / 2 * 3
                             : form == ValueForm::kHex ? limit * 2
                                                       : limit;
    if (options.valueFile) return ReadBoundedValue(*options.valueFile, readLimit, false);
    if (*options.value == "-") return ReadBoundedValue("-", readLimit, form == ValueForm::kHex);
    return *options.value;  // the system bounds an argument
}

void RequireTextValue(const std::string& utf8) {
    if (auto bad = FindInvalidUtf8(utf8))
        throw UsageError("The value is not valid UTF-8 (at byte " + std::to_string(*bad) +
                         "); use --bytes to store bytes as they are.");
}

WString TextValue(const std::string& utf8) {
    RequireTextValue(utf8);
    return Utf16FromUtf8(utf8);
}

Bytes HexValue(const std::string& digits) {
    std::string compact;
    for (char c : digits)
        if (!std::isspace(static_cast<unsigned char>(c))) compact.push_back(c);
    std::optional<Bytes> bytes = BytesFromHex(compact);
    if (!bytes) throw UsageError("The value is not hex: pairs of the digits 0-9 and a-f expected.");
    return *bytes;
}

int RunSet(const Library& library, const SetOptions& options) {
    // The value is read and checked before the file is touched.
    const size_t limit = LargestValueBytes();
    const ValueForm form = options.flags.Form();
    const bool utf16 = StoresUtf16(form);
    std::optional<std::string> raw = ReadValue(options, limit);
    WString text;
    Bytes bytes;
    if (!raw) throw Failure(ValueTooLarge(utf16), options.path, options.type);
    switch (form) {
        case ValueForm::kText:
        case ValueForm::kUtf16:
            text = TextValue(*raw);
            break;
        case ValueForm::kHex:
            bytes = HexValue(*raw);
            break;
        case ValueForm::kUtf8:
            RequireTextValue(*raw);
            [[fallthrough]];
        case ValueForm::kBytes:
            bytes.assign(raw->begin(), raw->end());
    }
    if ((utf16 ? text.size() * 2 : bytes.size()) > limit)
        throw Failure(ValueTooLarge(utf16), options.path, options.type);

    // Reached once: the file checked and made here is the one the library writes.
    ReachRule rule;
    rule.makeEnd = true;
    WriteTarget target = TargetFolder("").Reach(options.path, options.path, rule);
    MetadataFile file(library, options.path, target.ForLibrary());
    FileChanges changes(file, target);
    try {
        changes.Store(
            NameUtf16(options.type), options.type,
            utf16 ? ItemValue{std::move(text), {}} : ItemValue{std::nullopt, std::move(bytes)});
    } catch (const Failure&) {
        // The old value stays, and an item made only for this value goes again.
        changes.Undo();
        throw;
    }
    target.Keep();
    return kSuccess;
}

CommandRun DefineSet(CLI::App& command) {
    auto options = std::make_shared<SetOptions>();
    AddValueFormFlags(command, options->flags,
                      {"Store the text as UTF-8, the form other programs read (xdg.tags, "
                       "xdg.comment, ...)",
                       "Store the text as UTF-16, the library's own form (the default)",
                       "Store the value's bytes as they are, not as text",
                       "The value is hex digits of the bytes to store"});
    auto* file = command.add_option("--file", options->valueFile, "Read the value from this file")
                     ->type_name("FILE");
    command.add_option("PATH", options->path, "The file")->required();
    command.add_option("TYPE", options->type, "The item's type name")->required();
    command
        .add_option("VALUE", options->value,
                    "The value (UTF-8 text unless --bytes or --hex); - reads standard input")
        ->excludes(file);
    return {[options] {
                RequirePath(options->path);
                if (!options->value && !options->valueFile)
                    throw UsageError("set needs a VALUE, --file F or - for standard input.");
            },
            [options](const Library& library) { return RunSet(library, *options); }};
}

}  // namespace

const Command kSetCommand{
    "set", "Store the value of one item, creating the item (and the file) when missing", DefineSet};

}  // namespace quarrow2::tool
