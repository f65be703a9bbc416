// quarrow2 rm PATH TYPE...  |  quarrow2 rm --all PATH...
#include "commands.h"
#include "console.h"
#include "failure.h"
#include "metadata_client.h"
#include "ordered_work.h"
#include "readable_file.h"

namespace quarrow2::tool {
namespace {

// Each type on its own: one that cannot be removed does not keep the others. The failures'
// messages, in order.
std::vector<std::string> remove_types(MetadataFile& file, const std::vector<WString>& types) {
    std::vector<std::string> failures;
    for (const WString& type : types) {
        std::string shown = name_for_display(type);
        try {
            // Open, never Add: removing must not create the file or the item first.
            file.open(type, shown).remove();
        } catch (const Failure& failure) {
            failures.push_back(failure.what());
        }
    }
    return failures;
}

// Every item of one file, on a worker: the messages of what could not be removed.
std::vector<std::string> remove_all(const Library& library, const std::string& path) {
    try {
        auto [file, types] = bind_readable_file_types(library, path);
        return remove_types(file, types);
    } catch (const Failure& failure) {
        return {failure.what()};
    }
}

}  // namespace

int run_remove(const Library& library, const RemoveOptions& options) {
    int status = kSuccess;
    auto report = [&status](const std::vector<std::string>& failures) {
        for (const std::string& message : failures) report_failure(message);
        if (!failures.empty()) status = kFailure;
    };
    if (!options.all) {
        MetadataFile file(library, options.paths.front());
        std::vector<WString> types;
        for (const std::string& type : options.types) types.push_back(name_utf16(type));
        report(remove_types(file, types));
        return status;
    }
    OrderedWork work(options.jobs);
    for (const std::string& path : options.paths)
        work.add([&, path]() -> OrderedWork::Emit {
            return [&report, failures = remove_all(library, path)] { report(failures); };
        });
    work.finish();
    return status;
}

}  // namespace quarrow2::tool
