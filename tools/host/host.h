// The little that differs between the systems the tool runs on: how it reaches the
// library's class object, how it reads its command line, and what its standard streams
// are. host_posix.cpp links libquarrow2.so; host_win.cpp loads Quarrow2.dll from the tool's
// own folder, unregistered, as any client may.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "quarrow2/quarrow2.h"

namespace quarrow2::tool {

// The library, ready for use, for as long as this object lives. Every interface obtained
// through it must be released before it goes.
class Library {
public:
    // Throws Failure when the library cannot be loaded.
    Library();
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;
    ~Library();

    // The library's DllGetClassObject.
    HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** object) const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

// The library's runtime readied for the calling thread, for as long as this object lives: a
// worker thread holds one while it uses objects of its own.
class ThreadRuntime {
public:
    ThreadRuntime();
    ThreadRuntime(const ThreadRuntime&) = delete;
    ThreadRuntime& operator=(const ThreadRuntime&) = delete;
    ~ThreadRuntime();

private:
    bool initialised_ = false;
};

// The largest value, in bytes, that the tool stores on one item: on Linux 64 KiB, the most
// the kernel takes for one extended attribute; on Windows 64 MiB, the tool's own bound (a
// named stream takes far more, but a value is held whole in memory a few times over on its
// way), well inside the interface's signed 32-bit sizes.
size_t LargestValueBytes();

// The arguments after the program name, in UTF-8 (on Windows read as UTF-16 from the
// system, whatever the console's code page).
std::vector<std::string> CommandLineArguments(int argc, char** argv);

// Readies standard output and error for UTF-8 text and raw bytes alike.
void PrepareStandardStreams();

// Whether both standard output and standard error are terminals, so that progress shown on
// standard error is seen by a person and mixes with nothing a program reads.
bool AttendedTerminal();

// Whether standard output is a terminal.
bool OutputIsTerminal();

// Has the library keep items in the layout named ("native" or "samba") on every file system,
// as its QUARROW2_LAYOUT variable does; called before the library is first used. Throws
// UsageError where the system keeps streams one way only (Windows).
void ChooseStorageLayout(const std::string& layout);

// Whether the file carries items in both of the library's Linux layouts (user.T and Samba's
// user.DosStream.T:$DATA), of which a listing shows one; never on Windows.
bool CarriesBothLayouts(const std::string& path);

// The word of the layout marker (user.quarrow2.layout) on the folder itself, as stored;
// empty when it carries none. Failure when it cannot be read. UsageError on Windows, as for
// every layout call below.
std::string LayoutMarkerOf(const std::string& folder);

// The nearest marker at or above `folder` on its file system, with the folder that holds it
// in `holder`; empty when there is none. What the library follows, seen by path.
std::string NearestLayoutMarker(const std::string& folder, std::string& holder);

// Sets the folder's marker to `layout`, or removes it when `layout` is empty (nothing to
// remove is no failure). Failure with the system's reason.
void MarkLayout(const std::string& folder, const std::string& layout);

// Runs `program` (looked up in PATH) with `arguments`, its standard output into `output`
// and its standard error into `errors`; its exit status, or -1 when it is not installed.
int RunProgram(const std::string& program, const std::vector<std::string>& arguments,
               std::string& output, std::string& errors);

}  // namespace quarrow2::tool
