#include "tools/client/file_walk.h"

#include "tools/client/file_system.h"

namespace quarrow2::tool {

void VisitPaths(const std::vector<std::string>& paths, bool recursive, unsigned jobs,
                const std::function<OrderedWork::Emit(const std::string&, bool, bool)>& read,
                const std::function<void(const std::string&, const std::string&)>& refuse) {
    OrderedWork work(jobs);
    // Each task carries its path by value: the walk has moved on by the time it runs, and a
    // long path is reached again from it (LibraryPathOf), not through the walk's folders.
    auto visit = [&](const std::string& path, bool inFolder, bool folder) {
        work.Add([&read, path, inFolder, folder] { return read(path, inFolder, folder); });
    };
    auto refused = [&](const std::string& path, const std::string& description) {
        work.AddReady([&refuse, path, description] { refuse(path, description); });
    };
    for (const std::string& path : paths) {
        PathState state = PathStateOf(path);
        if (state.kind == PathKind::kSpecial) {
            refused(path, state.reason);
            continue;
        }
        // A missing path is the command's to report, as it reports any file it cannot read.
        // A folder walked is shown as the files in it are, only when it has items.
        const bool folder = state.kind == PathKind::kFolder;
        const bool walked = recursive && folder;
        visit(path, walked, folder);
        if (walked)
            WalkFolder(
                path,
                [&](const std::string& found, bool isFolder) { visit(found, true, isFolder); },
                refused);
    }
    work.Finish();
}

}  // namespace quarrow2::tool
