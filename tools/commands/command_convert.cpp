// quarrow2 convert --to native|samba [-r] [--dry-run] [--mark|--unmark] PATH...
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <CLI/CLI.hpp>

#include "tools/client/storage.h"
#include "tools/commands/command.h"
#include "tools/formats/console.h"
#include "tools/formats/failure.h"
#include "tools/client/file_system.h"
#include "tools/client/file_walk.h"
#include "tools/client/item_store.h"
#include "tools/client/readable_file.h"

namespace quarrow2::tool {
namespace {

struct ConvertOptions {
    std::string to;  // "native" or "samba"
    bool recursive = false;
    bool dryRun = false;
    bool mark = false;
    bool unmark = false;
    std::vector<std::string> paths;
};

struct Moving {
    WString type;
    std::string shown;
    ItemValue value;
};

std::string OtherLayout(const std::string& layout) {
    return layout == "samba" ? "native" : "samba";
}

// Samba's own attributes (user.DOSATTRIB, and its streams seen from outside their layout)
// list as items in the native layout, but they are Samba's and stay where they are.
bool SambasOwn(const std::string& type) {
    return type == "DOSATTRIB" || type.rfind("DosStream.", 0) == 0;
}

// Moves the items of one file at a time, each file all or nothing, and tells what it did.
// The library keeps items in the layout its QUARROW2_LAYOUT names when that is set, so each
// step names the layout it works in; one file is done before the next is begun.
class Conversion {
public:
    Conversion(const Library& library, const ConvertOptions& options)
        : library_(library), options_(options), from_(OtherLayout(options.to)) {}

    // One file or folder; whether nothing of it failed.
    bool Convert(const std::string& path) {
        try {
            const size_t moved = MoveItems(path);
            if (moved == 0) return true;
            ++files_;
            items_ += moved;
            PrintRaw(EscapedForDisplay(path) + ": " + std::to_string(moved) +
                     (moved == 1 ? " item" : " items") +
                     (options_.dryRun ? " would move to " : " moved to ") + options_.to + "\n");
            return true;
        } catch (const Failure& failure) {
            ReportFailure(failure.what());
            ++failed_;
            return false;
        }
    }

    void Refuse(const std::string& path, const std::string& description) {
        ReportFailure(Failure(description, path).what());
        ++failed_;
    }

    int Finish() {
        PrintRaw(std::to_string(files_) + (files_ == 1 ? " file, " : " files, ") +
                 std::to_string(items_) + (items_ == 1 ? " item" : " items") +
                 (options_.dryRun ? " would move" : " moved") + " to the " + options_.to +
                 " layout" +
                 (failed_ ? "; " + std::to_string(failed_) +
                                (failed_ == 1 ? " path was" : " paths were") + " left as " +
                                (failed_ == 1 ? "it was" : "they were") + " (see above)"
                          : std::string()) +
                 ".\n");
        ReportMarkerNote(emptyValues_);
        return failed_ ? kFailure : kSuccess;
    }

private:
    // The number of items moved (or that would move); Failure when the file is left as it
    // was, or could not all be put back (said in the message).
    size_t MoveItems(const std::string& path) {
        if (CarriesBothLayouts(path))
            throw Failure(
                "The file carries items in both layouts, which cannot be put back together if "
                "a move fails; nothing of it was moved.",
                path);
        // Reached as set reaches a file, so that the file read is the file written.
        WriteTarget target = TargetFolder("").Reach(path, path, {});
        ChooseStorageLayout(from_);
        auto [file, types] = BindReadableFileTypes(library_, path);
        std::vector<Moving> items;
        for (const WString& type : types) {
            std::string shown = NameForDisplay(type);
            if (from_ == "native" && SambasOwn(shown)) continue;
            MetadataItem item = file.Open(type, shown);
            // As bytes, so that every value moves as it is stored.
            ItemValue value{std::nullopt, item.ValueBytes()};
            if (value.bytes.empty() && item.Length() == 0) ++emptyValues_;
            items.push_back({type, std::move(shown), std::move(value)});
        }
        if (items.empty()) return 0;
        ChooseStorageLayout(options_.to);
        for (const WString& present : file.Types())
            for (const Moving& item : items)
                if (item.type == present)
                    throw Failure("The item is in both layouts; nothing of this file was moved.",
                                  path, item.shown);
        if (options_.dryRun) return items.size();

        // Out of the old layout first: the library adds no item to a file that holds items
        // of the other.
        ChooseStorageLayout(from_);
        size_t taken = 0;
        try {
            for (; taken < items.size(); ++taken)
                file.Open(items[taken].type, items[taken].shown).Remove();
        } catch (const Failure& failure) {
            throw Failure(failure.what() + Outcome(PutBack(file, target, items, taken)));
        }
        ChooseStorageLayout(options_.to);
        FileChanges added(file, target);
        for (const Moving& item : items) {
            try {
                added.Store(item.type, item.shown, item.value);
            } catch (const Failure& failure) {
                const bool undone = added.Undo();
                throw Failure(failure.what() +
                              Outcome(undone && PutBack(file, target, items, items.size())));
            }
        }
        return items.size();
    }

