// The tool's commands, each given its parsed command line and the loaded library. Each
// returns the exit status; a Failure or UsageError that escapes ends the whole command.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "host.h"

namespace quarrow2::tool {

struct ListOptions {
    bool recursive = false;
    bool json = false;
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
    std::optional<std::string> value;      // the argument; "-" reads standard input
    std::optional<std::string> value_file;  // --file
};

struct RemoveOptions {
    std::string path;
    std::vector<std::string> types;
};

struct LengthOptions {
    bool json = false;
    std::vector<std::string> paths;
};

int run_list(const Library& library, const ListOptions& options);
int run_get(const Library& library, const GetOptions& options);
int run_set(const Library& library, const SetOptions& options);
int run_remove(const Library& library, const RemoveOptions& options);
int run_length(const Library& library, const LengthOptions& options);

}  // namespace quarrow2::tool
