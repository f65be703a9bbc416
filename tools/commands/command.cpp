#include "tools/commands/command.h"

#include <exception>
#include <iterator>

#include <CLI/CLI.hpp>

#include "tools/formats/failure.h"
#include "tools/client/ordered_work.h"
#include "tools/formats/text.h"

namespace quarrow2::tool {
namespace {

// Most jobs asked for: more threads than this only wait on one another and the disk.
constexpr unsigned kMostJobs = 256;

}  // namespace

// Paths and types are names as the file system keeps them,
// bytes that need not be UTF-8; they reach the library through NameUtf16.
void RequirePath(const std::string& path) {
    if (path.empty()) throw UsageError("A path must not be empty.");
}

void RequireUtf8(const std::string& value, const char* what) {
    if (FindInvalidUtf8(value))
        throw UsageError(std::string("The ") + what + " is not valid UTF-8.");
}

void AddJobsOption(CLI::App& command, unsigned& jobs) {
    command
        .add_option_function<std::string>(
            "-j,--jobs",
            [&jobs](const std::string& text) {
                unsigned long count = 0;
                size_t used = 0;
                try {
                    count = std::stoul(text, &used);
                } catch (const std::exception&) {
                    used = 0;
                }
                if (used == 0 || used != text.size() || text[0] == '-' || count < 1 ||
                    count > kMostJobs)
                    throw UsageError("-j takes a whole number of jobs from 1 to " +
                                     std::to_string(kMostJobs) + ", not '" +
                                     EscapedForDisplay(text) + "'.");
                jobs = static_cast<unsigned>(count);
            },
            "Read this many files at once (default: one per core); the output is the same "
            "for any N")
        ->type_name("N");
}

ValueForm ValueFormFlags::Form() const {
    return utf8    ? ValueForm::kUtf8
           : utf16 ? ValueForm::kUtf16
           : bytes ? ValueForm::kBytes
           : hex   ? ValueForm::kHex
                   : ValueForm::kText;
}

void AddValueFormFlags(CLI::App& command, ValueFormFlags& flags, const ValueFormHelp& help) {
    CLI::Option* options[] = {command.add_flag("--utf8", flags.utf8, help.utf8),
                              command.add_flag("--utf16", flags.utf16, help.utf16),
                              command.add_flag("--bytes", flags.bytes, help.bytes),
                              command.add_flag("--hex", flags.hex, help.hex)};
    for (size_t i = 0; i < std::size(options); ++i)
        for (size_t j = i + 1; j < std::size(options); ++j) options[i]->excludes(options[j]);
}

}  // namespace quarrow2::tool
