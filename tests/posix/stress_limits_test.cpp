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

// Whether the attribute can be set to `size` bytes on the file; errno tells why not.
bool Fits(const fs::path& file, const std::string& name, size_t size) {
    const std::string value(size, 'p');
    return setxattr(file.c_str(), ("user." + name).c_str(), value.data(), value.size(), 0) == 0;
}

// The largest value of the attribute that the file system takes, the other attributes of
// the file staying as they are, and the errno that refuses one byte more; found by bisection.
size_t LargestThatFits(const fs::path& file, const std::string& name, const std::string& restore,
                       int* refusal) {
    size_t fits = 0, refused = 65537;
    while (refused - fits > 1) {
        const size_t middle = fits + (refused - fits) / 2;
        (Fits(file, name, middle) ? fits : refused) = middle;
        setxattr(file.c_str(), ("user." + name).c_str(), restore.data(), restore.size(), 0);
    }
    Fits(file, name, refused);
    *refusal = errno;
    setxattr(file.c_str(), ("user." + name).c_str(), restore.data(), restore.size(), 0);
    return fits;
}

DWORD CodeOfRefusal(int error) {
    return error == E2BIG ? ERROR_FILE_TOO_LARGE : error == ENOSPC ? ERROR_DISK_FULL : 0;
}

// An item "T" of a file, holding the text "kept".
struct KeptItem {
    ComPtr<IFile> file;
    ComPtr<IMetaData> item;
    std::string problem;

    explicit KeptItem(const fs::path& path) {
        file = NewFile();
        if (!file || !Bind(file.get(), path)) {
            problem = "cannot bind " + path.string();
            return;
        }
        ItemOutcome added = Add(file.get(), "T");
        item = std::move(added.item);
        if (!item || PutText(item.get(), kOld) != S_OK)
            problem = "cannot add T: " + added.error.description;
    }

    // Empty when a put of `size` bytes is refused with the reason for `code` and the old
    // value stays, on disk and through the item.
    std::string ExpectRefused(const fs::path& path, size_t size, DWORD code) {
        SetErrorInfo(0, nullptr);
        if (metadata::PutData(item.get(), Bytes(size, 'd')) != E_FAIL)
            return "a put of " + std::to_string(size) + " bytes was not refused";
        const std::string description = TakeRichError().description;
        if (description != WithSystemText("Unable to put data.", code))
            return "a put of " + std::to_string(size) + " bytes: \"" + description + "\"";
        if (RawStream(path, "T") != Raw(metadata::Utf16Bytes(W(kOld))))
            return "the refused put of " + std::to_string(size) + " bytes changed the stored value";
        if (TextOf(item.get()) != kOld) return "the item reads another value after the refusal";
        return std::string();
    }

    // Empty when a put of `size` bytes is stored whole.
    std::string ExpectStored(const fs::path& path, size_t size) {
        const Bytes value(size, 'f');
        if (metadata::PutData(item.get(), value) != S_OK)
            return "a put of " + std::to_string(size) +
                   " bytes failed: " + TakeRichError().description;
        if (RawStream(path, "T") != Raw(value))
            return "the value of " + std::to_string(size) + " bytes is not whole";
        if (PutText(item.get(), kOld) != S_OK) return "cannot put the old value back";
        return std::string();
    }
};

TEST(StressLimits, TheLargestValueTheTemporaryFolderTakesAndOneByteMore) {
    TempDir dir;
    const fs::path probe = dir / "probe";
    MakeFile(probe);
    const std::string oldBytes = Raw(metadata::Utf16Bytes(W(kOld)));
    SetRawStream(probe, "T", oldBytes);
    int refusal = 0;
    const size_t largest = LargestThatFits(probe, "T", oldBytes, &refusal);
    const DWORD code = CodeOfRefusal(refusal);
    ASSERT_NE(code, 0u) << "one byte more is refused with errno " << refusal;
    std::cout << "[ limits   ] the temporary folder takes values of up to " << largest << " bytes"
              << std::endl;

    const fs::path path = dir / "doc";
    MakeFile(path, "contents");
    KeptItem kept(path);
    ASSERT_EQ(kept.problem, "");
    EXPECT_EQ(kept.ExpectStored(path, largest), "");
    EXPECT_EQ(kept.ExpectRefused(path, largest + 1, code), "");
    EXPECT_EQ(kept.ExpectRefused(path, 65537, ERROR_FILE_TOO_LARGE), "");
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
        const fs::path full = small / "doc";
        MakeFile(full, "contents");
        if (!Fits(full, "probe", 1))
            return "skip: this kernel's tmpfs keeps no user attributes: " +
                   std::string(strerror(errno));
        removexattr(full.c_str(), "user.probe");

        KeptItem kept(full);
        if (!kept.problem.empty()) return kept.problem;
        // Another program's attribute takes all the space there is.
        int refusal = 0;
        const size_t filler = LargestThatFits(full, "Filler", "", &refusal);
        if (refusal != ENOSPC)
            return "filling the space ended with errno " + std::to_string(refusal);
        SetRawStream(full, "Filler", std::string(filler, 'o'));
        for (size_t size : {size_t{100}, size_t{8}}) {
            const std::string problem = kept.ExpectRefused(full, size, ERROR_DISK_FULL);
            if (!problem.empty()) return problem;
        }
        removexattr(full.c_str(), "user.Filler");
        std::string problem = kept.ExpectStored(full, 100);
        if (!problem.empty()) return "once the space is free again: " + problem;

        const fs::path roomy = usual / "doc";
        MakeFile(roomy, "contents");
        KeptItem large(roomy);
        if (!large.problem.empty()) return large.problem;
        problem = large.ExpectStored(roomy, 65536);
        if (problem.empty()) problem = large.ExpectRefused(roomy, 65537, ERROR_FILE_TOO_LARGE);
        if (problem.empty() &&
            (FileContent(full) != "contents" || FileContent(roomy) != "contents"))
            problem = "a file's contents changed";
        return problem;
    });
    if (report.rfind("skip: ", 0) == 0) GTEST_SKIP() << report.substr(6);
    EXPECT_EQ(report, "");
}

}  // namespace
}  // namespace quarrow2::test::stress
