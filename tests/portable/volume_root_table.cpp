// The volume root that the named-streams probe asks about, derived from a path alone.
#include <gtest/gtest.h>

#include "store/volume_probe.h"
#include "support/test_support.h"

namespace quarrow2 {
namespace {

using test::Narrow;
using test::W;

std::string RootOf(const WString& path) {
    WCHAR root[kVolumeRootCapacity];
    GetVolumeRoot(path.c_str(), root);
    return Narrow(WString(root));
}

TEST(VolumeRoot, DrivesUncPathsAndRelativePaths) {
    EXPECT_EQ(RootOf(W("C:\\data\\report.doc")), "C:\\");
    EXPECT_EQ(RootOf(W("C:")), "C:");
    EXPECT_EQ(RootOf(W("C:report.doc")), "C:r");
    EXPECT_EQ(RootOf(W("\\\\server\\share\\dir\\file.txt")), "\\\\server\\share\\");
    EXPECT_EQ(RootOf(W("\\\\server\\share")), "\\\\server\\share\\");
    EXPECT_EQ(RootOf(W("report.doc")), "report.doc\\");
    EXPECT_EQ(RootOf(W("")), "\\");
    EXPECT_EQ(RootOf(W("C")), "C\\");
    // Counting stops at the fourth backslash, whatever kind of path it is.
    EXPECT_EQ(RootOf(W("a\\b\\c\\d\\e\\f")), "a\\b\\c\\d\\");
    // A POSIX path carries no backslash: the whole path, for the platform to resolve.
    EXPECT_EQ(RootOf(W("/tmp/dir/file.txt")), "/tmp/dir/file.txt\\");
}

TEST(VolumeRoot, AbsentPathAndZeroUnitsReadAsTheirFirstPart) {
    WCHAR root[kVolumeRootCapacity];
    GetVolumeRoot(nullptr, root);
    EXPECT_EQ(Narrow(WString(root)), "\\");

    // "C", zero, ":\" is the path "C": not a drive, however the units after it look.
    const WCHAR cutDrive[] = {'C', 0, ':', '\\', 'x', 0};
    GetVolumeRoot(cutDrive, root);
    EXPECT_EQ(Narrow(WString(root)), "C\\");

    // "C:" then a zero: the two units alone, and nothing read past the zero.
    const WCHAR bareDrive[] = {'C', ':', 0, 'X', 0};
    GetVolumeRoot(bareDrive, root);
    EXPECT_EQ(Narrow(WString(root)), "C:");
}

TEST(VolumeRoot, LongPathsStopAt244UnitsAndNeverOverrunTheBuffer) {
    struct {
        WCHAR root[kVolumeRootCapacity];
        WCHAR guard[8];
    } buffer;
    for (WCHAR& unit : buffer.root) unit = 0x5A5A;
    for (WCHAR& unit : buffer.guard) unit = 0x5A5A;

    const WString longPath(1000, OLESTR('x'));
    GetVolumeRoot(longPath.c_str(), buffer.root);
    EXPECT_EQ(WString(buffer.root), WString(244, OLESTR('x')) + OLESTR("\\"));
    for (size_t i = 246; i < kVolumeRootCapacity; ++i) EXPECT_EQ(buffer.root[i], 0x5A5A) << i;
    for (WCHAR unit : buffer.guard) EXPECT_EQ(unit, 0x5A5A);

    // Three backslashes early, the fourth past the limit: the limit wins.
    const WString deep = OLESTR("\\\\s\\") + WString(300, OLESTR('y')) + OLESTR("\\z");
    GetVolumeRoot(deep.c_str(), buffer.root);
    EXPECT_EQ(WString(buffer.root), deep.substr(0, 244) + OLESTR("\\"));
}

}  // namespace
}  // namespace quarrow2
