#include "bench/support/item_fixture.h"

#include <fcntl.h>

#include <cerrno>
#include <cstring>

#include "bench/support/scratch_files.h"

namespace quarrow2::bench {

bool ItemFixture::Make(const Volume& volume, const std::string& name, size_t valueBytes,
                       bool openItem, std::string& why) {
    path = volume.folder + "/" + name;
    value = PatternBytes(valueBytes);
    const std::string lockPath = path + ".lock";
    if (!MakeFile(path, 0, why) || !AddItem(path, type, value, why) || !MakeFile(lockPath, 0, why))
        return false;
    fd.reset(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    lockFd.reset(::open(lockPath.c_str(), O_RDWR | O_CLOEXEC));
    if (!fd.valid() || !lockFd.valid()) {
        why = "open: " + std::string(std::strerror(errno));
        return false;
    }
    file = BoundFile(path, why);
    if (!file) return false;
    wideType = Utf16(type);
    if (!openItem) return true;
    const HRESULT hr = file->Open(wideType.get(), item.out());
    if (FAILED(hr)) {
        why = Failure("Open", hr);
        return false;
    }
    return true;
}

}  // namespace quarrow2::bench
