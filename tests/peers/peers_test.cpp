// Other programs as peers on real files, both ways: what a peer writes, Quarrow2 lists and
// reads with the same bytes, and what Quarrow2 writes, the peer lists and reads with the same
// bytes. The peers are getfattr and setfattr, the JDK (XattrPeer.java, run from its source)
// and Python (xattr_peer.py), all three through the dump form of getfattr -e hex ("# file:
// PATH", then "user.NAME=0xHEX" lines), and ntfs-3g's streams_interface=windows, which shows
// the streams that the default mount shows as "user." attributes as "file:stream" files.
#include <sys/xattr.h>

#include <cstdio>
#include <map>
#include <sstream>

#include "posix/file_attributes.h"
#include "posix/ntfs_mount.h"
#include "quarrow2/client.h"

namespace quarrow2::test {
namespace {

using Items = std::map<std::string, std::string>;  // type name -> its bytes in hex

std::string Hex(const unsigned char* p, size_t size) {
    std::string hex;
    char digits[3];
    for (size_t i = 0; i < size; ++i) {
        std::snprintf(digits, sizeof digits, "%02x", p[i]);
        hex += digits;
    }
    return hex;
}
std::string Hex(const Bytes& bytes) { return Hex(bytes.data(), bytes.size()); }
std::string Hex(const std::string& s) {
    return Hex(reinterpret_cast<const unsigned char*>(s.data()), s.size());
}

Bytes FromHex(const std::string& hex) {
    Bytes bytes;
    for (size_t at = 0; at + 1 < hex.size(); at += 2)
        bytes.push_back(static_cast<unsigned char>(std::stoi(hex.substr(at, 2), nullptr, 16)));
    return bytes;
}

const std::string kUnicodeType = "Näme ✓ 😀";  // a blank, and a character outside the BMP
const std::string kMainContent = "the file's own bytes";

std::string AllByteValues() {
    Bytes bytes;
    for (int b = 0; b < 256; ++b) bytes.push_back(static_cast<unsigned char>(b));
    return Hex(bytes);
}

// What a peer writes: text, every byte value, an odd length, the empty value's marker, the
// marker with its last byte changed or with one more (values, not the empty value), no bytes.
Items PeerWritten() {
    const std::string marker = Hex(EmptyValueMarker());
    return {{"Author", Hex(Utf16Bytes("Jane Doe 😀"))},
            {"Blob", AllByteValues()},
            {"Odd", "010203"},
            {"Empty", marker},
            {"Almost", marker.substr(0, marker.size() - 2) + "01"},
            {"Longer", marker + "00"},
            {"Zero", ""},
            {kUnicodeType, Hex(Utf16Bytes("ok"))}};
}

std::string Failure(const std::string& call) {
    return call + " failed: " + Narrow(quarrow2::TakeRichError().description.get());
}

// A File from the class object DllGetClassObject hands out, as any client gets one, bound to
// a path on a volume with named streams.
ComPtr<IFile> BoundFile(const fs::path& path) {
    ComPtr<IClassFactory> factory;
    ComPtr<IFile> file;
    EXPECT_EQ(DllGetClassObject(CLSID_File, IID_IClassFactory, factory.out_void()), S_OK);
    if (!factory || factory->CreateInstance(nullptr, IID_IFile, file.out_void()) != S_OK) return {};
    UniqueBstr p = Bstr(path.string());
    VARIANT_BOOL supported = VARIANT_FALSE;
    EXPECT_EQ(file->SetFile(p.get(), &supported), S_OK);
    EXPECT_EQ(supported, VARIANT_TRUE) << path << " is not on a volume with named streams";
    return file;
}

// What Quarrow2 reads of each item Types lists: "Data / Text / Length", the bytes in hex.
Items ClientItems(IFile* file) {
    Items items;
    ComPtr<IStrings> types;
    LONG count = 0;
    EXPECT_EQ(file->get_Types(types.out()), S_OK);
    EXPECT_TRUE(types && types->get_Count(&count) == S_OK);
    for (LONG i = 1; i <= count; ++i) {
        UniqueVariant type;
        ComPtr<IMetaData> item;
        EXPECT_EQ(types->get_Item(i, type.get()), S_OK);
        const std::string name = V_VT(type.get()) == VT_BSTR ? Narrow(V_BSTR(type.get())) : "?";
        UniqueBstr typeName = Bstr(name);
        EXPECT_EQ(items.count(name), 0u) << name << " is listed twice";
        std::string& read = items[name];
        if (file->Open(typeName.get(), item.out()) != S_OK) {
            read = Failure("Open");
            continue;
        }
        UniqueVariant data;
        UniqueBstr text;
        LONG upper = -1, length = -1;
        if (item->get_Data(data.get()) != S_OK) {
            read = Failure("Data");
        } else if (V_VT(data.get()) == (VT_ARRAY | VT_UI1) &&
                   SafeArrayGetUBound(V_ARRAY(data.get()), 1, &upper) == S_OK) {
            ArrayAccess access(V_ARRAY(data.get()));
            read = access.data() ? Hex(static_cast<unsigned char*>(access.data()), upper + 1) : "";
        }
        const bool textRead = item->get_Text(text.out()) == S_OK;
        read += " / " + (textRead
                             ? Hex(reinterpret_cast<unsigned char*>(text.get()), text.byte_length())
                             : Failure("Text"));
        EXPECT_EQ(item->get_Length(&length), S_OK);
        read += " / " + std::to_string(length);
        EXPECT_EQ(item->Close(), S_OK);
    }
    return items;
}

void ExpectQuarrow2ReadsPeerItems(const fs::path& file) {
    ComPtr<IFile> client = BoundFile(file);
    ASSERT_TRUE(client);
    Items expected;
    LONG total = 0, length = -1;
    for (const auto& [type, stored] : PeerWritten()) {
        const std::string read = stored == Hex(EmptyValueMarker()) ? "" : stored;
        total += static_cast<LONG>(stored.size() / 2);
        expected[type] = read + " / " + read + " / " + std::to_string(stored.size() / 2);
    }
    EXPECT_EQ(ClientItems(client.get()), expected);
    EXPECT_EQ(client->get_Length(&length), S_OK);
    EXPECT_EQ(length, total);
    EXPECT_EQ(FileContent(file), kMainContent);
}

// Adds the item and puts the text, or the bytes, or nothing: the failure, or nothing.
struct Put {
    std::string type;
    std::optional<std::string> text;
    std::optional<std::string> hex;
};
std::string PutItem(IFile* file, const Put& put) {
    UniqueBstr type = Bstr(put.type), text = Bstr(put.text.value_or(""));
    ComPtr<IMetaData> item;
    if (file->Add(type.get(), item.out()) != S_OK) return Failure("Add");
    UniqueVariant data;
    if (put.hex) {
        const Bytes bytes = FromHex(*put.hex);
        SAFEARRAYBOUND bound{static_cast<ULONG>(bytes.size()), 0};
        V_VT(data.get()) = VT_ARRAY | VT_UI1;
        V_ARRAY(data.get()) = SafeArrayCreate(VT_UI1, 1, &bound);
        ArrayAccess access(V_ARRAY(data.get()));
        if (access.data())
            std::copy(bytes.begin(), bytes.end(), static_cast<unsigned char*>(access.data()));
    }
    const HRESULT hr = put.text  ? item->put_Text(text.get())
                       : put.hex ? item->put_Data(*data)
                                 : S_OK;
    return hr == S_OK ? "" : Failure("Put");
}

// Text, bytes, an odd length, a new item (stored as the marker), a text put back to empty
// (the marker again) and an item deleted; what the peer must then find.
Items WriteAsQuarrow2(const fs::path& file) {
    MakeFile(file, kMainContent);
    ComPtr<IFile> client = BoundFile(file);
    EXPECT_TRUE(client);
    if (!client) return {};
    const Items written = PeerWritten();
    const Put puts[] = {{"Author", "Jane Doe 😀", {}},
                        {"Blob", {}, written.at("Blob")},
                        {"Odd", {}, "010203"},
                        {"Empty", {}, {}},
                        {"Cleared", "was here", {}},
                        {"Cleared", "", {}},
                        {kUnicodeType, {}, written.at(kUnicodeType)},
                        {"Gone", "soon", {}}};
    for (const Put& put : puts) EXPECT_EQ(PutItem(client.get(), put), "") << put.type;
    UniqueBstr gone = Bstr("Gone");
    ComPtr<IMetaData> item;
    EXPECT_EQ(client->Open(gone.get(), item.out()), S_OK);
    EXPECT_TRUE(item && item->Delete() == S_OK);
    Items expected = written;
    for (const char* type : {"Almost", "Longer", "Zero"}) expected.erase(type);
    expected["Cleared"] = expected["Empty"];
    return expected;
}

// Runs a program to its end with no input: its exit status (-1 when it could not run) and
// its output; its errors go into the output only when it fails.
std::pair<int, std::string> RunProgram(const fs::path& folder, std::vector<std::string> argv) {
    const std::string out = (folder / "out").string(), errors = (folder / "errors").string();
    argv.insert(argv.begin(), {"sh", "-c", "\"$@\" >\"$0\" 2>\"$0.errors\"", out});
    const int status = RunQuietly(argv);
    return {status, FileContent(out) + (status ? FileContent(out + ".errors") : "")};
}

// A program that dumps a file's items and restores them from a dump, and what it needs.
struct ProgramPeer {
    const char* name;
    std::vector<std::string> dump, restore, programs;
    std::string package;
};
void PrintTo(const ProgramPeer& peer, std::ostream* out) { *out << peer.name; }

const std::vector<std::string> kJava = {
    "env",          "LC_ALL=C.UTF-8",          "java",
    "-Xshare:auto", "-XX:TieredStopAtLevel=1", QUARROW2_PEERS_SOURCE_DIR "/XattrPeer.java"};
const std::vector<std::string> kPython = {"python3", QUARROW2_PEERS_SOURCE_DIR "/xattr_peer.py"};
std::vector<std::string> operator+(std::vector<std::string> words, const char* word) {
    words.push_back(word);
    return words;
}

class ProgramPeers : public ::testing::TestWithParam<ProgramPeer> {};
INSTANTIATE_TEST_SUITE_P(
    , ProgramPeers,
    ::testing::Values(
        // The JDK turns attribute names into bytes with the locale's character set; under the
        // C locale every character outside ASCII would become '?'.
        ProgramPeer{"Java",
                    kJava + "dump",
                    kJava + "restore",
                    {"java", "javac"},
                    "openjdk-17-jdk-headless"},
        ProgramPeer{"Python", kPython + "dump", kPython + "restore", {"python3"}, "python3"},
        ProgramPeer{"Attr",
                    {"getfattr", "--absolute-names", "-d", "-m", "^user\\.", "-e", "hex"},
                    {"setfattr", "--restore"},
                    {"getfattr", "setfattr"},
                    "attr"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_P(ProgramPeers, WriteWhatQuarrow2ReadsAndReadWhatItWrites) {
    for (const std::string& program : GetParam().programs)
        if (!OnPath(program))
            GTEST_SKIP() << program << " is not installed (package " << GetParam().package << ")";
    TempDir dir;
    MakeFile(dir / "by-peer", kMainContent);
    std::string dump = "# file: " + (dir / "by-peer").string() + "\n";
    for (const auto& [type, hex] : PeerWritten()) dump += "user." + type + "=0x" + hex + "\n";
    MakeFile(dir / "dump", dump);
    const auto restored = RunProgram(dir.path(), GetParam().restore + (dir / "dump").c_str());
    ASSERT_EQ(restored.first, 0) << restored.second;
    ExpectQuarrow2ReadsPeerItems(dir / "by-peer");

    const Items expected = WriteAsQuarrow2(dir / "by-quarrow2");
    const auto dumped = RunProgram(dir.path(), GetParam().dump + (dir / "by-quarrow2").c_str());
    ASSERT_EQ(dumped.first, 0) << dumped.second;
    Items read;
    std::istringstream lines(dumped.second);
    for (std::string line; std::getline(lines, line);)
        if (line.rfind("user.", 0) == 0)
            read[line.substr(5, line.rfind('=') - 5)] = line.substr(line.rfind('=') + 3);
    EXPECT_EQ(read, expected);
    EXPECT_EQ(FileContent(dir / "by-quarrow2"), kMainContent);
}

// ntfs-3g as the peer: the streams that Quarrow2 reads and writes through the default mount
// as "user." attributes, read and written as "file:stream" files through a second mount,
// which lists them in the "ntfs.streams.list" attribute.
class PeerNtfs : public NtfsVolumeTest {};

TEST_F(PeerNtfs, StreamsOfTheWindowsInterfaceAreItemsBothWays) {
    const fs::path byPeer = mountPoint_ / "by-peer", byQuarrow2 = mountPoint_ / "by-quarrow2";
    if (auto windows = Mount("streams_interface=windows"); windows->mounted()) {
        MakeFile(byPeer, kMainContent);
        for (const auto& [type, hex] : PeerWritten()) {
            const Bytes bytes = FromHex(hex);
            std::ofstream(byPeer.string() + ":" + type, std::ios::binary)
                .write(reinterpret_cast<const char*>(bytes.data()),
                       static_cast<std::streamsize>(bytes.size()));
        }
    }
    Items expected;
    if (auto mounted = Mount(); mounted->mounted()) {
        ExpectQuarrow2ReadsPeerItems(byPeer);
        expected = WriteAsQuarrow2(byQuarrow2);
    }
    auto windows = Mount("streams_interface=windows");
    ASSERT_TRUE(windows->mounted());
    std::string list(65536, '\0');
    const ssize_t got = getxattr(byQuarrow2.c_str(), "ntfs.streams.list", list.data(), list.size());
    ASSERT_GE(got, 0) << "ntfs.streams.list: " << std::strerror(errno);
    Items read;
    for (size_t at = 0; at < static_cast<size_t>(got); at += std::strlen(list.c_str() + at) + 1)
        read[list.c_str() + at] = Hex(FileContent(byQuarrow2.string() + ":" + (list.c_str() + at)));
    EXPECT_EQ(read, expected);
    EXPECT_EQ(FileContent(byQuarrow2), kMainContent);
}

}  // namespace
}  // namespace quarrow2::test
