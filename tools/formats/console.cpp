#include "tools/formats/console.h"

#include <cstdio>

#include "tools/formats/text.h"

namespace quarrow2::tool {

void ReportFailure(const std::string& message) {
    std::fflush(stdout);
    std::string line = "quarrow2: " + TerminalSafe(message) + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
}

void PrintJson(const Json& document) {
    PrintRaw(document.dump(2, ' ', false, Json::error_handler_t::replace) + "\n");
}

void PrintRaw(const std::string& bytes) { std::fwrite(bytes.data(), 1, bytes.size(), stdout); }

}  // namespace quarrow2::tool
