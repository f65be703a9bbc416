// A file that cannot be written: its items open for reading, and every put says why it
// failed. Root may write anywhere, so the file is made immutable, or its folder is mounted
// read-only in a mount namespace of a child process.
#include <gtest/gtest.h>

#include "file_attributes.h"
#include "platform_fixture.h"
#include "portable/file_fixture.h"

namespace quarrow2::test {
namespace {

std::string HexOf(const std::optional<Bytes>& bytes) {
    if (!bytes) return "absent";
    std::string hex;
    for (unsigned char b : *bytes) hex += {"0123456789abcdef"[b >> 4], "0123456789abcdef"[b & 15]};
    return hex;
}

// Line ends shown as text, so that every outcome is one line.
std::string Escaped(const std::string& text) {
    std::string out;
    for (char c : text) out += c == '\r' ? "\\r" : c == '\n' ? "\\n" : std::string(1, c);
    return out;
}

// The items of `report` (which holds Author = "Jane"), tried every way, one line each.
std::vector<std::string> ItemsOfAnUnwritableFile(const fs::path& report) {
    std::vector<std::string> lines;
    ComPtr<IFile> file = NewFile();
    if (!file) return {"no File"};
    lines.push_back(std::string("streams=") + (Bind(file.get(), report) ? "yes" : "no"));

    ItemOutcome author = Add(file.get(), "Author");
    lines.push_back("add=" + (author.hr == S_OK ? "ok" : Escaped(author.error.description)));
    if (author.item) {
        lines.push_back("text=" + TextOf(author.item.get()));
        SetErrorInfo(0, nullptr);
        const HRESULT put = PutText(author.item.get(), "Joan");
        RichError error = TakeRichError();
        lines.push_back("put=" + std::to_string(put) + " " + Escaped(error.description) + " from " +
                        error.source);
    }
    lines.push_back("value=" + HexOf(UserAttribute(report, "Author")));
    author.item.reset();

    ItemOutcome opened = Open(file.get(), "Author");
    lines.push_back("open=" + (opened.hr == S_OK ? TextOf(opened.item.get())
                                                 : Escaped(opened.error.description)));
    opened.item.reset();

    ItemOutcome fresh = Add(file.get(), "Fresh");
    lines.push_back("fresh=" +
                    (fresh.hr == S_OK ? std::string("ok") : Escaped(fresh.error.description)));
    lines.push_back("fresh value=" + HexOf(UserAttribute(report, "Fresh")));
    return lines;
}

std::vector<std::string> ExpectedLines() {
    const std::string denied = Escaped(Narrow(SystemText(ERROR_ACCESS_DENIED)));
    return {"streams=yes",
            "add=ok",
            "text=Jane",
            "put=" + std::to_string(E_FAIL) + " Unable to put text. " + denied +
                " from Quarrow2.MetaData.1",
            "value=" + HexOf(Utf16Bytes("Jane")),
            "open=Jane",
            "fresh=Unable to add metadata. " + denied,
            "fresh value=absent"};
}

fs::path ReportWithAuthorJane(const TempDir& dir) {
    const fs::path report = dir / "report.doc";
    WriteContents(report, "contents");
    EXPECT_TRUE(SetUserAttribute(report, "Author", Utf16Bytes("Jane")));
    return report;
}

TEST(FileReadOnly, ImmutableFileOpensItsItemsForReading) {
    TempDir dir;
    const fs::path report = ReportWithAuthorJane(dir);
    Immutable immutable(report);
    if (!immutable.set())
        GTEST_SKIP() << "cannot make a file immutable here: " << immutable.reason();
    EXPECT_EQ(ItemsOfAnUnwritableFile(report), ExpectedLines());
}

TEST(FileReadOnly, ReadOnlyMountOpensItsItemsForReading) {
    TempDir dir;
    const fs::path report = ReportWithAuthorJane(dir);
    auto joined = [](const std::vector<std::string>& lines) {
        std::string text;
        for (const std::string& line : lines) text += line + " | ";
        return text;
    };
    const std::string outcome = RunInChild([&]() -> std::string {
        const std::string refused = MountReadOnly(dir.path());
        return refused.empty() ? joined(ItemsOfAnUnwritableFile(report)) : "skip: " + refused;
    });
    if (outcome.rfind("skip: ", 0) == 0)
        GTEST_SKIP() << "cannot mount a folder read-only here: " << outcome.substr(6);
    EXPECT_EQ(outcome, joined(ExpectedLines()));
    // Outside the child's namespace nothing changed.
    EXPECT_EQ(UserAttributeNames(report), std::set<std::string>{"Author"});
}

}  // namespace
}  // namespace quarrow2::test
