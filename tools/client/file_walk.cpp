#include "tools/client/file_walk.h"

#include "tools/client/file_system.h"

namespace quarrow2::tool {

std::string LayoutFolderOf(const VisitedPath& visited) {
    if (!visited.plain) return {};
    if (visited.folder) return visited.path;
    // The walk joins a folder and a name with one slash (none more after a folder's own).
    const size_t slash = visited.path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : visited.path.substr(0, slash);
}

void VisitPaths(const std::vector<std::string>& paths, bool recursive, unsigned jobs,
                const std::function<OrderedWork::Emit(const VisitedPath&)>& read,
                const std::function<void(const std::string&, const std::string&)>& refuse) {
    OrderedWork work(jobs);
    // Each task carries its path by value: the walk has moved on by the time it runs, and a
    // long path is reached again from it (LibraryPathOf), not through the walk's folders.
    auto visit = [&](VisitedPath visited) {
        work.Add([&read, visited = std::move(visited)] { return read(visited); });
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
        visit({path, walked, folder, false});
        if (walked)
            WalkFolder(
                path,
                [&](const std::string& found, bool isFolder, bool link) {
                    visit({found, true, isFolder, !link});
                },
                refused);
    }
    work.Finish();
}

}  // namespace quarrow2::tool
