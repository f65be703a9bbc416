// The little that differs between the systems the tool runs on: how it reaches the
// library's class object, how it reads its command line, and what its standard streams
// are (console.h's terminal checks are answered here too). host_posix.cpp links
// libquarrow2.so; host_win.cpp loads Quarrow2.dll from the tool's own folder, unregistered,
// as any client may. Commands reach it only through the client.
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

// The arguments after the program name, in UTF-8 (on Windows read as UTF-16 from the
// system, whatever the console's code page).
std::vector<std::string> CommandLineArguments(int argc, char** argv);

// Readies standard output and error for UTF-8 text and raw bytes alike.
void PrepareStandardStreams();

}  // namespace quarrow2::tool
