#include "tools/console.h"

#include <cstdio>

#include "tools/text.h"

namespace quarrow2::tool {

void report_failure(const std::string& message) {
    std::fflush(stdout);
    std::string line = "quarrow2: " + terminal_safe(message) + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
}

void print_json(const Json& document) {
    print_raw(document.dump(2, ' ', false, Json::error_handler_t::replace) + "\n");
}

void print_raw(const std::string& bytes) { std::fwrite(bytes.data(), 1, bytes.size(), stdout); }

}  // namespace quarrow2::tool