    // Puts the first `count` items back in the layout they came from; whether all went.
    bool PutBack(MetadataFile& file, WriteTarget& target, const std::vector<Moving>& items,
                 size_t count) {
        ChooseStorageLayout(from_);
        FileChanges back(file, target);
        bool complete = true;
        for (size_t i = 0; i < count; ++i) {
            try {
                back.Store(items[i].type, items[i].shown, items[i].value);
            } catch (const Failure& failure) {
                ReportFailure(failure.what());
                complete = false;
            }
        }
        return complete;
    }

    std::string Outcome(bool restored) const {
        return restored ? "; the file's items were left in the " + from_ + " layout as they were."
                        : "; not every item of this file could be put back as it was (see above).";
    }

    const Library& library_;
    const ConvertOptions& options_;
    const std::string from_;
    size_t files_ = 0;
    size_t items_ = 0;
    size_t failed_ = 0;
    size_t emptyValues_ = 0;
};

bool IsLink(const std::string& path) {
    std::error_code error;
    return std::filesystem::is_symlink(
        std::filesystem::symlink_status(std::filesystem::u8path(path), error));
}

// Sets or removes the marker of a folder whose items have all moved.
void ChangeMarker(const std::string& folder, const ConvertOptions& options) {
    const std::string shown = EscapedForDisplay(folder);
    const std::string word = options.mark ? options.to : std::string();
    if (options.dryRun) {
        PrintRaw(shown + (options.mark ? ": would be marked " + word : ": would be unmarked") +
                 "\n");
        return;
    }
    MarkLayout(folder, word);
    PrintRaw(shown + (options.mark ? ": marked " + word : ": unmarked") + "\n");
    std::string holder;
    const std::string followed = NearestLayoutMarker(folder, holder);
    if (options.unmark && (followed.empty() ? std::string("native") : followed) != options.to)
        ReportFailure("warning: \"" + folder + "\" now follows the marker \"" + followed +
                      "\" of \"" + holder + "\" above it; mark it " + options.to +
                      " with --mark instead.");
}

int RunConvert(const Library& library, const ConvertOptions& options) {
    Conversion conversion(library, options);
    bool markersChanged = true;
    for (const std::string& path : options.paths) {
        bool complete = true;
        // One job: each file is moved on this thread, in the walk's order.
        VisitPaths(
            {path}, options.recursive, 1,
            [&](const VisitedPath& visited) -> OrderedWork::Emit {
                return [&conversion, &complete, found = visited.path, inFolder = visited.inFolder] {
                    // A link met in the walk may lead out of the tree: what it leads to
                    // moves where a walk meets it.
                    if (!inFolder || !IsLink(found))
                        complete = conversion.Convert(found) && complete;
                };
            },
            [&](const std::string& found, const std::string& description) {
                conversion.Refuse(found, description);
                complete = false;
            });
        if (!options.mark && !options.unmark) continue;
        if (!complete) {
            ReportFailure(Failure("The layout marker was left as it was, since not every item "
                                  "below the folder moved.",
                                  path)
                              .what());
            markersChanged = false;
            continue;
        }
        try {
            ChangeMarker(path, options);
        } catch (const Failure& failure) {
            ReportFailure(failure.what());
            markersChanged = false;
        }
    }
    const int status = conversion.Finish();
    return markersChanged ? status : kFailure;
}

CommandRun DefineConvert(CLI::App& command) {
    auto options = std::make_shared<ConvertOptions>();
    command
        .add_option("--to", options->to,
                    "The layout the items move to: native (user.T) or samba (Samba's "
                    "streams_xattr); they move from the other")
        ->required()
        ->check(CLI::IsMember({"native", "samba"}));
    command.add_flag("-r,--recursive", options->recursive,
                     "Move the items of the files in folders and their subfolders too");
    command.add_flag("--dry-run", options->dryRun, "Say what would move, and move nothing");
    CLI::Option* mark = command.add_flag(
        "--mark", options->mark,
        "Then mark each folder named with the layout (user.quarrow2.layout), once all of its "
        "items moved");
    command
        .add_flag("--unmark", options->unmark,
                  "Then remove each folder's marker, once all of its items moved")
        ->excludes(mark);
    command.add_option("PATH", options->paths, "Files, or folders with -r")->required();
    return {[options] {
                for (const std::string& path : options->paths) {
                    RequirePath(path);
                    if ((options->mark || options->unmark) &&
                        PathStateOf(path).kind != PathKind::kFolder)
                        throw UsageError("--mark and --unmark take folders, and \"" +
                                         EscapedForDisplay(path) + "\" is none.");
                }
            },
            [options](const Library& library) { return RunConvert(library, *options); }};
}

}  // namespace

const Command kConvertCommand{
    "convert", "Move the items of files from one Linux layout to the other, each file whole",
    DefineConvert};

}  // namespace quarrow2::tool
