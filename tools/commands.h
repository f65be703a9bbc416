// The tool's commands, each given its parsed command line and the loaded library. Each
// returns the exit status; a Failure or UsageError that escapes ends the whole command.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "host.h"
#include "ordered_work.h"

namespace quarrow2::tool {

struct ListOptions {
    unsigned jobs = default_jobs();  // -j: files read at once
    bool recursive = false;
    bool json = false;
    bool long_form = false;  // -l: each value after its type
    std::vector<std::string> paths;
};

enum class ValueForm { kText, kBytes, kHex };

struct GetOptions {
    ValueForm form = ValueForm::kText;
    bool json = false;
    std::string path;
    std::string type;
};

struct SetOptions {
    ValueForm form = ValueForm::kText;
    std::string path;
    std::string type;
    std::optional<std::string> value;       // the argument; "-" reads standard input
    std::optional<std::string> value_file;  // --file
};

struct RemoveOptions {
    unsigned jobs = default_jobs();  // -j: files read at once
    bool all = false;                // every item of each file in `paths`; `types` is empty
    std::vector<std::string> paths;
    std::vector<std::string> types;
};

struct LengthOptions {
    unsigned jobs = default_jobs();  // -j: files read at once
    bool json = false;
    std::vector<std::string> paths;
};

struct DumpOptions {
    unsigned jobs = default_jobs();  // -j: files read at once
    bool recursive = false;
    std::optional<std::string> output;  // standard output when none
    std::vector<std::string> paths;
};

struct RestoreOptions {
    bool dry_run = false;
    bool create = false;          // makes missing files and folders
    bool absolute_paths = false;  // lets paths leave the folder restored into
    std::string directory;        // -C: the folder paths are taken from; none: the current one
    std::string input = "-";      // "-" is standard input
};

struct CopyOptions {
    std::vector<std::string> types;  // every item when empty
    std::string source;
    std::string destination;
};

struct FindOptions {
    unsigned jobs = default_jobs();  // -j: files read at once
    bool recursive = false;
    bool json = false;
    bool null_separated = false;
    std::vector<std::string> paths;
    std::string type;
    std::optional<std::string> value;  // the whole text equals this
    std::optional<std::string> glob;   // the whole text matches this pattern
    std::optional<std::string> regex;  // some of the text matches this regular expression
};

int run_list(const Library& library, const ListOptions& options);
int run_get(const Library& library, const GetOptions& options);
int run_set(const Library& library, const SetOptions& options);
int run_remove(const Library& library, const RemoveOptions& options);
int run_length(const Library& library, const LengthOptions& options);
int run_dump(const Library& library, const DumpOptions& options);
int run_restore(const Library& library, const RestoreOptions& options);
int run_copy(const Library& library, const CopyOptions& options);
int run_find(const Library& library, const FindOptions& options);

}  // namespace quarrow2::tool
