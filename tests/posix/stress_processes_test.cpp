// Many processes, one file: each opens, adds, writes, reads, closes and deletes the same
// four items in a seeded random order, as fast as it can. Every value read must be one
// that some process wrote, whole; every refusal must be the one the share modes call for,
// with its message and the system's text; no process may leak a descriptor; and the file
// must end with none but the four items.
//
// QUARROW2_STRESS_SEED picks another seed; the seed in use is printed.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <random>

#include "file_attributes.h"
#include "platform_fixture.h"
#include "portable/file_fixture.h"
#include "portable/metadata_fixture.h"

namespace quarrow2::test::stress {
namespace {

constexpr int kProcesses = 8;
constexpr int kOperations = 5000;
constexpr int kTypes = 4;
// Four values of this size and their names fit the 4 KiB that ext4 keeps for all of a
// file's attributes, so no put fails for want of space.
constexpr size_t kLongestValue = 700;
constexpr uint32_t kDefaultSeed = 20240611;

using Bytes = metadata::Bytes;

uint32_t Seed() {
    const char* chosen = std::getenv("QUARROW2_STRESS_SEED");
    return chosen && *chosen ? static_cast<uint32_t>(std::strtoul(chosen, nullptr, 10))
                             : kDefaultSeed;
}

std::string TypeName(int index) { return "T" + std::to_string(index); }

uint32_t Fnv1a(const unsigned char* p, size_t n) {
    uint32_t hash = 2166136261u;
    for (size_t i = 0; i < n; ++i) hash = (hash ^ p[i]) * 16777619u;
    return hash;
}

// A value that tells by itself whether it is whole: 'Q', the writer, its sequence number,
// its own length, bytes derived from these, and a hash of everything before the hash.
Bytes MakeValue(int writer, uint32_t sequence, size_t length) {
    Bytes value(length);
    value[0] = 'Q';
    value[1] = static_cast<unsigned char>(writer);
    for (int i = 0; i < 4; ++i) value[2 + i] = static_cast<unsigned char>(sequence >> (8 * i));
    value[6] = static_cast<unsigned char>(length & 0xFF);
    value[7] = static_cast<unsigned char>(length >> 8);
    for (size_t i = 8; i + 4 < length; ++i)
        value[i] = static_cast<unsigned char>(
            (sequence * 31 + i * 7 + static_cast<size_t>(writer)) & 0xFF);
    const uint32_t hash = Fnv1a(value.data(), length - 4);
    for (int i = 0; i < 4; ++i) value[length - 4 + i] = static_cast<unsigned char>(hash >> (8 * i));
    return value;
}
constexpr size_t kShortestValue = 12;

// Empty when the bytes are the empty value or a whole value of MakeValue; else what is wrong.
std::string CheckValue(const Bytes& value) {
    if (value.empty()) return std::string();
    if (value.size() < kShortestValue)
        return "a value of " + std::to_string(value.size()) + " bytes";
    if (value[0] != 'Q' || value[1] >= kProcesses) return "a value of unknown form";
    const size_t length = value[6] | (static_cast<size_t>(value[7]) << 8);
    if (length != value.size())
        return "a value of " + std::to_string(value.size()) + " bytes that says " +
               std::to_string(length);
    uint32_t hash = 0;
    for (int i = 0; i < 4; ++i)
        hash |= static_cast<uint32_t>(value[value.size() - 4 + i]) << (8 * i);
    if (hash != Fnv1a(value.data(), value.size() - 4))
        return "a mixed value (its hash does not match)";
    return std::string();
}

size_t OpenDescriptors() {
    size_t count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        (void)entry;
        ++count;
    }
    return count;
}

// One process's share of the work. Empty when everything it saw was right, else the first
// thing that was not.
class Worker {
public:
    Worker(int index, uint32_t seed, const std::filesystem::path& file)
        : index_(index), random_(seed + static_cast<uint32_t>(index) * 7919u), file_(file) {}

    std::string Run() {
        ComPtr<IFile> file = NewFile();
        if (!file || !Bind(file.get(), file_)) return "cannot bind the file";
        const size_t descriptors = OpenDescriptors();
        for (int op = 0; op < kOperations && failure_.empty(); ++op) Step(file.get());
        for (auto& item : items_) {
            if (item && item->Close() != S_OK) Fail("Close at the end failed");
            item.reset();
        }
        if (failure_.empty() && OpenDescriptors() != descriptors)
            Fail(std::to_string(descriptors) + " descriptors before, " +
                 std::to_string(OpenDescriptors()) + " after");
        return failure_;
    }

private:
    void Fail(const std::string& what) {
        if (failure_.empty()) failure_ = "process " + std::to_string(index_) + ": " + what;
    }

    // A refusal is right when its description is one of these, exactly.
    void ExpectRefusal(const std::string& description, const std::string& message,
                       std::initializer_list<DWORD> codes) {
        for (DWORD code : codes)
            if (description == WithSystemText(message, code)) return;
        Fail(message + " came as \"" + description + "\"");
    }

