// Input chosen to break things, through the library's interfaces: missing out-arguments,
// strings with zero units, names and paths of the greatest lengths, unpaired surrogates,
// type names and bound paths that try to reach beyond the file they name. Each call gives a
// clear result, and nothing but the named item of the named file is ever read or written.
#include <gtest/gtest.h>

#include "file_attributes.h"
#include "portable/file_fixture.h"

namespace quarrow2::test {
namespace {

namespace fs = std::filesystem;

// Everything a test could change on disk below a folder: each entry, its contents and its
// "user." attributes with their values.
std::string Snapshot(const fs::path& folder) {
    std::string state;
    std::vector<fs::path> entries;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        entries.push_back(entry.path());
    std::sort(entries.begin(), entries.end());
    for (const fs::path& path : entries) {
        state += fs::relative(path, folder).string();
        if (fs::is_regular_file(fs::symlink_status(path))) state += " [" + FileContent(path) + "]";
        for (const std::string& name : UserAttributeNames(path)) {
            const std::optional<Bytes> value = UserAttribute(path, name);
            state += " " + name + "=" + (value ? std::string(value->begin(), value->end()) : "?");
        }
        state += "\n";
    }
    return state;
}

// A folder with the bound file, a neighbour, and a folder named like a stream of the bound
// file holding a file that a separator in a type name would otherwise reach.
struct BoundFile {
    TempDir dir;
    fs::path path = dir / "report.doc";
    ComPtr<IFile> file = NewFile();
    std::string before;

