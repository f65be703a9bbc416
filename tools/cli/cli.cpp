#include "tools/client/storage.h"
#include "tools/cli/cli.h"

#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <exception>
#include <new>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "tools/commands/command.h"
#include "tools/cli/completion.h"
#include "tools/formats/console.h"
#include "tools/formats/failure.h"
#include "tools/host/host.h"
#include "tools/client/metadata_client.h"
#include "tools/formats/text.h"

namespace quarrow2::tool {
namespace {

constexpr const char* kFooter =
    "Exit status: 0 success, 1 an operation failed (the message says which file and type),\n"
    "2 the command line cannot be used (find: 0 found, 1 none found, 2 an error). A value,\n"
    "type or path starting with '-' follows '--'. Names are shown with control characters,\n"
    "bytes that are not UTF-8 and backslashes as \\ooo (octal), as getfattr shows them.\n";

// The tool's commands, in the order --help lists them.
constexpr const Command* kCommands[] = {
    &kListCommand,   &kGetCommand,     &kSetCommand,     &kRemoveCommand,
    &kLengthCommand, &kDumpCommand,    &kRestoreCommand, &kCopyCommand,
    &kFindCommand,   &kConvertCommand, &kSharesCommand,
};

// The longest --wait taken: a day. Anything longer is a mistake, not a plan.
constexpr double kLongestWaitSeconds = 86400;

// --wait's seconds: a plain decimal number from 0 to a day ("2", "0.5", "1e3"); a sign, a
// word, nan, inf, an empty text or one beyond the range is refused whole.
double WaitSeconds(const std::string& text) {
    double seconds = -1;
    const char* end = text.data() + text.size();
    auto [stop, error] = std::from_chars(text.data(), end, seconds);
    if (text.empty() || text.front() == '-' || error != std::errc() || stop != end ||
        !std::isfinite(seconds) || seconds > kLongestWaitSeconds)
        throw UsageError("--wait takes a number of seconds from 0 to 86400, not '" +
                         EscapedForDisplay(text) + "'.");
    return seconds;
}

struct DefinedCommand {
    CLI::App* command;
    CommandRun run;
};

std::vector<DefinedCommand> DefineCommands(CLI::App& app, double& waitSeconds) {
    app.set_version_flag("--version", std::string("quarrow2 ") + QUARROW2_VERSION,
                         "Show the version and exit");
    app.require_subcommand(1);
    app.footer(kFooter);
    app.add_option_function<std::string>(
           "--wait", [&waitSeconds](const std::string& text) { waitSeconds = WaitSeconds(text); },
           "Seconds (0 to 86400) to wait in all for items of one file that another process "
           "holds before calling them busy (default 5; 0 fails at once); before or after the "
           "command")
        ->type_name("SECONDS");
    // Lets the commands take --wait after their name too.
    app.fallthrough();
    std::vector<DefinedCommand> defined;
    for (const Command* command : kCommands) {
        CLI::App* made = app.add_subcommand(command->name, command->summary);
        defined.push_back({made, command->define(*made)});
    }
    return defined;
}

// CLI11 would say only that a command is required; a mistyped command is named instead.
void RefuseUnknownCommand(const CLI::App& app, const std::vector<std::string>& arguments) {
    if (arguments.empty() || arguments.front().empty() || arguments.front().front() == '-') return;
    for (const CLI::App* command : app.get_subcommands({}))
        if (command->check_name(arguments.front())) return;
    throw UsageError("unknown command '" + EscapedForDisplay(arguments.front()) + "'");
}

}  // namespace

int RunCommandLine(const std::vector<std::string>& arguments) {
    CLI::App app("Quarrow2: named items of metadata on files, stored as named data streams.",
                 "quarrow2");
    double waitSeconds = kDefaultBusyWait.count() / 1000.0;
    std::vector<DefinedCommand> commands = DefineCommands(app, waitSeconds);
    std::string layout;
    app.add_option("--layout", layout,
                   "Keep items in this layout on every file system: native (user.T) or samba "
                   "(Samba's streams_xattr); else as each folder's tree is marked")
        ->check(CLI::IsMember({"native", "samba"}));
    AddCompletionOption(app);
    try {
        RefuseUnknownCommand(app, arguments);
        std::vector<std::string> reversed(arguments.rbegin(), arguments.rend());
        app.parse(reversed);
    } catch (const CLI::ParseError& error) {
        if (error.get_exit_code() == static_cast<int>(CLI::ExitCodes::Success))
            return app.exit(error);
        // CLI11 quotes the arguments it refuses as they are; each is escaped, line ends too.
        ReportFailure(EscapedForDisplay(error.what()) + "\nRun 'quarrow2 --help' for usage.");
        return kUsageError;
    } catch (const UsageError& error) {
        ReportFailure(error.what());
        return kUsageError;
    }
    try {
        if (!layout.empty()) ChooseStorageLayout(layout);
        SetBusyWait(std::chrono::milliseconds(static_cast<long long>(waitSeconds * 1000)));
        for (const DefinedCommand& defined : commands) {
            if (!*defined.command) continue;
            if (defined.run.check) defined.run.check();
            Library library;
            return defined.run.run(library);
        }
        return kUsageError;  // CLI11 requires a command, so one was run
    } catch (const UsageError& error) {
        ReportFailure(error.what());
        return kUsageError;
    } catch (const Failure& failure) {
        ReportFailure(failure.what());
        return kFailure;
    }
}

int RunTool(int argc, char** argv) {
    int status = kFailure;
    try {
        PrepareStandardStreams();
        status = RunCommandLine(CommandLineArguments(argc, argv));
    } catch (const std::bad_alloc&) {
        ReportFailure("Not enough memory.");
        status = kFailure;
    } catch (const std::exception& error) {
        ReportFailure(std::string("Unexpected failure: ") + error.what());
        status = kFailure;
    }
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "quarrow2: Unable to write the output.\n");
        return kFailure;
    }
    return status;
}

}  // namespace quarrow2::tool
