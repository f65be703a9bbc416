// Many processes and killed writers on one file, and values at the file system's limits.
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <iterator>
#include <memory>
#include <random>

#include "platform/posix/files/lock_store.h"
#include "platform_fixture.h"
#include "portable/file_fixture.h"
#include "portable/metadata_fixture.h"

namespace quarrow2::test::stress {
namespace {

constexpr int kProcesses = 8, kOperations = 5000, kTypes = 4;
// Four of the longest values fit the 4 KiB ext4 keeps for a file's attributes.
constexpr size_t kShortestValue = 8, kLongestValue = 700;

uint32_t Seed() {
    const char* chosen = std::getenv("QUARROW2_STRESS_SEED");
    return chosen && *chosen ? static_cast<uint32_t>(std::strtoul(chosen, nullptr, 10)) : 20240611;
}

// A value that tells whether it is whole: 'Q', writer, sequence, length, bytes made of these.
Bytes MakeValue(unsigned char writer, uint32_t sequence, uint16_t length) {
    Bytes value(length);
    for (size_t i = 0; i < length; ++i)
        value[i] = static_cast<unsigned char>(sequence * 31 + i * 7 + writer);
    value[0] = 'Q';
    value[1] = writer;
    std::memcpy(&value[2], &sequence, sizeof sequence);
    std::memcpy(&value[6], &length, sizeof length);
    return value;
}

// Empty for the empty value or a whole value of MakeValue; else what is wrong.
std::string CheckValue(const Bytes& value) {
    uint32_t sequence = 0;
    if (value.size() >= kShortestValue) std::memcpy(&sequence, &value[2], sizeof sequence);
    const bool whole = value.empty() || (value.size() >= kShortestValue && value[1] < kProcesses &&
                                         value == MakeValue(value[1], sequence, value.size()));
    return whole ? "" : "a torn or foreign value of " + std::to_string(value.size()) + " bytes";
}

// Descriptors of the store's lock file, which a process keeps for later handles, and all
// others.
struct Descriptors {
    size_t lockFiles = 0, others = 0;
};
Descriptors OpenDescriptors() {
    const std::string lockFile = platform::LockStoreFile();
    Descriptors open;
    for (const fs::directory_entry& entry : fs::directory_iterator("/proc/self/fd")) {
        std::error_code gone;  // the iterator's own descriptor, closed by now
        const std::string target = fs::read_symlink(entry.path(), gone).string();
        ++(!lockFile.empty() && target == lockFile ? open.lockFiles : open.others);
    }
    return open;
}

// One process's share of the work: the first thing it saw that was wrong, or nothing.
std::string Work(unsigned char index, uint32_t seed, const fs::path& path) {
    std::mt19937 random(seed + index * 7919u);
    std::string failure;
    const auto fail = [&](const std::string& what) {
        if (failure.empty()) failure = "process " + std::to_string(index) + ": " + what;
    };
    const auto expectRefusal = [&](const std::string& description, const std::string& message,
                                   std::initializer_list<DWORD> codes) {
        for (DWORD code : codes)
            if (description == WithSystemText(message, code)) return;
        fail(message + " came as \"" + description + "\"");
    };
    ComPtr<IFile> file = NewFile();
    if (!Bind(file.get(), path)) return "cannot bind the file";
    ComPtr<IMetaData> items[kTypes];
    uint32_t sequence = 0;
    platform::LetGoOfKeptDescriptors();
    const size_t descriptors = OpenDescriptors().others;
    for (int op = 0; op < kOperations && failure.empty(); ++op) {
        const std::string name = "T" + std::to_string(random() % kTypes);
        ComPtr<IMetaData>& item = items[name[1] - '0'];
        const unsigned choice = random() % 100;
        const bool asText = random() % 3 == 0;
        SetErrorInfo(0, nullptr);
        if (!item) {
            // Open finds the item missing when another process has just deleted it.
            const bool add = choice % 3 != 0;
            ItemOutcome outcome = OpenOrAdd(file.get(), add, Bstr(name).get());
            item = std::move(outcome.item);
            if (!item)
                expectRefusal(
                    outcome.error.description,
                    add ? "Unable to add metadata." : "Unable to open metadata.",
                    {ERROR_SHARING_VIOLATION, add ? DWORD{0} : DWORD{ERROR_FILE_NOT_FOUND}});
        } else if (choice < 35) {
            const size_t length = kShortestValue + random() % (kLongestValue - kShortestValue + 1);
            const Bytes value =
                random() % 20 == 0
                    ? Bytes()
                    : MakeValue(index, sequence++, asText ? length & ~size_t{1} : length);
            UniqueBstr text(SysAllocStringByteLen(reinterpret_cast<const char*>(value.data()),
                                                  static_cast<UINT>(value.size())));
            if ((asText ? item->put_Text(text.get()) : metadata::PutData(item.get(), value)) ==
                S_OK)
                continue;
            // A read-only fallback item is let go, so that it does not keep writers out.
            const std::string message = asText ? "Unable to put text." : "Unable to put data.";
            const std::string description = TakeRichError().description;
            expectRefusal(description, message, {ERROR_LOCK_VIOLATION, ERROR_ACCESS_DENIED});
            if (description == WithSystemText(message, ERROR_ACCESS_DENIED)) item.reset();
        } else if (choice < 75) {
            UniqueBstr text;
            UniqueVariant data;
            if ((asText ? item->get_Text(text.out()) : item->get_Data(data.get())) != S_OK)
                expectRefusal(TakeRichError().description,
                              asText ? "Unable to get text." : "Unable to get data.",
                              {ERROR_LOCK_VIOLATION});
            else if (const std::string wrong =
                         CheckValue(asText ? metadata::BstrBytes(text.get())
                                    : data->vt == (VT_ARRAY | VT_UI1) ? metadata::ArrayBytes(*data)
                                                                      : Bytes());
                     !wrong.empty())
                fail("a get returned " + wrong);
        } else if (choice < 95) {
            if (ComPtr<IMetaData>(std::move(item))->Close() != S_OK) fail("Close failed");
        } else if (ComPtr<IMetaData>(std::move(item))->Delete() != S_OK) {
            // Between close and removal another process may take (and delete) the stream.
            expectRefusal(TakeRichError().description, "Unable to delete file.",
                          {ERROR_SHARING_VIOLATION, ERROR_FILE_NOT_FOUND});
        }
    }
    for (auto& item : items)
        if (item && ComPtr<IMetaData>(std::move(item))->Close() != S_OK) fail("Close failed");
    // With every item closed, only the lock file descriptors kept for later handles stay,
    // and at most kKeptDescriptors of them; once let go of, not even those.
    const Descriptors kept = OpenDescriptors();
    if (kept.others != descriptors || kept.lockFiles > platform::kKeptDescriptors)
        fail("descriptors leaked");
    platform::LetGoOfKeptDescriptors();
    const Descriptors left = OpenDescriptors();
    if (left.others != descriptors || left.lockFiles != 0) fail("lock file descriptors leaked");
    return failure;
}

TEST(StressProcesses, EightProcessesShareOneFileAndSeeOnlyWholeValues) {
    TempDir dir;
    const fs::path file = dir / "shared.doc";
    MakeFile(file, "the shared file's contents");
    const uint32_t seed = Seed();
    std::cout << "[ stress   ] seed " << seed << " (QUARROW2_STRESS_SEED)" << std::endl;

    std::vector<std::unique_ptr<Child>> workers;
    for (int i = 0; i < kProcesses; ++i) {
        workers.push_back(std::make_unique<Child>([&, i](Child& self) {
            const std::string failure = Work(i, seed, file);
            self.Send(failure.empty() ? "ok" : failure);
            return 0;
        }));
        ASSERT_TRUE(workers.back()->started());
    }
    for (int i = 0; i < kProcesses; ++i) {
        EXPECT_EQ(workers[i]->Receive(), "ok") << "process " << i;
        EXPECT_EQ(workers[i]->Wait(), 0);
    }

    const std::set<std::string> names = UserAttributeNames(file), types = {"T0", "T1", "T2", "T3"};
    EXPECT_TRUE(std::includes(types.begin(), types.end(), names.begin(), names.end()));
    for (const std::string& name : names) {
        const Bytes stored = UserAttribute(file, name).value_or(Bytes{'?'});
        EXPECT_EQ(CheckValue(stored == EmptyValueMarker() ? Bytes() : stored), "") << name;
    }
    EXPECT_EQ(FileContent(file), "the shared file's contents");
}

TEST(StressKills, AWriterKilledAtRandomMomentsLeavesOneWholeValue) {
    constexpr int kKills = 200;
    TempDir dir;
    const fs::path path = dir / "doc";
    MakeFile(path, "contents");
    const Bytes shortValue = metadata::BytesOf("short-val!");
    const WString longText(1500, OLESTR('L'));
    const std::string longRaw = Raw(Utf16Bytes(longText));
    std::mt19937 random(Seed());
    for (int kill = 0; kill < kKills; ++kill) {
        SCOPED_TRACE("kill " + std::to_string(kill));
        Child writer([&](Child& self) {
            ComPtr<IFile> file = NewFile();
            ItemOutcome item;
            if (!Bind(file.get(), path) || (item = Add(file.get(), "T")).hr != S_OK) return 1;
            for (long i = 0; (i % 2 ? metadata::PutText(item.item.get(), longText)
                                    : metadata::PutData(item.item.get(), shortValue)) == S_OK;
                 ++i)
                if (i == 0) self.Send("writing");
            return 1;
        });
        ASSERT_EQ(writer.Receive(), "writing");
        usleep(random() % 3000);
        writer.Kill();
        const std::optional<std::string> left = RawStream(path, "T");
        ASSERT_TRUE(left == Raw(shortValue) || left == longRaw) << left.value_or("").size();

        // The killed writer's share mode and range locks went with it.
        ComPtr<IFile> file = NewFile();
        ASSERT_TRUE(Bind(file.get(), path));
        ItemOutcome item = Open(file.get(), "T");
        ASSERT_EQ(item.hr, S_OK) << item.error.description;
        EXPECT_EQ(metadata::PutData(item.item.get(), shortValue), S_OK);
    }
    EXPECT_EQ(FileContent(path), "contents");
    EXPECT_EQ(RawAttributeNames(path), std::vector<std::string>{"user.T"});
}

const std::string kOld = "kept";

// "stored" (and "kept" put back), or the refusal, and whether the old value stayed.
std::string PutOf(IMetaData* item, const fs::path& path, size_t size) {
    const Bytes value(size, 'd');
    SetErrorInfo(0, nullptr);
    const HRESULT hr = metadata::PutData(item, value);
    if (hr == S_OK) {
        const bool whole = RawStream(path, "T") == Raw(value);
        return PutText(item, kOld) == S_OK && whole ? "stored" : "not stored whole";
    }
    const std::string description = TakeRichError().description;
    const bool kept = RawStream(path, "T") == Raw(Utf16Bytes(W(kOld))) && TextOf(item) == kOld;
    return (hr == E_FAIL ? "" : "hr " + std::to_string(hr) + " ") + description +
           (kept ? "" : " (the old value is lost)");
}

TEST(StressLimits, TheLargestValueTheFileSystemTakesAndOneByteMore) {
    TempDir dir;
    const fs::path path = dir / "doc";
    MakeFile(path, "contents");
    ComPtr<IFile> file = NewFile();
    ASSERT_TRUE(Bind(file.get(), path));
    ComPtr<IMetaData> item = Add(file.get(), "T").item;
    ASSERT_TRUE(item && PutText(item.get(), kOld) == S_OK);
    // Halving between what fits and what is refused; no attribute holds more than 64 KiB.
    size_t fits = 0, refused = 65537;
    int refusal = E2BIG;
    while (refused - fits > 1) {
        const size_t middle = fits + (refused - fits) / 2;
        const bool stored = SetUserAttribute(path, "T", Bytes(middle, 'p'));
        if (!stored) refusal = errno;
        (stored ? fits : refused) = middle;
    }
    SetRawStream(path, "T", Raw(Utf16Bytes(W(kOld))));
    const DWORD code = refusal == E2BIG    ? ERROR_FILE_TOO_LARGE
                       : refusal == ENOSPC ? ERROR_EA_TABLE_FULL
                                           : 0;
    ASSERT_NE(code, 0u) << "one byte more is refused with errno " << refusal;
    std::cout << "[ limits   ] the temporary folder takes values of up to " << fits << " bytes"
              << std::endl;
    const auto refusedFor = [](DWORD c) { return WithSystemText("Unable to put data.", c); };
    EXPECT_EQ(PutOf(item.get(), path, fits), "stored");
    EXPECT_EQ(PutOf(item.get(), path, fits + 1), refusedFor(code));
    EXPECT_EQ(PutOf(item.get(), path, 65537), refusedFor(ERROR_FILE_TOO_LARGE));
    EXPECT_EQ(FileContent(path), "contents");
}

}  // namespace
}  // namespace quarrow2::test::stress
