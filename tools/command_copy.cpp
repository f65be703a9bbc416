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
        for (const std::string& type : options.types) types.push_back(name_utf16(type));
    }

    // Every value is read before the first is written, so DEST changes only when all of them
    // can be copied, and then as a whole.
    std::vector<std::pair<WString, ItemValue>> values;
    size_t empty_values = 0;
    int status = kSuccess;
    for (const WString& type : types) {
        std::string shown = name_for_display(type);
        try {
            MetadataItem item = source.open(type, shown);
            // As bytes: an empty value (the marker) is written as the marker again.
            ItemValue value{std::nullopt, item.bytes()};
            if (value.bytes.empty() && item.length() == 0) ++empty_values;
            values.emplace_back(type, std::move(value));
        } catch (const Failure& failure) {
            report_failure(failure.what());
            status = kFailure;
        }
    }
    if (status == kSuccess && !store_together(destination, values)) status = kFailure;
    if (status == kSuccess) report_marker_note(empty_values);
    return status;
}

}  // namespace quarrow2::tool
