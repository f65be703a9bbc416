// libFuzzer target: stream-path resolution of any UTF-16 path. It only splits the path: the
// file is a prefix, and the rest the stream name NTFS would take (with an optional ":$DATA"),
// or nothing; and it only looks, so the same path always resolves the same way.
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "fuzz/fuzz_target.h"
#include "platform/posix/files/stream_path.h"
#include "quarrow2/names.h"

// Made afresh for each run: names with colons, a folder named like a stream, links, a FIFO.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    namespace fs = std::filesystem;
    const fs::path sandbox = fs::current_path() / "stream-path-sandbox";
    fs::remove_all(sandbox);
    fs::create_directories(sandbox / "dir" / "sub");
    fs::create_directories(sandbox / "doc:x");
    for (const char* name :
         {"doc", "a:b", "a:b:c", "dir/doc", "doc:x/victim", "dir/sub/f:$DATA", "doc:Author"})
        std::ofstream(sandbox / name) << "contents";
    fs::create_symlink("doc", sandbox / "link");
    fs::create_symlink("missing", sandbox / "dangling");
    mkfifo((sandbox / "fifo").c_str(), 0666);
    fs::current_path(sandbox);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace quarrow2::platform;
    quarrow2::WString path;
    for (size_t i = 0; i + 1 < size && (data[i] || data[i + 1]); i += 2)
        path.push_back(static_cast<WCHAR>(data[i] | (data[i + 1] << 8)));

    StreamPath out, again;
    const DWORD result = ResolveStreamPath(path.c_str(), out);
    std::string whole;
    const bool convertible = quarrow2::NameBytesFromUtf16(path.data(), path.size(), whole);
    if (path.empty()) Require(result == ERROR_PATH_NOT_FOUND);
    if (!convertible) Require(result == ERROR_INVALID_NAME);
    if (result == 0) {
        Require(convertible && !out.file.empty() &&
                whole.compare(0, out.file.size(), out.file) == 0);
        const std::string rest = whole.substr(out.file.size());
        if (out.named()) {
            const std::string name = out.attribute.substr(5);
            Require(out.attribute.compare(0, 5, "user.") == 0 && !name.empty() &&
                    name.size() <= 250);
            Require(name != "." && name != ".." &&
                    quarrow2::NameUtf16FromBytes(name.data(), name.size()).size() <= 255 &&
                    name.find_first_of(std::string(":/\\\0", 4)) == std::string::npos);
            const std::string after = rest.substr(std::min(rest.size(), name.size() + 1));
            Require(rest.compare(0, name.size() + 1, ":" + name) == 0 &&
                    (after.empty() || strcasecmp(after.c_str(), ":$DATA") == 0));
        } else {
            Require(rest.empty() || strcasecmp(rest.c_str(), "::$DATA") == 0);
            // A colon inside the last component separates a stream; never the whole name.
            const size_t start = out.file.rfind('/') + 1;  // 0 when there is no slash
            Require(!rest.empty() || out.file.find(':', start + 1) == std::string::npos);
        }
        if (out.file_fd.valid()) Require(fcntl(out.file_fd.get(), F_GETFD) != -1);
    }
    Require(ResolveStreamPath(path.c_str(), again) == result);
    if (result == 0) Require(again.file == out.file && again.attribute == out.attribute);
    return 0;
}
