// quarrow2 rm PATH TYPE...
#include "commands.h"
#include "console.h"
#include "failure.h"
#include "metadata_client.h"

namespace quarrow2::tool {

int run_remove(const Library& library, const RemoveOptions& options) {
    MetadataFile file(library, options.path);
    int status = kSuccess;
    // Each type on its own: one that cannot be removed does not keep the others.
    for (const std::string& type : options.types) {
        try {
            // Open, never Add: removing must not create the file or the item first.
            file.open(utf16_from_utf8(type), type).remove();
        } catch (const Failure& failure) {
            report_failure(failure.what());
            status = kFailure;
        }
    }
    return status;
}

}  // namespace quarrow2::tool
