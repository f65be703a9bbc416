// The stream walk over backup streams composed byte by byte: names of every legal length
// arrive whole, cut and malformed records end the walk cleanly, contents are skipped by
// their full 64-bit size and never read, and sizes add up modulo 2^32.
#include <limits>

#include "discovery/stream_walk.h"
#include "file_properties_fixture.h"
#include "stream_walk_composed.h"

namespace quarrow2::test {
namespace {

using discovery::WalkBackupStream;
using Skips = std::vector<ULONGLONG>;

constexpr ULONGLONG kGiB = 1ull << 30;
constexpr DWORD kLongestRawNameBytes = discovery::kMaxRawStreamNameUnits * sizeof(WCHAR);

// "id name size" of each visit, joined by "|"; the walk is stopped after `stopAfter` if not 0.
struct Recorder {
    std::string seen;
    size_t visits = 0, stopAfter = 0;
};

LONG Record(const WIN32_STREAM_ID& header, const WCHAR* name, void* context) {
    auto& r = *static_cast<Recorder*>(context);
    r.seen += (r.visits ? "|" : "") + std::to_string(header.dwStreamId) + " " +
              Narrow(WString(name)) + " " + std::to_string(header.Size.QuadPart);
    return ++r.visits == r.stopAfter ? 1 : 0;
}

// Every read fits the walk's buffer, and no content byte was read.
void ExpectReadsWithinBuffers(const ComposedBackup& backup) {
    for (size_t i = 0; i < backup.requested.size(); ++i)
        EXPECT_LE(backup.requested[i], kLongestRawNameBytes) << "read " << i;
    EXPECT_EQ(backup.contentBytesRead, 0u) << "a content byte was read";
}

std::string Walk(ComposedBackup& backup, size_t stopAfter = 0) {
    Recorder recorder{"", 0, stopAfter};
    WalkBackupStream(backup, Record, &recorder);
    ExpectReadsWithinBuffers(backup);
    return recorder.seen;
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
    ComposedBackup all, stopped;
    for (ComposedBackup* backup : {&all, &stopped})
        backup->Stream(BACKUP_DATA, W(""), 1024 * 1024)
            .Stream(BACKUP_ALTERNATE_DATA, Raw(W("Author")), 10)
            .Stream(BACKUP_SECURITY_DATA, W(""), 64)
            .Stream(BACKUP_ALTERNATE_DATA, Raw(W("Keywords")), 6)
            .Stream(BACKUP_ALTERNATE_DATA, Raw(W("Author")), 0);  // reported twice: kept twice
    EXPECT_EQ(Walk(all),
              "1  1048576|4 :Author:$DATA 10|3  64|4 :Keywords:$DATA 6|4 :Author:$DATA 0");
    EXPECT_EQ(all.skips, (Skips{1024 * 1024, 10, 64, 6, 0}));
    // Headers are read 20 bytes at a time; the last read finds the end.
    EXPECT_EQ(all.requested.front(), 20u);
    EXPECT_EQ(all.requested.back(), 20u);
    EXPECT_EQ(Walk(stopped, 2), "1  1048576|4 :Author:$DATA 10");
    EXPECT_EQ(stopped.skips, Skips{1024 * 1024}) << "no skip after the stop";
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
    for (const auto& name : names) backup.Stream(BACKUP_ALTERNATE_DATA, name.first, 3);
    discovery::TypeNameList list;
    discovery::TypeNameCollector collector{list};
    WalkBackupStream(backup, discovery::TypeNameVisitor, &collector);
    EXPECT_EQ(collector.status, S_OK);
    ExpectReadsWithinBuffers(backup);
    EXPECT_EQ(backup.skips.size(), names.size() + 2);
    ASSERT_EQ(list.size(), names.size());
    for (size_t i = 0; i < names.size(); ++i)
        EXPECT_EQ(WString(list[i].get(), list[i].length()), names[i].second) << i;
}

// Each case follows a main stream of 100 bytes and the item "Author" of 10.
TEST(StreamWalkComposed, CutMalformedAndOverlongRecordsEndTheWalkKeepingWhatCameBefore) {
    const WString author = Raw(W("Author"));
    const DWORD authorBytes = static_cast<DWORD>(author.size() * sizeof(WCHAR));
    const WString filler = author + NameOfUnits(600);
    const std::string before = "1  100|4 :Author:$DATA 10";
    enum Tail { kLater, kHeaderPart, kHeader, kShortName, kOddName, kCutContent, kLongName };
    enum Fault { kNone, kFailRead, kLoseAtRead, kLoseAtSkip };
    const struct {
        Tail tail;
        DWORD n;  // the name bytes the last header gives, or the read or skip a fault hits
        Fault fault;
        std::string seen;
        size_t reads;  // how many reads the walk made, where that matters
    } cases[] = {
        {kHeaderPart, 0, kNone, before, 0},
        {kHeader, authorBytes, kNone, before, 0},
        {kShortName, authorBytes, kNone, before, 0},
        {kCutContent, authorBytes, kNone, before + "|4 :Author:$DATA 1000", 0},
        // The half unit at its end is dropped, nothing beyond is touched.
        {kOddName, 7, kNone, before + "|4 :Au 10", 0},
        {kLater, 4, kFailRead, before, 0},  // a header read
        {kLater, 5, kFailRead, before, 0},  // a name read
        {kLater, 4, kLoseAtRead, before, 0},
        // A lost context ends the walk before the next visit and the next read.
        {kLater, 3, kLoseAtRead, "1  100", 4},
        {kLater, 1, kLoseAtSkip, before, 4},
        // Raw names longer than any file system makes: no part of them is read.
        {kLongName, kLongestRawNameBytes + 1, kNone, before, 5},
        {kLongName, kLongestRawNameBytes + 2, kNone, before, 5},
        {kLongName, 4096, kNone, before, 5},
        {kLongName, 0x7FFFFFFF, kNone, before, 5},
        {kLongName, 0xFFFFFFFF, kNone, before, 5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("case " + std::to_string(&c - cases));
        ComposedBackup backup;
        backup.Stream(BACKUP_DATA, W(""), 100).Stream(BACKUP_ALTERNATE_DATA, author, 10);
        if (c.tail == kLater) backup.Stream(BACKUP_ALTERNATE_DATA, Raw(W("Later")), 1);
        if (c.tail == kHeaderPart) backup.Bytes("\x04\x00\x00\x00\x00\x00", 6);
        if (c.tail >= kHeader)
            backup.Header(BACKUP_ALTERNATE_DATA, c.n, c.tail == kCutContent ? 1000 : 10);
        if (c.tail >= kShortName)
            backup.Bytes(filler.data(),
                         c.tail == kShortName ? c.n - 4 : std::min<DWORD>(c.n, 1200));
        if (c.tail == kCutContent) backup.Content(10);
        if (c.tail == kLongName) backup.Stream(BACKUP_ALTERNATE_DATA, Raw(W("after")), 3);
        if (c.fault == kFailRead) backup.FailRead(c.n);
        if (c.fault == kLoseAtRead) backup.LoseContextAtRead(c.n);
        if (c.fault == kLoseAtSkip) backup.LoseContextAtSkip(c.n);
        EXPECT_EQ(Walk(backup), c.seen);
        if (c.reads) {
            EXPECT_EQ(backup.requested.size(), c.reads);
        }
    }
}

TEST(StreamWalkComposed, SizesAddUpModulo2To32AndSkipsUseTheFull64Bits) {
    // Only named data streams count; one of 4 GiB or more adds its size modulo 2^32 and the
    // walk still reaches the stream after it; totals above 2147483647 read negative, 2^32 is 0.
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

// Real files with items: tests/posix/file_items_test.cpp and the NTFS suite. Under
// Wine a stream is a file of its own, and nothing is found.
TEST(StreamWalkFile, NothingToWalkGivesNothing) {
    const LONG start = store::ModuleLockCount();
    TempDir dir;
    MakeFile(dir / "report.doc", "contents that are never read");
    const WString file = PathW(dir / "report.doc");
    for (const WString& path : {file, PathW(dir / "missing.txt"), PathW(dir.path())}) {
        EXPECT_EQ(TypesOf(path), std::vector<std::string>{}) << Narrow(path);
        EXPECT_EQ(LengthOf(path), 0) << Narrow(path);
    }
    EXPECT_EQ(discovery::FileTypes(file.c_str(), VARIANT_TRUE, nullptr), E_POINTER);
    EXPECT_EQ(discovery::FileLength(file.c_str(), nullptr), E_POINTER);
    EXPECT_EQ(store::ModuleLockCount(), start) << "every collection made here was freed";
}

}  // namespace
}  // namespace quarrow2::test
