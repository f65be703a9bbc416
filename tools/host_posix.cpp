// Linux: the tool links libquarrow2.so, so the class object is one call away; the command
// line and file names are already UTF-8.
#include <linux/limits.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "tools/host.h"

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

size_t LargestValueBytes() { return XATTR_SIZE_MAX; }

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
    return std::vector<std::string>(argv + 1, argv + argc);
}

void PrepareStandardStreams() {}

bool AttendedTerminal() { return isatty(fileno(stdout)) == 1 && isatty(fileno(stderr)) == 1; }

bool OutputIsTerminal() { return isatty(fileno(stdout)) == 1; }

void ChooseStorageLayout(const std::string& layout) {
    ::setenv("QUARROW2_LAYOUT", layout.c_str(), 1);
}

bool CarriesBothLayouts(const std::string& path) {
    // One call for the usual few names; their size is asked only when they do not fit.
    std::string names(1024, '\0');
    ssize_t size = ::listxattr(path.c_str(), names.data(), names.size());
    if (size < 0 && errno == ERANGE) {
        size = ::listxattr(path.c_str(), nullptr, 0);
        names.assign(static_cast<size_t>(std::max<ssize_t>(size, 0)), '\0');
        if (size > 0) size = ::listxattr(path.c_str(), names.data(), names.size());
    }
    bool native = false, samba = false;
    for (size_t at = 0; size > 0 && at < static_cast<size_t>(size);) {
        const std::string name(names.c_str() + at);
        at += name.size() + 1;
        const bool sambaOwn = name.rfind("user.DosStream.", 0) == 0 || name == "user.DOSATTRIB";
        samba = samba || (name.size() > 21 && name.rfind("user.DosStream.", 0) == 0 &&
                          name.compare(name.size() - 6, 6, ":$DATA") == 0);
        native =
            native || (!sambaOwn && name.rfind("user.", 0) == 0 && name != "user.quarrow2.layout");
    }
    return native && samba;
}

}  // namespace quarrow2::tool
