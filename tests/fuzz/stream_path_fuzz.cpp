// libFuzzer target: stream-path resolution on arbitrary UTF-16 paths, in a folder of its
// own that holds files and folders whose names look like stream paths. Resolution only
// ever splits the path it is given: the carrying file is a prefix of the path, and what
// follows it is the stream name NTFS would take (with an optional ":$DATA"), or nothing.
// It only looks (O_PATH opens and stat), so the same path always resolves the same way.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/posix/files/stream_path.h"
#include "platform/posix/system/utf8.h"

namespace {

using quarrow2::WString;
using quarrow2::posix::ResolveStreamPath;
using quarrow2::posix::StreamPath;

void Require(bool condition) {
    if (!condition) std::abort();
}

bool EqualsIgnoringCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
        if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
        if (x != y) return false;
    }
    return true;
}

void CheckStreamName(const std::string& name) {
    Require(!name.empty() && name.size() <= 250);
    Require(name != "." && name != "..");
    Require(name.find_first_of(std::string(":/\\\0", 4)) == std::string::npos);
    Require(quarrow2::posix::Utf16UnitCount(name) <= 255);
}

}  // namespace

// A sandbox in the working folder: files with colons in their names, a folder named like a
// stream, links, a FIFO; made afresh for each run.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    namespace fs = std::filesystem;
    const fs::path sandbox = fs::current_path() / "stream-path-sandbox";
    fs::remove_all(sandbox);
    fs::create_directories(sandbox / "dir" / "sub");
    fs::create_directories(sandbox / "doc:x");
    for (const char* name : {"doc", "a:b", "a:b:c", "dir/doc", "doc:x/victim", "dir/sub/f:$DATA"})
        std::ofstream(sandbox / name) << "contents";
    fs::create_symlink("doc", sandbox / "link");
    fs::create_symlink("missing", sandbox / "dangling");
    mkfifo((sandbox / "fifo").c_str(), 0666);
    fs::current_path(sandbox);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    WString path;
    for (size_t i = 0; i + 1 < size; i += 2) {
        const WCHAR unit = static_cast<WCHAR>(data[i] | (data[i + 1] << 8));
        if (unit == 0) break;
        path.push_back(unit);
    }

    StreamPath out;
    const DWORD result = ResolveStreamPath(path.c_str(), out);
    std::string whole;
    const bool convertible = quarrow2::posix::Utf8FromUtf16(path.data(), path.size(), whole);
    if (path.empty()) Require(result == ERROR_PATH_NOT_FOUND);
    if (!convertible) Require(result == ERROR_INVALID_NAME);

    if (result == 0) {
        Require(convertible && !out.file.empty());
        Require(whole.compare(0, out.file.size(), out.file) == 0);
        const std::string rest = whole.substr(out.file.size());
        if (out.named()) {
            Require(out.attribute.compare(0, 5, "user.") == 0);
            const std::string name = out.attribute.substr(5);
            CheckStreamName(name);
            Require(rest.compare(0, name.size() + 1, ":" + name) == 0);
            const std::string after = rest.substr(name.size() + 1);
            Require(after.empty() || EqualsIgnoringCase(after, ":$DATA"));
        } else {
            Require(rest.empty() || EqualsIgnoringCase(rest, "::$DATA"));
        }
        if (out.file_fd.valid()) {
            struct stat st;
            Require(fstat(out.file_fd.get(), &st) == 0);
        }
    }

    StreamPath again;
    Require(ResolveStreamPath(path.c_str(), again) == result);
    if (result == 0) Require(again.file == out.file && again.attribute == out.attribute);
    return 0;
}
