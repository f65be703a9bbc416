// The file `dump --output F` writes: the document is written beside F and takes its place only
// once complete, so a dump that fails or is stopped leaves F as it was.
#pragma once

#include <memory>
#include <string>

namespace quarrow2::tool {

// F keeps what a shell's `>` keeps: an existing file's mode and owner (a new one gets 0666
// less the umask), and a symbolic link is written through to the file it names. The
// document replaces F by a rename; where that would lose F's owner or its other hard links
// (Linux), it is copied into F instead, once complete. A FIFO or device is written directly.
// Until Commit the partial file beside F is removed when the object goes, and on Linux also
// when SIGINT, SIGTERM or SIGHUP stops the tool, which then dies of that signal (a shell
// shows 128 + its number).
class OutputFile {
public:
    // Failure naming `path` when the file cannot be made.
    explicit OutputFile(const std::string& path);
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile();

    void Write(const std::string& text);
    // Puts the document in place; Failure when it cannot be written or put there.
    void Commit();

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace quarrow2::tool
