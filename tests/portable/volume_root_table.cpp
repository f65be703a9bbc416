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

TEST(VolumeRoot, DrivesUncPathsRelativePathsAndZeroUnits) {
    const std::pair<WString, const char*> cases[] = {
        {W("C:\\data\\report.doc"), "C:\\"},
        {W("C:"), "C:"},
        {W("C:report.doc"), "C:r"},
        {W("\\\\server\\share\\dir\\file.txt"), "\\\\server\\share\\"},
        {W("\\\\server\\share"), "\\\\server\\share\\"},
        {W("report.doc"), "report.doc\\"},
        {W(""), "\\"},
        {W("C"), "C\\"},
        // Counting stops at the fourth backslash, whatever kind of path it is.
        {W("a\\b\\c\\d\\e\\f"), "a\\b\\c\\d\\"},
        // A POSIX path carries no backslash: the whole path, for the platform to resolve.
        {W("/tmp/dir/file.txt"), "/tmp/dir/file.txt\\"},
        // "C", zero, ":\": the path "C", not a drive, however the units after it look.
        {WString{'C', 0, ':', '\\', 'x'}, "C\\"},
        // "C:" then a zero: the two units alone, and nothing read past the zero.
        {WString{'C', ':', 0, 'X'}, "C:"}};
    for (const auto& c : cases) EXPECT_EQ(RootOf(c.first), c.second) << Narrow(c.first);
    WCHAR root[kVolumeRootCapacity];
    GetVolumeRoot(nullptr, root);
    EXPECT_EQ(Narrow(WString(root)), "\\") << "an absent path";
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
