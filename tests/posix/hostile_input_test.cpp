// Hostile names, paths, out-arguments and special files: clear results, nothing else touched.
#include <sys/stat.h>

#include "platform_fixture.h"
#include "portable/file_fixture.h"
#include "portable/file_properties_fixture.h"

namespace quarrow2::test {
namespace {

// Add and Open of the type both refused for the system's reason `code`.
void ExpectRefused(IFile* file, const WString& type, DWORD code) {
    SCOPED_TRACE(::testing::PrintToString(type));
    ExpectFileFailure(Add(file, type), "Unable to add metadata.", code);
    ExpectFileFailure(Open(file, type), "Unable to open metadata.", code);
}

// Every call of File on the path, and of the item Add hands out, as one line.
std::string EveryCall(const WString& path) {
    ComPtr<IFile> file = NewFile();
    std::string line = Bind(file.get(), path) ? "" : "no streams ";
    line += Exists(file.get()) ? "exists" : "absent";
    line += " | open: " + Open(file.get(), "T").error.description;
    ItemOutcome added = Add(file.get(), "T");
    line += " | add: " + added.error.description;
    if (added.item && (PutText(added.item.get(), "x") != S_OK || TextOf(added.item.get()) != "x"))
        line += " | the added item does not keep its value";
    ComPtr<IStrings> types;
    LONG count = -1, length = -1;
    if (file->get_Types(types.out()) != S_OK || types->get_Count(&count) != S_OK ||
        file->get_Length(&length) != S_OK)
        return line + " | Types or Length failed";
    line += " | types:";
    for (LONG i = 1; i <= count; ++i) line += " " + ItemText(types.get(), i);
    line += " | length " + std::to_string(length);
    if (added.item && added.item->Delete() != S_OK) line += " | Delete failed";
    return line;
}

std::string Expected(bool exists, DWORD openCode, DWORD addCode, const std::string& types) {
    return std::string(exists ? "exists" : "absent") +
           " | open: " + (openCode ? WithSystemText("Unable to open metadata.", openCode) : "") +
           " | add: " + (addCode ? WithSystemText("Unable to add metadata.", addCode) : "") +
           " | types:" + types + " | length " + (types.empty() ? "0" : "2");
}

// Files a hostile name could reach instead of the bound one; nothing of it may change.
class HostileInput : public BoundFileTest {
protected:
    void SetUp() override {
        MakeFile(dir / "neighbour.doc", "neighbour");
        fs::create_directory(dir / "report.doc:x");
        MakeFile(dir / "report.doc:x" / "victim", "victim");
        MakeFile(dir / "a?b", "a?b");
        before_ = Snapshot(dir.path());
        BoundFileTest::SetUp();
    }
    void TearDown() override { EXPECT_EQ(Snapshot(dir.path()), before_); }

