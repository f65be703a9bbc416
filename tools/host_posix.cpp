// Linux: the tool links libquarrow2.so, so the class object is one call away; the command
// line and file names are already UTF-8.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "host.h"

namespace quarrow2::tool {

struct Library::State {};

Library::Library() = default;
Library::~Library() = default;

HRESULT Library::get_class_object(REFCLSID clsid, REFIID iid, void** object) const {
    return DllGetClassObject(clsid, iid, object);
}

std::vector<std::string> command_line_arguments(int argc, char** argv) {
    return std::vector<std::string>(argv + 1, argv + argc);
}

void prepare_standard_streams() {}

bool attended_terminal() { return isatty(fileno(stdout)) == 1 && isatty(fileno(stderr)) == 1; }

bool output_is_terminal() { return isatty(fileno(stdout)) == 1; }

void choose_storage_layout(const std::string& layout) {
    ::setenv("QUARROW2_LAYOUT", layout.c_str(), 1);
}

}  // namespace quarrow2::tool
