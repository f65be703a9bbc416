// libFuzzer target: the stream walk over arbitrary backup streams, composed from the input:
// whole streams, bare headers with any name length and size, loose bytes, contents of any
// length, failing reads and lost read contexts. The walk must read headers of exactly 20
// bytes and names no longer than the longest there can be, hand each visitor a terminated
// name, and give the same names and total that a plain visitor sees.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <vector>

#include "discovery/stream_walk.h"
#include "portable/stream_walk_composed.h"

namespace {

using namespace quarrow2;
using namespace quarrow2::discovery;
using quarrow2::test::ComposedBackup;

void Require(bool condition) {
    if (!condition) std::abort();
}

using Step = std::function<void(ComposedBackup&)>;

// The composition the input describes, as steps that can build it more than once.
std::vector<Step> Compose(FuzzedDataProvider& in) {
    std::vector<Step> steps;
    while (in.remaining_bytes() > 0 && steps.size() < 64) {
        const DWORD id = in.ConsumeBool() ? in.ConsumeIntegralInRange<DWORD>(0, 10)
                                          : in.ConsumeIntegral<DWORD>();
        switch (in.ConsumeIntegralInRange<int>(0, 6)) {
            case 0: {
                WString name;
                const size_t units = in.ConsumeIntegralInRange<size_t>(0, 300);
                for (size_t i = 0; i < units && in.remaining_bytes() > 0; ++i)
                    name.push_back(static_cast<WCHAR>(in.ConsumeIntegral<uint16_t>()));
                const ULONGLONG size = in.ConsumeBool()
                                           ? in.ConsumeIntegralInRange<ULONGLONG>(0, 64)
                                           : in.ConsumeIntegral<ULONGLONG>();
                steps.push_back([=](ComposedBackup& b) { b.Stream(id, name, size); });
                break;
            }
            case 1: {
                const DWORD nameBytes = in.ConsumeBool() ? in.ConsumeIntegralInRange<DWORD>(0, 600)
                                                         : in.ConsumeIntegral<DWORD>();
                const ULONGLONG size = in.ConsumeIntegral<ULONGLONG>();
                steps.push_back([=](ComposedBackup& b) { b.Header(id, nameBytes, size); });
                break;
            }
            case 2: {
                const std::vector<uint8_t> bytes =
                    in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, 600));
                steps.push_back([=](ComposedBackup& b) { b.Bytes(bytes.data(), bytes.size()); });
                break;
            }
            case 3: {
                const ULONGLONG size = in.ConsumeIntegral<ULONGLONG>();
                steps.push_back([=](ComposedBackup& b) { b.Content(size); });
                break;
            }
            case 4: {
                const size_t index = in.ConsumeIntegralInRange<size_t>(0, 40);
                steps.push_back([=](ComposedBackup& b) { b.FailRead(index); });
                break;
            }
            case 5: {
                const size_t index = in.ConsumeIntegralInRange<size_t>(0, 40);
                steps.push_back([=](ComposedBackup& b) { b.LoseContextAtRead(index); });
                break;
            }
            default: {
                const size_t index = in.ConsumeIntegralInRange<size_t>(0, 40);
                steps.push_back([=](ComposedBackup& b) { b.LoseContextAtSkip(index); });
                break;
            }
        }
    }
    return steps;
}

void Build(const std::vector<Step>& steps, ComposedBackup& backup) {
    for (const Step& step : steps) step(backup);
}

// A composed backup cut off after 16 KiB of reads: a content of exabytes read as headers
// would otherwise keep the walk going for as long as the stream lasts.
class Capped final : public BackupReader {
public:
    explicit Capped(ComposedBackup& inner) : inner_(inner) {}
    bool Read(void* buffer, DWORD count, DWORD* bytesRead) override {
        if (read_ > kCap) {
            *bytesRead = 0;
            return false;
        }
        const bool ok = inner_.Read(buffer, count, bytesRead);
        read_ += *bytesRead;
        return ok;
    }
    bool Skip(ULONGLONG distance) override { return inner_.Skip(distance); }

private:
    static constexpr size_t kCap = 16 * 1024;
    ComposedBackup& inner_;
    size_t read_ = 0;
};

// What a plain visitor sees: each named data stream's type name, and their total.
struct Seen {
    std::vector<WString> names;
    LONG total = 0;
};

LONG PlainVisitor(const WIN32_STREAM_ID& header, const WCHAR* name, void* context) {
    size_t length = 0;
    while (name[length]) ++length;
    Require(length <= kMaxRawStreamNameUnits);
    if (header.dwStreamId != BACKUP_ALTERNATE_DATA) return 0;
    auto& seen = *static_cast<Seen*>(context);
    WString type(name, length);
    if (!type.empty() && type[0] == ':') type.erase(0, 1);
    const WString suffix = {':', '$', 'D', 'A', 'T', 'A'};
    const size_t at = type.find(suffix);
    if (at != WString::npos) type.resize(at);
    seen.names.push_back(type);
    seen.total = static_cast<LONG>(static_cast<DWORD>(seen.total) + header.Size.u.LowPart);
    return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const std::vector<Step> steps = Compose(in);

    ComposedBackup plain;
    Build(steps, plain);
    Seen seen;
    Capped plainCapped(plain);
    WalkBackupStream(plainCapped, PlainVisitor, &seen);
    for (size_t i = 0; i < plain.requested.size(); ++i) {
        // Headers and names take turns; a header is always 20 bytes, a name at most the
        // longest raw name.
        Require(i % 2 == 0 ? plain.requested[i] == kStreamHeaderBytes
                           : plain.requested[i] <= kMaxRawStreamNameUnits * sizeof(WCHAR));
    }

    ComposedBackup forNames;
    Build(steps, forNames);
    TypeNameList names;
    TypeNameCollector collector{names};
    Capped namesCapped(forNames);
    WalkBackupStream(namesCapped, TypeNameVisitor, &collector);
    Require(collector.status == S_OK && names.size() == seen.names.size());
    for (size_t i = 0; i < names.size(); ++i)
        Require(WString(names[i].get(), names[i].length()) == seen.names[i]);

    ComposedBackup forSizes;
    Build(steps, forSizes);
    LONG total = 0;
    Capped sizesCapped(forSizes);
    WalkBackupStream(sizesCapped, SizeVisitor, &total);
    Require(total == seen.total);
    Require(forNames.requested == plain.requested && forSizes.requested == plain.requested);
    return 0;
}
