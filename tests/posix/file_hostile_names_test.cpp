// Type names that are not stream names: each fails with the system's reason, or lands on
// the bound file itself, and never reaches another file.
#include <gtest/gtest.h>

#include "file_attributes.h"
#include "portable/file_fixture.h"

namespace quarrow2::test {
namespace {

namespace fs = std::filesystem;

// A folder with the bound file, a neighbour, and a folder named like a stream of the bound
// file holding a file that a separator in a type name would otherwise reach.
struct Neighbourhood {
    TempDir dir;
    fs::path report = dir / "report.doc";
    fs::path neighbour = dir / "neighbour.doc";
    fs::path lookalike = dir / "report.doc:x";
    fs::path victim = lookalike / "victim";

    Neighbourhood() {
        MakeFile(report, "report contents");
        MakeFile(neighbour, "neighbour contents");
        fs::create_directory(lookalike);
        MakeFile(victim, "victim contents");
    }

    void ExpectUntouched() const {
        EXPECT_EQ(Entries(dir.path()),
                  (std::set<std::string>{"report.doc", "neighbour.doc", "report.doc:x"}));
        EXPECT_EQ(Entries(lookalike), std::set<std::string>{"victim"});
        EXPECT_EQ(FileContent(report), "report contents");
        EXPECT_EQ(FileContent(neighbour), "neighbour contents");
        EXPECT_EQ(FileContent(victim), "victim contents");
        EXPECT_TRUE(UserAttributeNames(neighbour).empty());
        EXPECT_TRUE(UserAttributeNames(victim).empty());
        EXPECT_TRUE(UserAttributeNames(lookalike).empty());
        EXPECT_TRUE(UserAttributeNames(dir.path()).empty());
    }
};

// Adds the item, and, when that works, writes through it.
void AddAndWrite(IFile* file, const WString& type, DWORD expectedCode) {
    ItemOutcome added = Add(file, type);
    if (expectedCode != ERROR_SUCCESS) {
        ExpectFileFailure(added, WithSystemText("Unable to add metadata.", expectedCode));
        ExpectFileFailure(Open(file, type),
                          WithSystemText("Unable to open metadata.", expectedCode));
        return;
    }
    ASSERT_EQ(added.hr, S_OK) << added.error.description;
    EXPECT_EQ(PutText(added.item.get(), "written"), S_OK);
    EXPECT_EQ(added.item->Delete(), S_OK);
}

TEST(FileHostileNames, SeparatorsColonsAndUnstorableNamesFailWithTheSystemsReason) {
    Neighbourhood place;
    ComPtr<IFile> file = NewFile();
    ASSERT_TRUE(file && Bind(file.get(), place.report));

    const struct {
        const char* label;
        WString type;
        DWORD code;
    } cases[] = {
        {"a/b", W("a/b"), ERROR_INVALID_NAME},
        {"a\\b", W("a\\b"), ERROR_INVALID_NAME},
        {"x/victim", W("x/victim"), ERROR_INVALID_NAME},
        {"x\\victim", W("x\\victim"), ERROR_INVALID_NAME},
        {"../neighbour.doc", W("../neighbour.doc"), ERROR_INVALID_NAME},
        {"/", W("/"), ERROR_INVALID_NAME},
        {"a:b", W("a:b"), ERROR_INVALID_NAME},
        {"x:victim", W("x:victim"), ERROR_INVALID_NAME},
        {"300 units", WString(300, OLESTR('n')), ERROR_INVALID_NAME},
        {"lone surrogate", WString{'a', 0xD800, 'b'}, ERROR_INVALID_NAME},
        {"trailing lone surrogate", WString{0xDC00}, ERROR_INVALID_NAME},
        // A legal stream name whose UTF-8 form is longer than an attribute name can be.
        {"200 two-byte units", WString(200, static_cast<WCHAR>(0xE9)), ERROR_FILENAME_EXCED_RANGE},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        AddAndWrite(file.get(), c.type, c.code);
    }
    place.ExpectUntouched();
    EXPECT_TRUE(UserAttributeNames(place.report).empty());
}

TEST(FileHostileNames, TrailingDotsAndTheStreamKindStayOnTheBoundFile) {
    Neighbourhood place;
    ComPtr<IFile> file = NewFile();
    ASSERT_TRUE(file && Bind(file.get(), place.report));
    const struct {
        const char* type;
        const char* attribute;
    } cases[] = {{"Author.", "Author."},
                 {"Author ", "Author "},
                 {". x", ". x"},
                 {"x:$DATA", "x"},
                 {"x:$data", "x"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.type);
        ItemOutcome added = Add(file.get(), c.type);
        if (added.hr != S_OK) {
            // Refusing is as good, so long as the reason is the system's.
            EXPECT_EQ(added.error.description.rfind("Unable to add metadata. ", 0), 0u)
                << added.error.description;
            continue;
        }
        ASSERT_EQ(PutText(added.item.get(), "stays"), S_OK);
        EXPECT_EQ(UserAttribute(place.report, c.attribute), Utf16Bytes("stays"));
        EXPECT_EQ(added.item->Delete(), S_OK);
    }
    place.ExpectUntouched();
    EXPECT_TRUE(UserAttributeNames(place.report).empty());
}

TEST(FileHostileNames, NamesOfTheMainStreamNeverReachTheFilesContents) {
    Neighbourhood place;
    ComPtr<IFile> file = NewFile();
    ASSERT_TRUE(file && Bind(file.get(), place.report));
    // Windows trims dots and blanks off the end of a path: these name the file itself there,
    // so they are refused here too.
    for (const char* type : {":$DATA", ":$data", ":$Data", ":$DATA ", "::$DATA", ":", ":x", ".",
                             "..", "...", " ", ". .", " . ", ".:$DATA"}) {
        SCOPED_TRACE(type);
        ExpectFileFailure(Add(file.get(), type), "Access to this data type forbidden.");
        ExpectFileFailure(Open(file.get(), type), "Access to this data type forbidden.");
    }
    // Without the colon these are ordinary names.
    for (const char* type : {"$data", "$DATA "}) {
        SCOPED_TRACE(type);
        ItemOutcome added = Add(file.get(), type);
        ASSERT_EQ(added.hr, S_OK) << added.error.description;
        ASSERT_EQ(PutText(added.item.get(), "not the contents"), S_OK);
        EXPECT_EQ(UserAttribute(place.report, type), Utf16Bytes("not the contents"));
    }
    EXPECT_EQ(UserAttributeNames(place.report), (std::set<std::string>{"$data", "$DATA "}));
    EXPECT_EQ(FileContent(place.report), "report contents");
}

}  // namespace
}  // namespace quarrow2::test
