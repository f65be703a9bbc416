// quarrow2 rm PATH TYPE...  |  quarrow2 rm --all PATH...
#include "commands.h"
#include "console.h"
#include "failure.h"
#include "metadata_client.h"
#include "readable_file.h"

namespace quarrow2::tool {
namespace {

// Each type on its own: one that cannot be removed does not keep the others.
bool remove_types(MetadataFile& file, const std::vector<WString>& types) {
    bool complete = true;
    for (const WString& type : types) {
        std::string shown = name_for_display(type);
        try {
            // Open, never Add: removing must not create the file or the item first.
            file.open(type, shown).remove();
        } catch (const Failure& failure) {
            report_failure(failure.what());
            complete = false;
        }
    }
    return complete;
}

}  // namespace

int run_remove(const Library& library, const RemoveOptions& options) {
    if (!options.all) {
        MetadataFile file(library, options.paths.front());
        std::vector<WString> types;
        for (const std::string& type : options.types) types.push_back(name_utf16(type));
        return remove_types(file, types) ? kSuccess : kFailure;
    }
    int status = kSuccess;
    for (const std::string& path : options.paths) {
        try {
            auto [file, types] = bind_readable_file_types(library, path);
            if (!remove_types(file, types)) status = kFailure;
        } catch (const Failure& failure) {
            report_failure(failure.what());
            status = kFailure;
        }
    }
    return status;
}

}  // namespace quarrow2::tool
