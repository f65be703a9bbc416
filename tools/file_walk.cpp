#include "file_walk.h"

#include "file_system.h"

namespace quarrow2::tool {

void visit_paths(const std::vector<std::string>& paths, bool recursive, const std::string&,
                 const std::function<void(const std::string&, bool)>& visit,
                 const std::function<void(const std::string&, const std::string&)>& refuse) {
    for (const std::string& path : paths) {
        PathState state = path_state(path);
        if (state.kind == PathKind::kSpecial) {
            refuse(path, state.reason);
            continue;
        }
        // A missing path is the command's to report, as it reports any file it cannot read.
        // A folder walked is shown as the files in it are, only when it has items.
        bool walked = recursive && state.kind == PathKind::kFolder;
        visit(path, walked);
        if (walked)
            walk_folder(
                path, [&](const std::string& found) { visit(found, true); },
                [&](const std::string& found, const std::string& reason) {
                    refuse(found, reason);
                });
    }
}

}  // namespace quarrow2::tool
