// quarrow2 cp [--type T]... SRC DEST
#include <memory>

#include <CLI/CLI.hpp>

#include "tools/commands/command.h"
#include "tools/formats/console.h"
#include "tools/formats/failure.h"
#include "tools/client/file_system.h"
#include "tools/client/item_store.h"
#include "tools/client/readable_file.h"

namespace quarrow2::tool {
namespace {

struct CopyOptions {
    std::vector<std::string> types;  // every item when empty
    std::string source;
    std::string destination;
};

int RunCopy(const Library& library, const CopyOptions& options) {
    auto [source, listing] = BindReadableFileItems(library, options.source);
    // Items go onto a file that is there, reached once; cp makes no files.
    WriteTarget target = TargetFolder("").Reach(options.destination, options.destination, {});
    MetadataFile destination(library, options.destination, target.ForLibrary());
    if (!destination.SupportsStreams())
        throw Failure("Volume does not support streams.", options.destination);
    int status = kSuccess;
    std::vector<WString> types;
    for (const std::string& type : options.types) types.push_back(NameUtf16(type));
    if (options.types.empty()) {
        for (const ItemListing::Entry& entry : listing.items) types.push_back(entry.type);
        // Another program's attribute that is no item cannot be copied, so nothing is.
        for (const std::string& message : ForeignNameFailures(options.source, listing)) {
            ReportFailure(message);
            status = kFailure;
        }
    }

    // Every value is read before the first is written, so DEST changes only when all of them
    // can be copied, and then as a whole.
    std::vector<std::pair<WString, ItemValue>> values;
    size_t emptyValues = 0;
    for (const WString& type : types) {
        std::string shown = NameForDisplay(type);
        try {
            MetadataItem item = source.Open(type, shown);
            // As bytes: an empty value (the marker) is written as the marker again.
            ItemValue value{std::nullopt, item.ValueBytes()};
            if (value.bytes.empty() && item.Length() == 0) ++emptyValues;
            values.emplace_back(type, std::move(value));
        } catch (const Failure& failure) {
            ReportFailure(failure.what());
            status = kFailure;
        }
    }
    if (status == kSuccess && !StoreTogether(destination, target, values)) status = kFailure;
    if (status == kSuccess) ReportMarkerNote(emptyValues);
    return status;
}

CommandRun DefineCopy(CLI::App& command) {
    auto options = std::make_shared<CopyOptions>();
    command.add_option("-t,--type", options->types, "Copy only this item (may be repeated)")
        ->allow_extra_args(false);
    command.add_option("SRC", options->source, "The file whose items are copied")->required();
    command.add_option("DEST", options->destination, "The file that receives them")->required();
    return {[options] {
                RequirePath(options->source);
                RequirePath(options->destination);
            },
            [options](const Library& library) { return RunCopy(library, *options); }};
}

}  // namespace

const Command kCopyCommand{"cp", "Copy items from one file to another", DefineCopy};

}  // namespace quarrow2::tool