    std::string before_;
};

TEST_F(HostileInput, MissingOutArgumentsChangeNothingOnDiskOrInTheObjects) {
    ItemOutcome author = Add(file.get(), "Author");
    ASSERT_EQ(author.hr, S_OK);
    ASSERT_EQ(PutText(author.item.get(), "Jane"), S_OK);
    ComPtr<IStrings> types;
    ASSERT_EQ(file->get_Types(types.out()), S_OK);
    ComPtr<IFile> unborn = NewFile();
    ASSERT_TRUE(Bind(unborn.get(), dir / "missing.doc"));
    SetErrorInfo(0, nullptr);

    UniqueBstr o = Bstr("Other"), elsewhere = Bstr((dir / "elsewhere.doc").string());
    LPOLESTR names[] = {const_cast<LPOLESTR>(OLESTR("Text"))};
    IFile* f = file.get();
    const ComPtr<IFile2> f2 = Extended(f);
    IMetaData* m = author.item.get();
    IStrings* s = types.get();
    // The dispatch half of each dual interface too, whether or not the type library loads.
    int call = 0;
    for (HRESULT hr :
         {f->Add(o.get(), nullptr), f->Open(o.get(), nullptr), unborn->Add(o.get(), nullptr),
          f->SetFile(elsewhere.get(), nullptr), f->get_Supported(nullptr), f->get_Exists(nullptr),
          f->get_Length(nullptr), f->get_Types(nullptr), f->GetTypeInfoCount(nullptr),
          f->GetIDsOfNames(IID_NULL, names, 1, 0, nullptr), f2->get_Items(nullptr),
          f2->ReadText(o.get(), nullptr), f2->ReadData(o.get(), nullptr)})
        EXPECT_EQ(hr, E_POINTER) << "call on the file " << call++;
    for (HRESULT hr :
         {m->get_Name(nullptr), m->get_Length(nullptr), m->get_Text(nullptr), m->get_Data(nullptr),
          m->GetTypeInfoCount(nullptr), m->GetIDsOfNames(IID_NULL, names, 1, 0, nullptr)})
        EXPECT_EQ(hr, E_POINTER) << "call on the item " << call++;
    for (HRESULT hr :
         {s->get_Count(nullptr), s->get_Item(1, nullptr), s->get__NewEnum(nullptr),
          s->GetTypeInfoCount(nullptr), s->GetIDsOfNames(IID_NULL, names, 1, 0, nullptr)})
        EXPECT_EQ(hr, E_POINTER) << "call on the types " << call++;
    EXPECT_FALSE(TakeRichError().present);
    // Still bound to the same file, the item still open.
    EXPECT_EQ(TextOf(m), "Jane");
    EXPECT_EQ(ItemText(s, 1), "Author");
    ExpectFileFailure(Open(f, "Author"), "Unable to open metadata.", ERROR_SHARING_VIOLATION);
    EXPECT_EQ(m->Delete(), S_OK);
}

TEST_F(HostileInput, TypeNamesAndPathsThatCannotNameAnItemOfTheFileAreRefused) {
    for (const char* type :
         {"a/b", "a\\b", "x/victim", "x\\victim", "../neighbour.doc", "/", "a:b", "x:victim"})
        ExpectRefused(file.get(), W(type), ERROR_INVALID_NAME);
    // The longest automation string (16-bit length) among them.
    for (const WString& type : {WString(300, OLESTR('n')), WString(65535, OLESTR('n')),
                                WString{'a', 0xD800, 'b'}, WString{0xDC00}})
        ExpectRefused(file.get(), type, ERROR_INVALID_NAME);
    // A legal stream name whose UTF-8 form is longer than an attribute name can be.
    ExpectRefused(file.get(), WString(200, static_cast<WCHAR>(0xE9)), ERROR_FILENAME_EXCED_RANGE);

    // Paths of 32,767 units: "./" steps back to the bound file, and one long name.
    const WString folder = PathW(dir.path()) + OLESTR("/");
    WString stepped = folder;
    while (stepped.size() + 2 + 10 <= 32767) stepped += OLESTR("./");
    EXPECT_EQ(EveryCall(stepped + OLESTR("report.doc")),
              Expected(false, ERROR_FILENAME_EXCED_RANGE, ERROR_FILENAME_EXCED_RANGE, ""));
    EXPECT_EQ(EveryCall(folder + WString(32767 - folder.size(), OLESTR('x'))),
              Expected(false, ERROR_FILE_NOT_FOUND, ERROR_FILENAME_EXCED_RANGE, ""));

    // Never "a?b", which a conversion would reach; no volume is named, so items are refused.
    const std::string noStreams = "Volume does not support streams.";
    for (WCHAR lone : {static_cast<WCHAR>(0xD800), static_cast<WCHAR>(0xDFFF)})
        EXPECT_EQ(EveryCall(folder + WString{'a', lone, 'b'}),
                  "no streams absent | open: " + noStreams + " | add: " + noStreams +
                      " | types: | length 0");
}

// No call waits on or touches a FIFO, socket or device; a link to nothing stays so.
TEST(HostileSpecialFiles, NothingWaitsNothingTouchesADeviceEachAnswersClearly) {
    TempDir dir;
    const fs::path fifo = dir / "fifo", socketPath = dir / "socket";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0666), 0);
    ASSERT_EQ(mknod(socketPath.c_str(), S_IFSOCK | 0666, 0), 0);
    MakeFile(dir / "file", "contents");
    fs::create_directory(dir / "folder");
    fs::create_symlink("file", dir / "to-file");
    fs::create_symlink("nothing", dir / "to-nothing");
    fs::create_symlink("fifo", dir / "to-fifo");
    fs::create_symlink("loop-b", dir / "loop-a");
    fs::create_symlink("loop-a", dir / "loop-b");
    // Names with colons, with and without a file before the colon, one only after a folder;
    // a name that is not UTF-8.
    for (const char* name : {"doc:T", "a:b", "c:d", "c", "\xFF", "folder/:T"})
        MakeFile(dir / name, name);