    void Step(IFile* file) {
        const int type = static_cast<int>(random_() % kTypes);
        ComPtr<IMetaData>& item = items_[type];
        if (!item) {
            // Open finds the item missing when another process has just deleted it.
            const bool add = random_() % 3 != 0;
            ItemOutcome outcome =
                add ? Add(file, TypeName(type).c_str()) : Open(file, TypeName(type).c_str());
            if (outcome.hr == S_OK) {
                item = std::move(outcome.item);
            } else if (add) {
                ExpectRefusal(outcome.error.description, "Unable to add metadata.",
                              {ERROR_SHARING_VIOLATION});
            } else {
                ExpectRefusal(outcome.error.description, "Unable to open metadata.",
                              {ERROR_SHARING_VIOLATION, ERROR_FILE_NOT_FOUND});
            }
            return;
        }
        const unsigned choice = random_() % 100;
        if (choice < 35) {
            // A writer lets go of an item it finds read-only, as a client that wants to
            // write would, so that read-only holders do not keep writers out for long.
            if (!Put(item.get())) {
                item->Close();
                item.reset();
            }
        } else if (choice < 75) {
            Get(item.get());
        } else if (choice < 95) {
            if (item->Close() != S_OK) Fail("Close failed");
            item.reset();
        } else {
            SetErrorInfo(0, nullptr);
            // Between the close and the removal another process may take the stream, or
            // take and delete it.
            if (item->Delete() != S_OK)
                ExpectRefusal(TakeRichError().description, "Unable to delete file.",
                              {ERROR_SHARING_VIOLATION, ERROR_FILE_NOT_FOUND});
            item.reset();
        }
    }

    // False when the item turned out to be read-only.
    bool Put(IMetaData* item) {
        const bool asText = random_() % 4 == 0;
        const bool empty = random_() % 20 == 0;
        size_t length = kShortestValue + random_() % (kLongestValue - kShortestValue + 1);
        if (asText) length &= ~size_t{1};
        const Bytes value = empty ? Bytes() : MakeValue(index_, sequence_++, length);
        SetErrorInfo(0, nullptr);
        HRESULT hr;
        if (asText) {
            UniqueBstr text(SysAllocStringByteLen(reinterpret_cast<const char*>(value.data()),
                                                  static_cast<UINT>(value.size())));
            hr = item->put_Text(text.get());
        } else {
            hr = metadata::PutData(item, value);
        }
        if (hr == S_OK) return true;
        // An item is read-only when its read-write open met another holder and its read-only
        // open, a moment later, did not: the second of the two attempts an open makes.
        const std::string description = TakeRichError().description;
        const std::string message = asText ? "Unable to put text." : "Unable to put data.";
        ExpectRefusal(description, message, {ERROR_LOCK_VIOLATION, ERROR_ACCESS_DENIED});
        return description != WithSystemText(message, ERROR_ACCESS_DENIED);
    }

    void Get(IMetaData* item) {
        const bool asText = random_() % 2 == 0;
        SetErrorInfo(0, nullptr);
        HRESULT hr;
        Bytes value;
        if (asText) {
            UniqueBstr text;
            hr = item->get_Text(text.out());
            value = metadata::BstrBytes(text.get());
        } else {
            UniqueVariant data;
            hr = item->get_Data(data.get());
            if (hr == S_OK && data->vt == (VT_ARRAY | VT_UI1)) value = metadata::ArrayBytes(*data);
        }
        if (hr != S_OK) {
            ExpectRefusal(TakeRichError().description,
                          asText ? "Unable to get text." : "Unable to get data.",
                          {ERROR_LOCK_VIOLATION});
            return;
        }
        const std::string wrong = CheckValue(value);
        if (!wrong.empty()) Fail("a get returned " + wrong);
    }

    int index_;
    std::mt19937 random_;
    std::filesystem::path file_;
    ComPtr<IMetaData> items_[kTypes];
    uint32_t sequence_ = 0;
    std::string failure_;
};

TEST(StressProcesses, EightProcessesShareOneFileAndSeeOnlyWholeValues) {
    TempDir dir;
    const std::filesystem::path file = dir / "shared.doc";
    MakeFile(file, "the shared file's contents");
    const uint32_t seed = Seed();
    std::cout << "[ stress   ] seed " << seed << " (QUARROW2_STRESS_SEED)" << std::endl;

    std::vector<std::unique_ptr<Child>> workers;
    for (int i = 0; i < kProcesses; ++i) {
        workers.push_back(std::make_unique<Child>([&, i](Child& self) {
            Worker worker(i, seed, file);
            self.Send("ready");
            self.Receive();
            const std::string failure = worker.Run();
            self.Send(failure.empty() ? "ok" : "failed " + failure);
            return 0;
        }));
        ASSERT_TRUE(workers.back()->started());
    }
    for (auto& worker : workers) ASSERT_EQ(worker->Receive(), "ready");
    const auto start = std::chrono::steady_clock::now();
    for (auto& worker : workers) worker->Send("go");

    for (int i = 0; i < kProcesses; ++i) {
        const std::string report = workers[i]->Receive();
        EXPECT_EQ(report, "ok") << (report.empty() ? "process " + std::to_string(i) + " died" : "");
        EXPECT_EQ(workers[i]->Wait(), 0);
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::cout << "[ stress   ] " << kProcesses * kOperations << " operations in " << seconds << " s"
              << std::endl;

    // Only the four items, each holding a whole value; the contents untouched.
    for (const std::string& name : UserAttributeNames(file)) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(name == "T0" || name == "T1" || name == "T2" || name == "T3");
        std::optional<test::Bytes> stored = UserAttribute(file, name);
        ASSERT_TRUE(stored.has_value());
        const Bytes bytes(stored->begin(), stored->end());
        EXPECT_EQ(CheckValue(bytes == metadata::EmptyValueMarker() ? Bytes() : bytes), "");
    }
    EXPECT_EQ(FileContent(file), "the shared file's contents");
}

}  // namespace
}  // namespace quarrow2::test::stress
