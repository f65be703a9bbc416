// The stream walk over backup streams composed byte by byte: names of every legal length
// arrive whole, cut and malformed records end the walk cleanly, contents are skipped by
// their full 64-bit size and never read, and sizes add up modulo 2^32. Then Types and
// Length of real files, on whatever the platform stores.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "discovery/stream_walk.h"
#include "file_properties_fixture.h"
#include "server/module_lock.h"
#include "stream_walk_composed.h"

namespace quarrow2::test {
namespace {

using discovery::WalkBackupStream;
using Skips = std::vector<ULONGLONG>;

constexpr ULONGLONG kGiB = 1ull << 30;
constexpr DWORD kLongestRawNameBytes = discovery::kMaxRawStreamNameUnits * sizeof(WCHAR);

struct Recorder {
    std::string seen;  // "id name size" of each visit, joined by "|"
    size_t visits = 0;
    size_t stopAfter = 0;
};

LONG Record(const WIN32_STREAM_ID& header, const WCHAR* name, void* context) {
    auto& r = *static_cast<Recorder*>(context);
    r.seen += (r.visits ? "|" : "") + std::to_string(header.dwStreamId) + " " +
              Narrow(WString(name)) + " " + std::to_string(header.Size.QuadPart);
    return ++r.visits == r.stopAfter ? 1 : 0;
}

// Every read asked for a header, or for a name no longer than the walk's buffer, and no
// content byte was read.
void ExpectReadsWithinBuffers(const ComposedBackup& backup) {
    for (size_t i = 0; i < backup.requested.size(); ++i)
        EXPECT_LE(backup.requested[i], kLongestRawNameBytes) << "read " << i;
    EXPECT_EQ(backup.contentBytesRead, 0u) << "a content byte was read";
}

// What the walk visited, the visitor stopping it after `stopAfter` visits if not 0.
std::string Walk(ComposedBackup& backup, size_t stopAfter = 0) {
    Recorder recorder;
    recorder.stopAfter = stopAfter;
    WalkBackupStream(backup, Record, &recorder);
    ExpectReadsWithinBuffers(backup);
    return recorder.seen;
}

std::vector<WString> TypeNames(ComposedBackup& backup) {
    discovery::TypeNameList list;
    discovery::TypeNameCollector collector{list};
    WalkBackupStream(backup, discovery::TypeNameVisitor, &collector);
    EXPECT_EQ(collector.status, S_OK);
    ExpectReadsWithinBuffers(backup);
    std::vector<WString> names;
    for (const UniqueBstr& name : list) names.emplace_back(name.get(), name.length());
    return names;
}

// Raw names as the platform reports named data streams.
WString Raw(const WString& typeName) { return W(":") + typeName + W(":$DATA"); }

// A type name of n units that is not one letter repeated, so a shifted copy would show.
WString NameOfUnits(size_t n) {
    WString name;
    for (size_t i = 0; i < n; ++i) name.push_back(static_cast<WCHAR>(OLESTR('a') + i % 26));
    return name;
}

TEST(StreamWalkComposed, VisitsEveryStreamInOrderAndSkipsEveryContentUnreadUntilAVisitorStops) {
    for (size_t stopAfter : {0, 2}) {
        ComposedBackup backup;
        backup.Stream(BACKUP_DATA, W(""), 1024 * 1024)
            .Stream(BACKUP_ALTERNATE_DATA, Raw(W("Author")), 10)
            .Stream(BACKUP_SECURITY_DATA, W(""), 64)
            .Stream(BACKUP_ALTERNATE_DATA, Raw(W("Keywords")), 6)
            .Stream(BACKUP_ALTERNATE_DATA, Raw(W("Author")), 0);  // reported twice: kept twice
        if (stopAfter) {
            EXPECT_EQ(Walk(backup, stopAfter), "1  1048576|4 :Author:$DATA 10");
            EXPECT_EQ(backup.skips, Skips{1024 * 1024}) << "no skip after the stop";
            continue;
        }
        EXPECT_EQ(Walk(backup),
                  "1  1048576|4 :Author:$DATA 10|3  64|4 :Keywords:$DATA 6|4 :Author:$DATA 0");
        EXPECT_EQ(backup.skips, (Skips{1024 * 1024, 10, 64, 6, 0}));
        // Headers are read 20 bytes at a time; the last read finds the end.
        EXPECT_EQ(backup.requested.front(), 20u);
        EXPECT_EQ(backup.requested.back(), 20u);
    }
}

TEST(StreamWalkComposed, TypeNamesDropOneColonCutAtTheFirstDataSuffixAndArriveWhole) {
    // 253 to 255 units are the names whose raw form (260 to 262 units) a 260-unit buffer
    // would cut; a pair of surrogates at the very end must survive too.
    std::vector<std::pair<WString, WString>> names = {
        {W("::double:$DATA"), W(":double")},   {W(":lower:$data:$DATA"), W("lower:$data")},
        {W(":twice:$DATA:$DATA"), W("twice")}, {W(":nosuffix"), W("nosuffix")},
        {W("bare:$DATA"), W("bare")},          {W(""), W("")}};
    for (const WString& type :
         {W("Größe \xF0\x9F\x93\x84"), NameOfUnits(1), NameOfUnits(252), NameOfUnits(253),
          NameOfUnits(254), NameOfUnits(255), NameOfUnits(253) + W("\xF0\x9F\x93\x84"), W("after")})
        names.emplace_back(Raw(type), type);
    ComposedBackup backup;
    backup.Stream(BACKUP_DATA, W(":main:$DATA"), 5);  // not named data streams: ignored
    backup.Stream(BACKUP_SECURITY_DATA, W(":sec:$DATA"), 1);
    std::vector<WString> expected;
    for (const auto& name : names) {
        backup.Stream(BACKUP_ALTERNATE_DATA, name.first, 3);
        expected.push_back(name.second);
    }
    EXPECT_EQ(TypeNames(backup), expected);
    EXPECT_EQ(backup.skips.size(), names.size() + 2);

    // The longest raw name fills the buffer exactly and still gets its terminator.
    ComposedBackup longest;
    longest.Stream(BACKUP_ALTERNATE_DATA, Raw(NameOfUnits(255)), 1);
    EXPECT_EQ(Walk(longest), "4 " + Narrow(Raw(NameOfUnits(255))) + " 1");
}

TEST(StreamWalkComposed, ARawNameLongerThanAnyFileSystemMakesEndsTheWalk) {
    for (DWORD nameBytes : {kLongestRawNameBytes + 1, kLongestRawNameBytes + 2, DWORD(4096),
                            DWORD(0x7FFFFFFF), DWORD(0xFFFFFFFF)}) {
        ComposedBackup backup;
        backup.Stream(BACKUP_ALTERNATE_DATA, Raw(W("before")), 2);
        backup.Header(BACKUP_ALTERNATE_DATA, nameBytes, 7);
        WString filler = NameOfUnits(600);
        backup.Bytes(filler.data(), filler.size() * sizeof(WCHAR));
        backup.Stream(BACKUP_ALTERNATE_DATA, Raw(W("after")), 3);
        EXPECT_EQ(Walk(backup), "4 :before:$DATA 2") << "name of " << nameBytes << " bytes";
        EXPECT_EQ(backup.requested.size(), 3u) << "no part of the long name was read";
    }
}

TEST(StreamWalkComposed, CutAndMalformedRecordsEndTheWalkKeepingWhatCameBefore) {
    const WString author = Raw(W("Author"));
    const DWORD authorBytes = static_cast<DWORD>(author.size() * sizeof(WCHAR));
    const std::string before = "1  100|4 :Author:$DATA 10";
    const auto later = [](ComposedBackup& b) -> ComposedBackup& {
        return b.Stream(BACKUP_ALTERNATE_DATA, Raw(W("Later")), 1);
    };
    const struct {
        const char* what;
        std::function<void(ComposedBackup&)> then;
        std::string seen;
        size_t reads;  // how many reads the walk made, where that matters
    } cases[] = {
        {"the backup stream ends after a few bytes of a header",
         [](ComposedBackup& b) { b.Bytes("\x04\x00\x00\x00\x00\x00", 6); }, before, 0},
        {"the backup stream ends after a header",
         [&](ComposedBackup& b) { b.Header(BACKUP_ALTERNATE_DATA, authorBytes, 10); }, before, 0},
        {"the name is shorter than its header says",
         [&](ComposedBackup& b) {
             b.Header(BACKUP_ALTERNATE_DATA, authorBytes, 10).Bytes(author.data(), authorBytes - 4);
         },
         before, 0},
        {"the backup stream ends inside a content",
         [&](ComposedBackup& b) {
             b.Header(BACKUP_ALTERNATE_DATA, authorBytes, 1000).Bytes(author.data(), authorBytes);
             b.Content(10);
         },
         before + "|4 :Author:$DATA 1000", 0},
        {"a header read fails", [&](ComposedBackup& b) { later(b).FailRead(4); }, before, 0},
        {"a name read fails", [&](ComposedBackup& b) { later(b).FailRead(5); }, before, 0},
        {"the read context is lost while reading a header",
         [&](ComposedBackup& b) { later(b).LoseContextAtRead(4); }, before, 0},
        // A name read that loses the context, and a skip that does, end the walk before the
        // next visit and the next read.
        {"the read context is lost while reading a name",
         [&](ComposedBackup& b) { later(b).LoseContextAtRead(3); }, "1  100", 4},
        {"the read context is lost while skipping",
         [&](ComposedBackup& b) { later(b).LoseContextAtSkip(1); }, before, 4},
        // An odd name length: the half unit at its end is dropped, nothing beyond is touched.
        {"an odd name length",
         [&](ComposedBackup& b) { b.Header(BACKUP_ALTERNATE_DATA, 7, 0).Bytes(author.data(), 7); },
         before + "|4 :Au 0", 0},
    };
    for (const auto& c : cases) {
        ComposedBackup backup;
        backup.Stream(BACKUP_DATA, W(""), 100).Stream(BACKUP_ALTERNATE_DATA, author, 10);
        c.then(backup);
        EXPECT_EQ(Walk(backup), c.seen) << c.what;
        if (c.reads) {
            EXPECT_EQ(backup.requested.size(), c.reads) << c.what;
        }
    }
}

TEST(StreamWalkComposed, SizesAddUpModulo2To32AndSkipsUseTheFull64Bits) {
    // Only named data streams count; a stream of 4 GiB and more adds its size modulo 2^32
    // and the walk still reaches the stream after it; a total above 2147483647 reads
    // negative, one of 2^32 wraps to 0.
    const DWORD kMain = BACKUP_DATA, kNamed = BACKUP_ALTERNATE_DATA,
                kSecurity = BACKUP_SECURITY_DATA;
    const struct {
        LONG total;
        std::vector<std::pair<DWORD, ULONGLONG>> streams;
    } cases[] = {{16, {{kMain, 8 * kGiB + 12345}, {kNamed, 10}, {kSecurity, 99}, {kNamed, 6}}},
                 {12, {{kNamed, 4 * kGiB + 5}, {kNamed, 4 * kGiB}, {kNamed, 7}}},
                 {std::numeric_limits<LONG>::min(), {{kNamed, 0x7FFFFFFFull}, {kNamed, 1}}},
                 {0, {{kNamed, 0xFFFFFFFFull}, {kNamed, 1}}},
                 {0, {}}};
    for (const auto& c : cases) {
        ComposedBackup backup;
        Skips sizes;
        for (const auto& s : c.streams) {
            backup.Stream(s.first, s.first == BACKUP_ALTERNATE_DATA ? Raw(W("N")) : W(""),
                          s.second);
            sizes.push_back(s.second);
        }
        LONG total = 0;
        WalkBackupStream(backup, discovery::SizeVisitor, &total);
        EXPECT_EQ(total, c.total);
        EXPECT_EQ(backup.skips, sizes);
        ExpectReadsWithinBuffers(backup);
    }
}

TEST(StreamWalkFile, NothingToWalkGivesNothingAndItemsThePlatformMadeAreFound) {
    const LONG start = server::ModuleLockCount();
    TempDir dir;
    MakeFile(dir / "report.doc", "contents that are never read");
    const WString file = PathW(dir / "report.doc");
    for (const WString& path : {file, PathW(dir / "missing.txt"), PathW(dir.path())}) {
        EXPECT_EQ(TypesOf(path), std::vector<std::string>{}) << Narrow(path);
        EXPECT_EQ(LengthOf(path), 0) << Narrow(path);
    }
    EXPECT_EQ(discovery::FileTypes(file.c_str(), VARIANT_TRUE, nullptr), E_POINTER);
    EXPECT_EQ(discovery::FileLength(file.c_str(), nullptr), E_POINTER);
    EXPECT_EQ(server::ModuleLockCount(), start) << "every collection made here was freed";

    UniqueHandle h(CreateFileW((file + W(":Author")).c_str(), GENERIC_READ | GENERIC_WRITE,
                               FILE_SHARE_READ, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                               nullptr));
    DWORD written = 0;
    ASSERT_TRUE(h.valid() && WriteFile(h.get(), "Jane!", 5, &written, nullptr)) << GetLastError();
    h.reset();
    // Where "report.doc:Author" became a file of its own, the platform keeps no named
    // streams and reads none back (Wine); otherwise the walk finds the item, unless told
    // the volume has no streams.
    const bool streams = !std::filesystem::exists(dir / "report.doc:Author");
    EXPECT_EQ(TypesOf(file),
              streams ? std::vector<std::string>{"Author"} : std::vector<std::string>{});
    EXPECT_EQ(LengthOf(file), streams ? 5 : 0);
    EXPECT_EQ(TypesOf(file, VARIANT_FALSE), std::vector<std::string>{});
}

}  // namespace
}  // namespace quarrow2::test
