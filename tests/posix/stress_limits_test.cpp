// Values at the edge of what the file system holds, through items: the largest value that
// fits is stored whole, one byte more is refused with the message and the system's reason,
// and a full attribute space refuses any put; each refusal leaves the old value in place.
#include <gtest/gtest.h>

#include <sched.h>
#include <sys/mount.h>

#include <iostream>

#include "platform_fixture.h"
#include "portable/file_fixture.h"
#include "portable/metadata_fixture.h"

namespace quarrow2::test::stress {
namespace {

using metadata::Bytes;

const std::string kOld = "kept";

std::string Raw(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

// The largest value of the attribute that the file system takes, the file's other attributes
// staying as they are, and the errno that refuses one byte more; found by bisection.
size_t LargestThatFits(const fs::path& file, const std::string& name, const std::string& restore,
                       int* refusal) {
    const auto put = [&](size_t size) {
        const std::string value(size, 'p');
        const bool fits =
            setxattr(file.c_str(), ("user." + name).c_str(), value.data(), size, 0) == 0;
        *refusal = errno;
        SetRawStream(file, name, restore);
        return fits;
    };
    size_t fits = 0, refused = 65537;
    while (refused - fits > 1) {
        const size_t middle = fits + (refused - fits) / 2;
        (put(middle) ? fits : refused) = middle;
    }
    put(refused);
    return fits;
}

// An item "T" of the file, holding the text "kept"; null when it cannot be had.
ComPtr<IMetaData> KeptItem(const fs::path& path) {
    ComPtr<IFile> file = NewFile();
    ItemOutcome added = Bind(file.get(), path) ? Add(file.get(), "T") : ItemOutcome();
    if (added.item && PutText(added.item.get(), kOld) != S_OK) added.item.reset();
    return added.item;
}

// A put of `size` bytes through the item: "stored" when it is stored whole (and "kept" put
// back), else the refusal, and whether the old value stayed, on disk and through the item.
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

// A child reports in lines: the line ends of the system's texts become '/'.
std::string OneLine(std::string text) {
    std::replace(text.begin(), text.end(), '\n', '/');
    return text;
}

std::string Refused(DWORD code) { return WithSystemText("Unable to put data.", code); }

TEST(StressLimits, TheLargestValueTheTemporaryFolderTakesAndOneByteMore) {
    TempDir dir;
    const fs::path path = dir / "doc";
    MakeFile(path, "contents");
    ComPtr<IMetaData> item = KeptItem(path);
    ASSERT_TRUE(item);
    int refusal = 0;
    const size_t largest = LargestThatFits(path, "T", Raw(Utf16Bytes(W(kOld))), &refusal);
    const DWORD code = refusal == E2BIG    ? ERROR_FILE_TOO_LARGE
                       : refusal == ENOSPC ? ERROR_DISK_FULL
                                           : 0;
    ASSERT_NE(code, 0u) << "one byte more is refused with errno " << refusal;
    std::cout << "[ limits   ] the temporary folder takes values of up to " << largest << " bytes"
              << std::endl;
    EXPECT_EQ(PutOf(item.get(), path, largest), "stored");
    EXPECT_EQ(PutOf(item.get(), path, largest + 1), Refused(code));
    EXPECT_EQ(PutOf(item.get(), path, 65537), Refused(ERROR_FILE_TOO_LARGE));
    EXPECT_EQ(FileContent(path), "contents");
}

// In a private mount namespace: one tmpfs whose attribute space is a few KiB (tmpfs counts
// it by the number of inodes allowed), and one of the usual size for the 64 KiB limit.
TEST(StressLimits, AFullAttributeSpaceAndThe64KiBLimitOnTmpfs) {
    TempDir small, usual;
    const std::string report = RunInChild([&]() -> std::string {
        if (unshare(CLONE_NEWNS) != 0 ||
            mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            return "skip: no private mount namespace here (needs root): " +
                   std::string(strerror(errno));
        if (mount("tmpfs", small.path().c_str(), "tmpfs", 0, "size=1m,nr_inodes=8") != 0 ||
            mount("tmpfs", usual.path().c_str(), "tmpfs", 0, "size=1m") != 0)
            return "skip: cannot mount a tmpfs: " + std::string(strerror(errno));
        const fs::path full = small / "doc", roomy = usual / "doc";
        MakeFile(full, "contents");
        MakeFile(roomy, "contents");
        ComPtr<IMetaData> kept = KeptItem(full), large = KeptItem(roomy);
        if (!kept || !large)
            return "skip: this kernel's tmpfs keeps no user attributes: " +
                   std::string(strerror(errno));
        // Another program's attribute takes all the space there is.
        int refusal = 0;
        SetRawStream(full, "Filler",
                     std::string(LargestThatFits(full, "Filler", "", &refusal), 'o'));
        std::string outcome = std::to_string(refusal) + " | " + PutOf(kept.get(), full, 100) +
                              " | " + PutOf(kept.get(), full, 8);
        removexattr(full.c_str(), "user.Filler");
        return OneLine(outcome + " | " + PutOf(kept.get(), full, 100) + " | " +
                       PutOf(large.get(), roomy, 65536) + " | " + PutOf(large.get(), roomy, 65537) +
                       " | " + FileContent(full) + " " + FileContent(roomy));
    });
    if (report.rfind("skip: ", 0) == 0) GTEST_SKIP() << report.substr(6);
    EXPECT_EQ(report, OneLine(std::to_string(ENOSPC) + " | " + Refused(ERROR_DISK_FULL) + " | " +
                              Refused(ERROR_DISK_FULL) + " | stored | stored | " +
                              Refused(ERROR_FILE_TOO_LARGE) + " | contents contents"));
}

}  // namespace
}  // namespace quarrow2::test::stress
