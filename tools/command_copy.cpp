// quarrow2 cp [--type T]... SRC DEST
#include "commands.h"
#include "console.h"
#include "failure.h"
#include "item_store.h"
#include "readable_file.h"

namespace quarrow2::tool {

int run_copy(const Library& library, const CopyOptions& options) {
    auto [source, types] = bind_readable_file_types(library, options.source);
    // Items go onto a file that is there; cp makes no files.
    MetadataFile destination = bind_readable_file(library, options.destination);
    if (!options.types.empty()) {
        types.clear();
        for (const std::string& type : options.types) types.push_back(utf16_from_utf8(type));
    }

    int status = kSuccess;
    for (const WString& type : types) {
        std::string shown = displayable_utf8(type);
        try {
            // As bytes: an empty value (the marker) is written as the marker again.
            ItemValue value{std::nullopt, source.open(type, shown).bytes()};
            store_value(destination, type, shown, value);
        } catch (const Failure& failure) {
            report_failure(failure.what());
            status = kFailure;
        }
    }
    return status;
}

}  // namespace quarrow2::tool
