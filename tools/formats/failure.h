// How the tool's commands fail. A message is what follows "quarrow2: " on standard error;
// the exit status tells scripts a refused command line (2) from a failed operation (1).
#pragma once

#include <optional>
#include <stdexcept>
#include <string>

#include "quarrow2/quarrow2.h"

namespace quarrow2::tool {

enum ExitStatus : int {
    kSuccess = 0,
    kFailure = 1,
    kUsageError = 2,
};

// An operation failed: the library's rich error, or a check of the tool's own before it (a
// missing file, a volume without named streams). The message is the description followed
// by what it concerned: Unable to open metadata. ... (file "notes.txt", type "Author").
class Failure : public std::runtime_error {
public:
    explicit Failure(const std::string& description);
    Failure(const std::string& description, const std::string& path,
            const std::optional<std::string>& type = std::nullopt);

    const std::string& Description() const { return description_; }

private:
    std::string description_;
};

// The description of the rich error that a failed call on `object` (through interface
// `iid`) left for this thread, without its trailing line end; a plain account of the
// status when the object offers no rich error for that interface.
std::string TakeErrorDescription(IUnknown* object, REFIID iid, HRESULT status);

// The command line, or the input it names, cannot be used as given.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace quarrow2::tool