    BoundFile() {
        MakeFile(path, "contents");
        MakeFile(dir / "neighbour.doc", "neighbour");
        fs::create_directory(dir / "report.doc:x");
        MakeFile(dir / "report.doc:x" / "victim", "victim");
        before = Snapshot(dir.path());
        EXPECT_TRUE(file && Bind(file.get(), path));
    }
    void ExpectUntouched() const { EXPECT_EQ(Snapshot(dir.path()), before); }
};

// Adds the item and, when that works, writes through it and removes it.
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

TEST(HostileInput, MissingOutArgumentsChangeNothingOnDiskOrInTheObjects) {
    BoundFile bound;
    ItemOutcome author = Add(bound.file.get(), "Author");
    ASSERT_EQ(author.hr, S_OK);
    ASSERT_EQ(PutText(author.item.get(), "Jane"), S_OK);
    ComPtr<IStrings> types;
    ASSERT_EQ(bound.file->get_Types(types.out()), S_OK);
    const std::string before = Snapshot(bound.dir.path());
    SetErrorInfo(0, nullptr);

    // Neither a missing item nor a missing file is made for an out-argument that is missing.
    UniqueBstr author2 = Bstr("Other");
    EXPECT_EQ(bound.file->Add(author2.get(), nullptr), E_POINTER);
    EXPECT_EQ(bound.file->Open(author2.get(), nullptr), E_POINTER);
    ComPtr<IFile> unbornFile = NewFile();
    ASSERT_TRUE(Bind(unbornFile.get(), bound.dir / "missing.doc"));
    EXPECT_EQ(unbornFile->Add(author2.get(), nullptr), E_POINTER);
    UniqueBstr elsewhere = Bstr((bound.dir / "elsewhere.doc").string());
    EXPECT_EQ(bound.file->SetFile(elsewhere.get(), nullptr), E_POINTER);
    EXPECT_EQ(bound.file->get_Supported(nullptr), E_POINTER);
    EXPECT_EQ(bound.file->get_Exists(nullptr), E_POINTER);
    EXPECT_EQ(bound.file->get_Length(nullptr), E_POINTER);
    EXPECT_EQ(bound.file->get_Types(nullptr), E_POINTER);

    EXPECT_EQ(author.item->get_Name(nullptr), E_POINTER);
    EXPECT_EQ(author.item->get_Length(nullptr), E_POINTER);
    EXPECT_EQ(author.item->get_Text(nullptr), E_POINTER);
    EXPECT_EQ(author.item->get_Data(nullptr), E_POINTER);

    EXPECT_EQ(types->get_Count(nullptr), E_POINTER);
    EXPECT_EQ(types->get_Item(1, nullptr), E_POINTER);
    EXPECT_EQ(types->get__NewEnum(nullptr), E_POINTER);

    // The dispatch half of each dual interface, whether or not the type library loads. (The
    // class factory, the enumerator, GetTypeInfo and QueryInterface: the portable suites.)
    OLECHAR nameText[] = OLESTR("Text");
    LPOLESTR names[] = {nameText};
    IDispatch* dispatches[] = {bound.file.get(), author.item.get(), types.get()};
    for (IDispatch* dispatch : dispatches) {
        EXPECT_EQ(dispatch->GetTypeInfoCount(nullptr), E_POINTER);
        EXPECT_EQ(dispatch->GetIDsOfNames(IID_NULL, names, 1, 0, nullptr), E_POINTER);
    }

    EXPECT_FALSE(TakeRichError().present);
    EXPECT_EQ(Snapshot(bound.dir.path()), before);
    // The objects are as they were: still bound to the same file, the item still open.
    EXPECT_EQ(TextOf(author.item.get()), "Jane");
    LONG count = 0;
    EXPECT_EQ(types->get_Count(&count), S_OK);
    EXPECT_EQ(count, 1);
    ItemOutcome again = Open(bound.file.get(), "Author");
    ExpectFileFailure(again, WithSystemText("Unable to open metadata.", ERROR_SHARING_VIOLATION));
}

TEST(HostileInput, ZeroUnitsEmptyAndAbsentStringsStopWhereTheyShould) {
    BoundFile bound;

    // A path is read up to its first zero unit: what follows never names a file.
    WString path = PathW(bound.path);
    path.push_back(0);
    path += W("/../neighbour.doc");
    ASSERT_TRUE(Bind(bound.file.get(), path));
    ItemOutcome item = Add(bound.file.get(), WString{'T', 0, '/', '.', '.'});
    ASSERT_EQ(item.hr, S_OK) << item.error.description;
    UniqueBstr name;
    ASSERT_EQ(item.item->get_Name(name.out()), S_OK);
    EXPECT_EQ(Narrow(name.get()), "T");
    // A value keeps its zero units.
    const WString withZeros{'a', 0, 'b', 0};
    UniqueBstr value = BstrOf(withZeros);
    ASSERT_EQ(item.item->put_Text(value.get()), S_OK);
    EXPECT_EQ(UserAttributeNames(bound.path), std::set<std::string>{"T"});
    EXPECT_EQ(UserAttribute(bound.path, "T"), (Bytes{'a', 0, 0, 0, 'b', 0, 0, 0}));
    ASSERT_EQ(item.item->Delete(), S_OK);

    // (Absent and empty paths, type names and values: the portable binding, checks and
    // stored-form suites.)
    bound.ExpectUntouched();
}

TEST(HostileInput, TheLongestNamesAndPathsAndUnpairedSurrogatesFailClearly) {
    BoundFile bound;
    MakeFile(bound.dir / "a?b", "a file a lone surrogate could turn into");
    bound.before = Snapshot(bound.dir.path());

    // A type name of the greatest length an automation string of 16-bit length can have.
    const WString longest(65535, OLESTR('n'));
    ExpectFileFailure(Add(bound.file.get(), longest),
                      WithSystemText("Unable to add metadata.", ERROR_INVALID_NAME));
    ExpectFileFailure(Open(bound.file.get(), longest),
                      WithSystemText("Unable to open metadata.", ERROR_INVALID_NAME));

    // Paths of the greatest length Windows has, 32,767 units: one that leads back to the
    // bound file through "./" steps, and one long name.
    WString stepped = PathW(bound.dir.path()) + OLESTR("/");
    while (stepped.size() + 2 + 10 <= 32767) stepped += OLESTR("./");
    stepped += OLESTR("report.doc");
    WString longName = PathW(bound.dir.path()) + OLESTR("/") +
                       WString(32767 - PathW(bound.dir.path()).size() - 1, OLESTR('x'));
    // Open of the long name finds no such file; Add cannot make one.
    const struct {
        WString path;
        DWORD openCode;
    } longPaths[] = {{stepped, ERROR_FILENAME_EXCED_RANGE}, {longName, ERROR_FILE_NOT_FOUND}};
    for (const auto& [path, openCode] : longPaths) {
        SCOPED_TRACE(path.size());
        ComPtr<IFile> file = NewFile();
        Bind(file.get(), path);
        ExpectFileFailure(Add(file.get(), "T"),
                          WithSystemText("Unable to add metadata.", ERROR_FILENAME_EXCED_RANGE));
        ExpectFileFailure(Open(file.get(), "T"),
                          WithSystemText("Unable to open metadata.", openCode));
        VARIANT_BOOL exists = VARIANT_TRUE;
        EXPECT_EQ(file->get_Exists(&exists), S_OK);
        EXPECT_EQ(exists, VARIANT_FALSE);
        LONG length = -1;
        EXPECT_EQ(file->get_Length(&length), S_OK);
        EXPECT_EQ(length, 0);
    }

    // An unpaired surrogate in the path: never "a?b", the file a conversion would reach.
    // The volume probe cannot name the path's volume either, so items are refused first.
    for (WCHAR lone : {static_cast<WCHAR>(0xD800), static_cast<WCHAR>(0xDFFF)}) {
        ComPtr<IFile> file = NewFile();
        EXPECT_FALSE(Bind(file.get(), PathW(bound.dir.path()) + WString{'/', 'a', lone, 'b'}));
        ExpectFileFailure(Add(file.get(), "T"), "Volume does not support streams.");
        VARIANT_BOOL exists = VARIANT_TRUE;
        EXPECT_EQ(file->get_Exists(&exists), S_OK);
        EXPECT_EQ(exists, VARIANT_FALSE);
        ComPtr<IStrings> types;
        ASSERT_EQ(file->get_Types(types.out()), S_OK);
        LONG count = -1;
        EXPECT_EQ(types->get_Count(&count), S_OK);
        EXPECT_EQ(count, 0);
    }
    bound.ExpectUntouched();
}

TEST(HostileInput, SeparatorsColonsAndUnstorableTypeNamesFailWithTheSystemsReason) {
    BoundFile bound;
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
        AddAndWrite(bound.file.get(), c.type, c.code);
    }
    // Windows trims dots and blanks off the end of a path: these name the file itself there,
    // so they are refused here too.
    for (const char* type : {":$DATA", ":$data", ":$Data", ":$DATA ", "::$DATA", ":", ":x", ".",
                             "..", "...", " ", ". .", " . ", ".:$DATA"}) {
        SCOPED_TRACE(type);
        ExpectFileFailure(Add(bound.file.get(), type), "Access to this data type forbidden.");
        ExpectFileFailure(Open(bound.file.get(), type), "Access to this data type forbidden.");
    }
    bound.ExpectUntouched();
}

// Names that only look like the main stream, or end in dots, blanks or the stream kind, are
// items of the bound file, also of one whose own name starts with a colon, as Linux allows.
TEST(HostileInput, LookalikeTypeNamesAreItemsOfTheBoundFile) {
    BoundFile bound;
    MakeFile(bound.dir / ":lead", "contents");
    bound.before = Snapshot(bound.dir.path());
    const std::pair<const char*, const char*> cases[] = {
        {"$data", "$data"},     {"$Data", "$Data"}, {"$DATA ", "$DATA "}, {"Author.", "Author."},
        {"Author ", "Author "}, {". x", ". x"},     {"x:$DATA", "x"},     {"x:$data", "x"}};
    for (const fs::path& path : {bound.path, bound.dir / ":lead"}) {
        ASSERT_TRUE(Bind(bound.file.get(), path));
        for (const auto& [type, attribute] : cases) {
            SCOPED_TRACE(path.filename().string() + " " + type);
            ItemOutcome added = Add(bound.file.get(), type);
            ASSERT_EQ(added.hr, S_OK) << added.error.description;
            ASSERT_EQ(PutText(added.item.get(), "item"), S_OK);
            EXPECT_EQ(UserAttribute(path, attribute), Utf16Bytes("item"));
            EXPECT_EQ(added.item->Delete(), S_OK);
        }
    }
    bound.ExpectUntouched();
}

// Bound paths that dress a stream, a parent or a separator up as part of a file name. Each
// either fails, or binds the very file its Linux path names; nothing else is touched.
TEST(HostileInput, BoundPathsNeverReachAnotherFile) {
    BoundFile bound;
    const std::string folder = bound.dir.path().string();

    const char* const suffixes[] = {
        ":",
        "::$DATA",
        ":$DATA",
        ":$data",
        ":x:$DATA",
        ":T",
        ":../neighbour.doc",
        "::T",
        ":x:T",
        "/.",
        "/..",
        "\\..\\neighbour.doc",
        ":\\..\\neighbour.doc",
        "::$DATA/../neighbour.doc",
    };
    for (const char* suffix : suffixes) {
        SCOPED_TRACE(suffix);
        ComPtr<IFile> file = NewFile();
        const std::string path = folder + "/report.doc" + suffix;
        Bind(file.get(), W(path));
        ItemOutcome added = Add(file.get(), "T");
        if (added.hr == S_OK) {
            // Only a file that the path names as Linux reads it may carry the item.
            EXPECT_EQ(PutText(added.item.get(), "x"), S_OK);
            EXPECT_TRUE(UserAttribute(path, "T").has_value()) << "the item is not on " << path;
            EXPECT_EQ(added.item->Delete(), S_OK);
        } else {
            EXPECT_EQ(added.error.description.rfind("Unable to add metadata. ", 0), 0u)
                << added.error.description;
        }
        ItemOutcome opened = Open(file.get(), "T");
        EXPECT_NE(opened.hr, S_OK);
        LONG length = -1;
        EXPECT_EQ(file->get_Length(&length), S_OK);
        EXPECT_EQ(length, 0);
        std::error_code ignored;
        if (fs::is_regular_file(path, ignored) && path.find("report.doc\\") != std::string::npos)
            fs::remove(path);
    }
    bound.ExpectUntouched();
}

}  // namespace
}  // namespace quarrow2::test
