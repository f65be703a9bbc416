// Windows: the tool's own bound on a value; NTFS keeps named streams itself, so the Linux
// layouts and Samba's configuration are refused.
#include <string>
#include <vector>

#include "tools/client/storage.h"
#include "tools/formats/failure.h"

namespace quarrow2::tool {

size_t LargestValueBytes() { return size_t{64} << 20; }

bool CarriesBothLayouts(const std::string&) { return false; }

bool MayCarryBothLayouts(bool, const std::vector<WString>&, const std::function<bool()>&) {
    return false;
}

namespace {

[[noreturn]] void RefuseLayouts() {
    throw UsageError("Layouts apply to Linux file systems; NTFS keeps named streams itself.");
}

}  // namespace

void ChooseStorageLayout(const std::string&) { RefuseLayouts(); }

std::string LayoutMarkerOf(const std::string&) { RefuseLayouts(); }

std::string NearestLayoutMarker(const std::string&, std::string&) { RefuseLayouts(); }

void MarkLayout(const std::string&, const std::string&) { RefuseLayouts(); }

int RunProgram(const std::string&, const std::vector<std::string>&, std::string&, std::string&) {
    throw UsageError("Samba's configuration is read on Linux only.");
}

}  // namespace quarrow2::tool
