// Writing results and failures, and whether a person sees them (answered by the host).
#pragma once

#include <string>

#include <nlohmann/json.hpp>

namespace quarrow2::tool {

// JSON objects keep their keys in the order written: path first, then what was found.
using Json = nlohmann::ordered_json;

// "quarrow2: " and the message, on one line of standard error; control characters and
// bytes that are not UTF-8 are escaped (TerminalSafe), so no name can reach the terminal raw.
void ReportFailure(const std::string& message);

// One JSON document on standard output. Names that are not valid UTF-8 are written with
// U+FFFD in place of the bad bytes rather than failing the whole document.
void PrintJson(const Json& document);

// Text or bytes on standard output, exactly as given.
void PrintRaw(const std::string& bytes);

// Whether both standard output and standard error are terminals, so that progress shown on
// standard error is seen by a person and mixes with nothing a program reads.
bool AttendedTerminal();

// Whether standard output is a terminal.
bool OutputIsTerminal();

}  // namespace quarrow2::tool
