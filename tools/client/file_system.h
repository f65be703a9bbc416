// The file system as the tool meets it: what a path names, the path the library is handed
// for it, and the walk of a folder's tree. Paths are the tool's strings: the name's bytes
// on Linux, UTF-8 on Windows. Nothing here opens a file for reading, so a FIFO, socket or
// device never blocks the tool.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "tools/formats/text.h"

namespace quarrow2::tool {

// kUnreachable: the path cannot be looked at (a folder on the way may not be searched, a
// link loops); kSpecial: a FIFO, socket or device.
enum class PathKind { kMissing, kUnreachable, kFile, kFolder, kSpecial };

// What a path names, links followed; `reason` says why it is unreachable or which special
// file it is, as a sentence ("Permission denied.").
struct PathState {
    PathKind kind;
    std::string reason;
};
PathState PathStateOf(const std::string& path);

// Why the caller may not read (or write) the file, as a sentence ("Permission denied.",
// "Read-only file system."); empty when nothing in the way is known.
std::string AccessRefusal(const std::string& path, bool write);

// The path the library is handed: absolute, since only an absolute path names the volume
// whose support for named streams the library probes. On Linux a path too long for the
// system is named through its open parent folder (/proc/self/fd/N/NAME), which `holder`
// keeps open. Failure when the path cannot be reached.
struct LibraryPath {
    WString text;
    std::shared_ptr<void> holder;
};
LibraryPath LibraryPathOf(const std::string& path);

// How TargetFolder::Reach follows a path to the file or folder whose items are written.
struct ReachRule {
    // No symbolic link and no ".." anywhere on the path, its end included, so what is
    // reached stays beneath the folder (restore); otherwise links are followed as the
    // system follows them, once (set, cp, restore -P).
    bool beneath = false;
    bool makeFolders = false;  // missing folders on the way are made
    bool makeEnd = false;      // a missing end is made: a file, or a folder with `folder`
    bool folder = false;
    bool dryRun = false;  // nothing is made; what would be made is reported missing
};

class WriteTarget;

// The folder that the paths of one command are taken from, opened once: every path is then
// followed from it, whatever is renamed above it meanwhile.
class TargetFolder {
public:
    // `folder`, or the current folder when empty; Failure when it cannot be opened.
    explicit TargetFolder(const std::string& folder);

    // Follows `path` (below the folder, or absolute) one name at a time. On Linux each folder
    // on the way is opened from the one before (O_NOFOLLOW with `beneath`) and made there
    // with mkdirat when missing, and a missing file is made with O_EXCL, so that no link
    // swapped in on the way can lead the write elsewhere. Failure naming `shown` (the path
    // as messages show it) when the path leads through a link (`beneath`), through a file,
    // to a FIFO, socket or device, or to nothing that may be made.
    WriteTarget Reach(const std::string& path, const std::string& shown,
                      const ReachRule& rule) const;

private:
    struct State;
    std::shared_ptr<State> state_;
};

// A file or folder reached once, for writing its items. A file that Reach made is removed
// again, unless kept, when the target goes while the file is still empty and has no items.
class WriteTarget {
public:
    struct State;
    explicit WriteTarget(std::shared_ptr<State> state);

    // The path the library is handed: on Linux /proc/self/fd/N of the very file or folder
    // reached, which the target keeps open (a missing end in a dry run: the deepest folder
    // there), so the library writes what was checked and looks nothing up again.
    LibraryPath ForLibrary() const;
    // Missing, in a dry run, where the real run would make it.
    bool Missing() const;
    // Made by Reach.
    bool Made() const;
    // Why items cannot be written there, known without writing, as a sentence ("Permission
    // denied.", "Read-only file system.", "Operation not permitted." for an immutable or
    // append-only file); empty when nothing is known to be in the way.
    std::string WriteRefusal() const;
    // Removes the file now when Reach made it and it is still empty, without items.
    void Discard();
    // Keeps a file Reach made, whatever it holds.
    void Keep();

private:
    std::shared_ptr<State> state_;
};

// Calls `visit` with every file and folder below `folder` (paths that start with `folder`),
// whether it is a folder (or a link to one) and whether it is a symbolic link, depth first
// and by name within each folder; a folder is visited before what it holds.
// A symbolic link is visited as what it points to, never walked into, so a link cannot
// lead the walk in circles. Each path the walk cannot enter, list or look at (and each
// special file or dangling link) goes to `problem` with the reason, and the walk goes on.
void WalkFolder(
    const std::string& folder,
    const std::function<void(const std::string& path, bool folder, bool link)>& visit,
    const std::function<void(const std::string& path, const std::string& reason)>& problem);

}  // namespace quarrow2::tool
