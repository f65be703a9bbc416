// A command of the tool, whole in its own command_*.cpp: its name and summary, its options
// and its run. cli.cpp's table lists the commands; the help, the shell completions and the
// man pages are all written from the CLI11 commands that table makes.
#pragma once

#include <functional>
#include <string>

namespace CLI {
class App;
}

namespace quarrow2::tool {

class Library;  // tools/host/host.h: the loaded library, which a run is handed

// What the parsed command line asks: checks that CLI11 cannot express (UsageError), made
// before the library is loaded, then the work, given the library.
struct CommandRun {
    std::function<void()> check;
    std::function<int(const Library&)> run;
};

struct Command {
    const char* name;
    const char* summary;
    // Adds the command's options to its CLI11 command, bound to values its run reads.
    CommandRun (*define)(CLI::App& command);
};

extern const Command kListCommand;
extern const Command kGetCommand;
extern const Command kSetCommand;
extern const Command kRemoveCommand;
extern const Command kLengthCommand;
extern const Command kDumpCommand;
extern const Command kRestoreCommand;
extern const Command kCopyCommand;
extern const Command kFindCommand;
extern const Command kConvertCommand;
extern const Command kSharesCommand;

// Checks the commands share.
void RequirePath(const std::string& path);
void RequireUtf8(const std::string& value, const char* what);

// -j N: how many files are read at once; the output is the same for any N.
void AddJobsOption(CLI::App& command, unsigned& jobs);

// How get shows a value and set takes it: --utf8, --utf16, --bytes or --hex, each excluding
// the others; without one, text (get: as its name's convention says; set: UTF-16).
enum class ValueForm { kText, kUtf8, kUtf16, kBytes, kHex };
struct ValueFormFlags {
    bool utf8 = false;
    bool utf16 = false;
    bool bytes = false;
    bool hex = false;
    ValueForm Form() const;
};
// The help text of each flag, in that order.
struct ValueFormHelp {
    const char* utf8;
    const char* utf16;
    const char* bytes;
    const char* hex;
};
void AddValueFormFlags(CLI::App& command, ValueFormFlags& flags, const ValueFormHelp& help);

}  // namespace quarrow2::tool
