// The volume root that the named-streams probe asks about, derived from a path alone.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>

#include "store/volume_probe.h"
#include "support/test_support.h"

namespace quarrow2 {
namespace {

using test::Narrow;
using test::W;

TEST(VolumeRoot, DrivesUncPathsRelativePathsZeroUnitsAndLongPaths) {
    const WString deep = OLESTR("\\\\s\\") + WString(300, OLESTR('y')) + OLESTR("\\z");
    const std::pair<WString, WString> cases[] = {
        {W("C:\\data\\report.doc"), W("C:\\")},
        {W("C:"), W("C:")},
        {W("C:report.doc"), W("C:r")},
        {W("\\\\server\\share\\dir\\file.txt"), W("\\\\server\\share\\")},
        {W("\\\\server\\share"), W("\\\\server\\share\\")},
        {W("report.doc"), W("report.doc\\")},
        {W(""), W("\\")},
        {W("C"), W("C\\")},
        // Counting stops at the fourth backslash, whatever kind of path it is.
        {W("a\\b\\c\\d\\e\\f"), W("a\\b\\c\\d\\")},
        // A POSIX path carries no backslash: the whole path, for the platform to resolve.
        {W("/tmp/dir/file.txt"), W("/tmp/dir/file.txt\\")},
        // "C", zero, ":\": the path "C", not a drive, however the units after it look.
        {WString{'C', 0, ':', '\\', 'x'}, W("C\\")},
        // "C:" then a zero: the two units alone, and nothing read past the zero.
        {WString{'C', ':', 0, 'X'}, W("C:")},
        // Long paths stop at 244 units, also where the fourth backslash comes later.
        {WString(1000, OLESTR('x')), WString(244, OLESTR('x')) + OLESTR("\\")},
        {deep, deep.substr(0, 244) + OLESTR("\\")}};
    for (const auto& c : cases) {
        struct {
            WCHAR root[kVolumeRootCapacity];
            WCHAR guard[8];
        } buffer;
        std::fill(std::begin(buffer.root), std::end(buffer.root), 0x5A5A);
        std::fill(std::begin(buffer.guard), std::end(buffer.guard), 0x5A5A);
        GetVolumeRoot(c.first.c_str(), buffer.root);
        EXPECT_EQ(Narrow(WString(buffer.root)), Narrow(c.second)) << Narrow(c.first);
        for (size_t i = 246; i < kVolumeRootCapacity; ++i) EXPECT_EQ(buffer.root[i], 0x5A5A) << i;
        for (WCHAR unit : buffer.guard) EXPECT_EQ(unit, 0x5A5A);
    }
    WCHAR root[kVolumeRootCapacity];
    GetVolumeRoot(nullptr, root);
    EXPECT_EQ(Narrow(WString(root)), "\\") << "an absent path";
}

}  // namespace
}  // namespace quarrow2
