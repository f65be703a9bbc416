// The stream walk over backup streams composed byte by byte: names of every legal length
// arrive whole, cut and malformed records end the walk cleanly, contents are skipped by
// their full 64-bit size and never read, and sizes add up modulo 2^32.
#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "discovery/stream_walk.h"
#include "stream_walk_composed.h"
#include "support/test_support.h"

namespace quarrow2::test {
namespace {

using discovery::WalkBackupStream;

constexpr ULONGLONG kGiB = 1024ull * 1024 * 1024;
constexpr DWORD kLongestRawNameBytes = discovery::kMaxRawStreamNameUnits * sizeof(WCHAR);

struct Seen {
    DWORD id;
    LONGLONG size;
    WString name;
};

struct Recorder {
    std::vector<Seen> seen;
    size_t stopAfter = static_cast<size_t>(-1);
};

LONG Record(const WIN32_STREAM_ID& header, const WCHAR* name, void* context) {
    auto& recorder = *static_cast<Recorder*>(context);
    recorder.seen.push_back({header.dwStreamId, header.Size.QuadPart, WString(name)});
    return recorder.seen.size() >= recorder.stopAfter ? 1 : 0;
}

std::vector<std::string> Names(const std::vector<Seen>& seen) {
    std::vector<std::string> names;
    for (const Seen& s : seen) names.push_back(Narrow(s.name));
    return names;
}

// The raw names of the streams a walk visits.
std::vector<std::string> Walk(ComposedBackup& backup) {
    Recorder recorder;
    WalkBackupStream(backup, Record, &recorder);
    return Names(recorder.seen);
}

std::vector<std::string> TypeNames(ComposedBackup& backup) {
    discovery::TypeNameList list;
    discovery::TypeNameCollector collector{list};
    WalkBackupStream(backup, discovery::TypeNameVisitor, &collector);
    EXPECT_EQ(collector.status, S_OK);
    std::vector<std::string> names;
    for (const UniqueBstr& name : list) names.push_back(Narrow(name.get()));
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

// Every read asked for a header, or for a name no longer than the walk's buffer.
void ExpectReadsWithinBuffers(const ComposedBackup& backup) {
    for (size_t i = 0; i < backup.requested.size(); ++i)
        EXPECT_LE(backup.requested[i], kLongestRawNameBytes) << "read " << i;
    EXPECT_EQ(backup.contentBytesRead, 0u) << "a content byte was read";
}

TEST(StreamWalkComposed, VisitsEveryStreamInOrderAndSkipsEveryContentUnread) {
    ComposedBackup backup;
    backup.Stream(BACKUP_DATA, W(""), 1024 * 1024)
        .Stream(BACKUP_ALTERNATE_DATA, Raw(W("Author")), 10)
        .Stream(BACKUP_SECURITY_DATA, W(""), 64)
        .Stream(BACKUP_ALTERNATE_DATA, Raw(W("Keywords")), 6)
        .Stream(BACKUP_ALTERNATE_DATA, Raw(W("Author")), 0);  // reported twice: kept twice
    Recorder recorder;
    WalkBackupStream(backup, Record, &recorder);

    ASSERT_EQ(recorder.seen.size(), 5u);
    EXPECT_EQ(Names(recorder.seen), (std::vector<std::string>{"", ":Author:$DATA", "",
                                                              ":Keywords:$DATA", ":Author:$DATA"}));
    EXPECT_EQ(recorder.seen[0].id, DWORD(BACKUP_DATA));
    EXPECT_EQ(recorder.seen[0].size, 1024 * 1024);
    EXPECT_EQ(recorder.seen[2].id, DWORD(BACKUP_SECURITY_DATA));
    EXPECT_EQ(recorder.seen[3].size, 6);

    EXPECT_EQ(backup.skips, (std::vector<ULONGLONG>{1024 * 1024, 10, 64, 6, 0}));
    ExpectReadsWithinBuffers(backup);
    // Headers are read 20 bytes at a time; the last read finds the end.
    EXPECT_EQ(backup.requested.front(), 20u);
    EXPECT_EQ(backup.requested.back(), 20u);
}

TEST(StreamWalkComposed, TypeNamesDropOneColonAndCutAtTheFirstDataSuffix) {
    ComposedBackup backup;
    backup.Stream(BACKUP_ALTERNATE_DATA, W("::double:$DATA"), 1)
        .Stream(BACKUP_ALTERNATE_DATA, W(":lower:$data:$DATA"), 1)
        .Stream(BACKUP_ALTERNATE_DATA, W(":twice:$DATA:$DATA"), 1)
        .Stream(BACKUP_ALTERNATE_DATA, W(":nosuffix"), 1)
        .Stream(BACKUP_ALTERNATE_DATA, W("bare:$DATA"), 1)
        .Stream(BACKUP_ALTERNATE_DATA, W(""), 1)
        .Stream(BACKUP_ALTERNATE_DATA, Raw(W("Größe \xF0\x9F\x93\x84")), 1)
        .Stream(BACKUP_SECURITY_DATA, W(":sec:$DATA"), 1)  // not named data streams: ignored
        .Stream(BACKUP_DATA, W(":main:$DATA"), 1);
    EXPECT_EQ(TypeNames(backup),
              (std::vector<std::string>{":double", "lower:$data", "twice", "nosuffix", "bare", "",
                                        "Größe \xF0\x9F\x93\x84"}));
}

TEST(StreamWalkComposed, NamesOfEveryLegalLengthArriveWhole) {
    // 253 to 255 units are the names whose raw form (260 to 262 units) a 260-unit buffer
    // would cut; a pair of surrogates at the very end must survive too.
    std::vector<WString> typeNames = {NameOfUnits(1),   NameOfUnits(252),
                                      NameOfUnits(253), NameOfUnits(254),
                                      NameOfUnits(255), NameOfUnits(253) + W("\xF0\x9F\x93\x84")};
    ComposedBackup backup;
    backup.Stream(BACKUP_DATA, W(""), 5);
    for (const WString& name : typeNames) backup.Stream(BACKUP_ALTERNATE_DATA, Raw(name), 3);
    backup.Stream(BACKUP_ALTERNATE_DATA, Raw(W("after")), 4);

    discovery::TypeNameList list;
    discovery::TypeNameCollector collector{list};
    WalkBackupStream(backup, discovery::TypeNameVisitor, &collector);
    ASSERT_EQ(list.size(), typeNames.size() + 1);
    for (size_t i = 0; i < typeNames.size(); ++i) {
        EXPECT_EQ(list[i].length(), typeNames[i].size()) << "name " << i;
        EXPECT_EQ(WString(list[i].get(), list[i].length()), typeNames[i]) << "name " << i;
    }
    EXPECT_EQ(Narrow(list.back().get()), "after") << "the walk went on after the longest name";
    EXPECT_EQ(backup.skips.size(), typeNames.size() + 2);
    ExpectReadsWithinBuffers(backup);

    // The longest raw name fills the buffer exactly and still gets its terminator.
    ComposedBackup longest;
    longest.Stream(BACKUP_ALTERNATE_DATA, Raw(NameOfUnits(255)), 1);
    Recorder recorder;
    WalkBackupStream(longest, Record, &recorder);
    ASSERT_EQ(recorder.seen.size(), 1u);
    EXPECT_EQ(recorder.seen[0].name.size(), size_t(discovery::kMaxRawStreamNameUnits));
}

TEST(StreamWalkComposed, ARawNameLongerThanAnyFileSystemMakesEndsTheWalk) {
    for (DWORD nameBytes : std::vector<DWORD>{kLongestRawNameBytes + 1, kLongestRawNameBytes + 2,
                                              4096, 0x7FFFFFFF, 0xFFFFFFFF}) {
        ComposedBackup backup;
        backup.Stream(BACKUP_ALTERNATE_DATA, Raw(W("before")), 2);
        backup.Header(BACKUP_ALTERNATE_DATA, nameBytes, 7);
        WString filler = NameOfUnits(600);
        backup.Bytes(filler.data(), filler.size() * sizeof(WCHAR));
        backup.Stream(BACKUP_ALTERNATE_DATA, Raw(W("after")), 3);

        EXPECT_EQ(Walk(backup), (std::vector<std::string>{":before:$DATA"}))
            << "name of " << nameBytes << " bytes";
        ExpectReadsWithinBuffers(backup);
        EXPECT_EQ(backup.requested.size(), 3u) << "no part of the long name was read";
    }
}

TEST(StreamWalkComposed, CutAndMalformedRecordsEndTheWalkKeepingWhatCameBefore) {
    const WString author = Raw(W("Author"));
    const DWORD authorBytes = static_cast<DWORD>(author.size() * sizeof(WCHAR));
    struct Case {
        const char* what;
        ComposedBackup backup;
        std::vector<std::string> names = {"", ":Author:$DATA"};
        size_t reads = 0;  // how many reads the walk made, where that matters
    };
    std::vector<Case> cases(10);
    for (Case& c : cases) {
        c.backup.Stream(BACKUP_DATA, W(""), 100).Stream(BACKUP_ALTERNATE_DATA, author, 10);
    }
    cases[0].what = "the backup stream ends after a few bytes of a header";
    cases[0].backup.Bytes("\x04\x00\x00\x00\x00\x00", 6);
    cases[1].what = "the backup stream ends after a header";
    cases[1].backup.Header(BACKUP_ALTERNATE_DATA, authorBytes, 10);
    cases[2].what = "the name is shorter than its header says";
    cases[2]
        .backup.Header(BACKUP_ALTERNATE_DATA, authorBytes, 10)
        .Bytes(author.data(), authorBytes - 4);
    cases[3].what = "the backup stream ends inside a content";
    cases[3]
        .backup.Header(BACKUP_ALTERNATE_DATA, authorBytes, 1000)
        .Bytes(author.data(), authorBytes);
    cases[3].backup.Content(10);
    cases[3].names.push_back(":Author:$DATA");
    for (size_t i = 4; i < 9; ++i)
        cases[i].backup.Stream(BACKUP_ALTERNATE_DATA, Raw(W("Later")), 1);
    cases[4].what = "a header read fails";
    cases[4].backup.FailRead(4);
    cases[5].what = "a name read fails";
    cases[5].backup.FailRead(5);
    cases[6].what = "the read context is lost while reading a header";
    cases[6].backup.LoseContextAtRead(4);
    // A name read that loses the context, and a skip that does, end the walk before the
    // next visit and the next read.
    cases[7].what = "the read context is lost while reading a name";
    cases[7].backup.LoseContextAtRead(3);
    cases[7].names = {""};
    cases[7].reads = 4;
    cases[8].what = "the read context is lost while skipping";
    cases[8].backup.LoseContextAtSkip(1);
    cases[8].reads = 4;
    // An odd name length: the half unit at its end is dropped, nothing beyond is touched.
    cases[9].what = "an odd name length";
    cases[9].backup.Header(BACKUP_ALTERNATE_DATA, 7, 0).Bytes(author.data(), 7);
    cases[9].names.push_back(":Au");
    for (Case& c : cases) {
        EXPECT_EQ(Walk(c.backup), c.names) << c.what;
        ExpectReadsWithinBuffers(c.backup);
        if (c.reads) {
            EXPECT_EQ(c.backup.requested.size(), c.reads) << c.what;
        }
    }
}

TEST(StreamWalkComposed, AVisitorCanStopTheWalk) {
    ComposedBackup backup;
    backup.Stream(BACKUP_DATA, W(""), 100)
        .Stream(BACKUP_ALTERNATE_DATA, Raw(W("Author")), 10)
        .Stream(BACKUP_ALTERNATE_DATA, Raw(W("Keywords")), 6);
    Recorder recorder;
    recorder.stopAfter = 2;
    WalkBackupStream(backup, Record, &recorder);
    EXPECT_EQ(recorder.seen.size(), 2u);
    EXPECT_EQ(backup.skips, (std::vector<ULONGLONG>{100})) << "no skip after the stop";
}

TEST(StreamWalkComposed, SizesAddUpModulo2To32AndSkipsUseTheFull64Bits) {
    // Only named data streams count; a stream of 4 GiB and more adds its size modulo 2^32
    // and the walk still reaches the stream after it; a total above 2147483647 reads
    // negative, one of 2^32 wraps to 0.
    const struct {
        std::vector<std::pair<DWORD, ULONGLONG>> streams;
        LONG total;
    } cases[] = {{{{BACKUP_DATA, 8 * kGiB + 12345},
                   {BACKUP_ALTERNATE_DATA, 10},
                   {BACKUP_SECURITY_DATA, 99},
                   {BACKUP_ALTERNATE_DATA, 6}},
                  16},
                 {{{BACKUP_ALTERNATE_DATA, 4 * kGiB + 5},
                   {BACKUP_ALTERNATE_DATA, 4 * kGiB},
                   {BACKUP_ALTERNATE_DATA, 7}},
                  12},
                 {{{BACKUP_ALTERNATE_DATA, 0x7FFFFFFFull}, {BACKUP_ALTERNATE_DATA, 1}},
                  std::numeric_limits<LONG>::min()},
                 {{{BACKUP_ALTERNATE_DATA, 0xFFFFFFFFull}, {BACKUP_ALTERNATE_DATA, 1}}, 0},
                 {{}, 0}};
    for (const auto& c : cases) {
        ComposedBackup backup;
        std::vector<ULONGLONG> sizes;
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

}  // namespace
}  // namespace quarrow2::test
