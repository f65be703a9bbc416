// libFuzzer target: the stream walk over composed backup streams. It must read 20-byte headers
// and names no longer than the longest, hand each visitor a terminated name, and give the
// names and total that a plain visitor sees.
#include <fuzzer/FuzzedDataProvider.h>

#include "discovery/stream_walk.h"
#include "fuzz/fuzz_target.h"
#include "portable/stream_walk_composed.h"

namespace {

using namespace quarrow2;
using namespace quarrow2::discovery;

using Backup = test::ComposedBackup;
void (Backup::*const kFaults[])(size_t) = {&Backup::FailRead, &Backup::LoseContextAtRead,
                                           &Backup::LoseContextAtSkip};

// A small value half the time, so that sizes and ids meet the walk's edges often.
template <class T>
T SmallOrAny(FuzzedDataProvider& in, T small) {
    return in.ConsumeBool() ? in.ConsumeIntegralInRange<T>(0, small) : in.ConsumeIntegral<T>();
}

// The backup the input describes (the same input always composes the same one), cut off
// after 16 KiB of reads: a content of exabytes read as headers would otherwise go on for as
// long as it lasts. A count of reads would also end a walk that loops reading nothing.
struct Composed final : BackupReader {
    Composed(const uint8_t* data, size_t size);
    bool Read(void* buffer, DWORD count, DWORD* bytesRead) override {
        *bytesRead = 0;
        const bool ok = read <= 16 * 1024 && backup.Read(buffer, count, bytesRead);
        read += *bytesRead;
        return ok;
    }
    bool Skip(ULONGLONG distance) override { return backup.Skip(distance); }
    Backup backup;
    size_t read = 0;
};

Composed::Composed(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    for (int steps = 0; in.remaining_bytes() > 0 && steps < 64; ++steps) {
        const DWORD id = SmallOrAny<DWORD>(in, 10);
        const int kind = in.ConsumeIntegralInRange<int>(0, 6);
        if (kind == 0) {
            WString name;
            const size_t units = in.ConsumeIntegralInRange<size_t>(0, 300);
            for (size_t i = 0; i < units && in.remaining_bytes() > 0; ++i)
                name.push_back(static_cast<WCHAR>(in.ConsumeIntegral<uint16_t>()));
            backup.Stream(id, name, SmallOrAny<ULONGLONG>(in, 64));
        } else if (kind == 1) {
            const DWORD nameBytes = SmallOrAny<DWORD>(in, 600);
            backup.Header(id, nameBytes, in.ConsumeIntegral<ULONGLONG>());
        } else if (kind == 2) {
            const auto bytes = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, 600));
            backup.Bytes(bytes.data(), bytes.size());
        } else if (kind == 3) {
            backup.Content(in.ConsumeIntegral<ULONGLONG>());
        } else {
            (backup.*kFaults[kind - 4])(in.ConsumeIntegralInRange<size_t>(0, 40));
        }
    }
}

struct Seen {
    std::vector<WString> names;
    LONG total = 0;
};

LONG PlainVisitor(const WIN32_STREAM_ID& header, const WCHAR* name, void* context) {
    WString type(name);
    Require(type.size() <= kMaxRawStreamNameUnits);
    if (header.dwStreamId != BACKUP_ALTERNATE_DATA) return 0;
    auto& seen = *static_cast<Seen*>(context);
    if (!type.empty() && type[0] == ':') type.erase(0, 1);
    type = type.substr(0, type.find(WString{':', '$', 'D', 'A', 'T', 'A'}));
    seen.names.push_back(type);
    seen.total = static_cast<LONG>(static_cast<DWORD>(seen.total) + header.Size.u.LowPart);
    return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Composed plain(data, size), forNames(data, size), forSizes(data, size);
    Seen seen;
    WalkBackupStream(plain, PlainVisitor, &seen);
    // Headers and names take turns; a header is always 20 bytes, a name at most the longest.
    for (size_t i = 0; i < plain.backup.requested.size(); ++i)
        Require(i % 2 == 0 ? plain.backup.requested[i] == kStreamHeaderBytes
                           : plain.backup.requested[i] <= kMaxRawStreamNameUnits * sizeof(WCHAR));

    TypeNameList names;
    TypeNameCollector collector{names};
    WalkBackupStream(forNames, TypeNameVisitor, &collector);
    Require(collector.status == S_OK && names.size() == seen.names.size());
    for (size_t i = 0; i < names.size(); ++i)
        Require(WString(names[i].get(), names[i].length()) == seen.names[i]);

    LONG total = 0;
    WalkBackupStream(forSizes, SizeVisitor, &total);
    Require(total == seen.total && forNames.backup.requested == plain.backup.requested &&
            forSizes.backup.requested == plain.backup.requested);
    return 0;
}
