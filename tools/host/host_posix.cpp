// Linux: the tool links libquarrow2.so, so the class object is one call away; the command
// line and file names are already UTF-8.
#include <unistd.h>

#include <cstdio>

#include "tools/formats/console.h"
#include "tools/host/host.h"

namespace quarrow2::tool {

struct Library::State {};

Library::Library() = default;
Library::~Library() = default;

HRESULT Library::GetClassObject(REFCLSID clsid, REFIID iid, void** object) const {
    return DllGetClassObject(clsid, iid, object);
}

// The library needs nothing of a thread before it is used there.
ThreadRuntime::ThreadRuntime() { static_cast<void>(initialised_); }
ThreadRuntime::~ThreadRuntime() = default;

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
    return std::vector<std::string>(argv + 1, argv + argc);
}

void PrepareStandardStreams() {}

bool AttendedTerminal() { return isatty(fileno(stdout)) == 1 && isatty(fileno(stderr)) == 1; }

bool OutputIsTerminal() { return isatty(fileno(stdout)) == 1; }

}  // namespace quarrow2::tool