    const std::string denied = Expected(false, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED, "");
    const std::pair<fs::path, std::string> kinds[] = {
        {fifo, denied},
        {socketPath, denied},
        {dir / "to-fifo", denied},
        // Folders carry items, as files do, however spelt: never the file ":T" in one.
        {dir / "folder", Expected(true, ERROR_FILE_NOT_FOUND, 0, " T")},
        {dir / "folder/", Expected(true, ERROR_FILE_NOT_FOUND, 0, " T")},
        {dir / "folder/.", Expected(true, ERROR_FILE_NOT_FOUND, 0, " T")},
        {dir / "folder//", Expected(true, ERROR_FILE_NOT_FOUND, 0, " T")},
        // The item T of "doc" is never the file "doc:T": Add makes "doc" and its item.
        {dir / "doc", Expected(false, ERROR_FILE_NOT_FOUND, 0, " T")},
        {dir / "a:b", Expected(true, ERROR_FILE_NOT_FOUND, 0, " T")},
        {dir / "c:d", Expected(true, ERROR_FILE_NOT_FOUND, 0, " T")},
        {dir / "to-file", Expected(true, ERROR_FILE_NOT_FOUND, 0, " T")},
        // Creating the item would create the link's target, a file the path does not name.
        {dir / "to-nothing", Expected(false, ERROR_FILE_NOT_FOUND, ERROR_FILE_NOT_FOUND, "")},
        {"/dev/null", denied},
        {"/dev/zero", denied}};
    FileWatch watches[] = {{fifo, IN_ALL_EVENTS}, {socketPath, IN_ALL_EVENTS}};
    for (FileWatch& watch : watches) ASSERT_TRUE(watch.ok());

    for (const auto& [path, expected] : kinds) {
        SCOPED_TRACE(path.string());
        EXPECT_EQ(RunInChild([&] {
                      alarm(60);  // only a call that waits forever takes this long
                      return OneLine(EveryCall(PathW(path)));
                  }),
                  OneLine(expected));
    }
    EXPECT_EQ(EveryCall(PathW(dir.path()) + W("/") + WString{0xDCFF}),
              Expected(true, ERROR_FILE_NOT_FOUND, 0, " T"));
    for (const char* name : {"doc:T", "a:b", "c:d", "c", "\xFF", "folder/:T"}) {
        EXPECT_EQ(FileContent(dir / name), name);
        EXPECT_TRUE(UserAttributeNames(dir / name).empty()) << name;
    }
    for (FileWatch& watch : watches)
        EXPECT_FALSE(watch.Saw()) << "a FIFO or socket was opened, read or written";
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir / "nothing")));

    // A loop of links names no volume; the layer below refuses it for the loop's own reason.
    ComPtr<IFile> looped = NewFile();
    EXPECT_FALSE(Bind(looped.get(), dir / "loop-a"));
    for (DWORD disposition : {DWORD{OPEN_EXISTING}, DWORD{OPEN_ALWAYS}}) {
        Opened stream = OpenItem(StreamW(dir / "loop-a", "T"), disposition);
        EXPECT_FALSE(stream.ok());
        EXPECT_EQ(stream.error, DWORD{ERROR_CANT_RESOLVE_FILENAME});
    }
    EXPECT_EQ(FileContent(dir / "file"), "contents");
    EXPECT_TRUE(UserAttributeNames(dir / "file").empty());
    EXPECT_TRUE(UserAttributeNames(dir / "folder").empty());
}

}  // namespace
}  // namespace quarrow2::test
