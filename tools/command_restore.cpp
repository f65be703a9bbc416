// quarrow2 restore [--dry-run] [--create] [FILE | -]
#include <filesystem>

#include "commands.h"
#include "console.h"
#include "dump_input.h"
#include "failure.h"
#include "value_input.h"

namespace quarrow2::tool {
namespace {

bool file_is_present(const std::string& path) {
    std::error_code error;
    return std::filesystem::exists(std::filesystem::u8path(path), error);
}

// Returns whether every item went on.
bool restore_file(const Library& library, const RestoredFile& restored,
                  const RestoreOptions& options) {
    if (!options.create && !file_is_present(restored.path))
        throw Failure("File not found.", restored.path);
    MetadataFile file(library, restored.path);
    if (!file.supports_streams()) throw Failure("Volume does not support streams.", restored.path);
    if (options.dry_run) {
        std::string text = restored.path + "\n";
        for (const RestoredItem& item : restored.items) text += "  " + item.type + "\n";
        print_raw(text);
        return true;
    }
    bool complete = true;
    for (const RestoredItem& item : restored.items) {
        try {
            store_value(file, utf16_from_utf8(item.type), item.type, item.value);
        } catch (const Failure& failure) {
            report_failure(failure.what());
            complete = false;
        }
    }
    return complete;
}

}  // namespace

int run_restore(const Library& library, const RestoreOptions& options) {
    // All of the input is read and checked before the first file is touched.
    std::vector<RestoredFile> files =
        read_dump(options.input == "-" ? read_standard_input() : read_value_file(options.input));
    int status = kSuccess;
    for (const RestoredFile& file : files) {
        try {
            if (!restore_file(library, file, options)) status = kFailure;
        } catch (const Failure& failure) {
            report_failure(failure.what());
            status = kFailure;
        }
    }
    return status;
}

}  // namespace quarrow2::tool
