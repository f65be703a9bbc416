// Other programs as peers on real files, both ways: what one writes, the other lists and reads
// with the same bytes. Program peers use getfattr -e hex's dump form ("user.NAME=0xHEX").
#include <sys/xattr.h>

#include <iomanip>
#include <map>
#include <sstream>

#include "posix/file_attributes.h"
#include "posix/ntfs_mount.h"
#include "quarrow2/client.h"

namespace quarrow2::test {
namespace {

using Items = std::map<std::string, std::string>;  // type name -> its bytes

// A blank, the first and the last character of two UTF-8 bytes, one outside the BMP.
const std::string kUnicodeType = "Näme \xC2\x80\xDF\xBF ✓ 😀";
const std::string kMainContent = "the file's own bytes";

// What a peer writes: text, every byte value, an odd length, the empty value's marker, the
// marker with its last byte changed or with one more (values, not the empty value), no bytes.
Items PeerWritten() {
    const std::string marker = Raw(EmptyValueMarker());
    std::string all;
    for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
    return {{"Author", Raw(Utf16Bytes("Jane Doe 😀"))},
            {"Blob", all},
            {"Odd", "\x01\x02\x03"},
            {"Empty", marker},
            {"Almost", marker.substr(0, marker.size() - 1) + "\x01"},
            {"Longer", marker + '\0'},
            {"Zero", ""},
            {kUnicodeType, Raw(Utf16Bytes("ok"))}};
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
    VARIANT_BOOL supported = VARIANT_FALSE;
    EXPECT_EQ(file->SetFile(Bstr(path.string()).get(), &supported), S_OK);
    EXPECT_EQ(supported, VARIANT_TRUE) << path << " is not on a volume with named streams";
    return file;
}

// What Quarrow2 reads of each item Types lists ("Data / Text / Length"), and the total Length.
void ExpectQuarrow2ReadsPeerItems(const fs::path& file) {
    ComPtr<IFile> client = BoundFile(file);
    ASSERT_TRUE(client);
    Items expected, items;
    LONG total = 0, length = -1, count = 0;
    for (const auto& [type, stored] : PeerWritten()) {
        const std::string read = stored == Raw(EmptyValueMarker()) ? "" : stored;
        total += static_cast<LONG>(stored.size());
        expected[type] = read + " / " + read + " / " + std::to_string(stored.size());
    }
    ComPtr<IStrings> types;
    EXPECT_EQ(client->get_Types(types.out()), S_OK);
    EXPECT_TRUE(types && types->get_Count(&count) == S_OK);
    for (LONG i = 1; i <= count; ++i) {
        UniqueVariant type, data;
        UniqueBstr text;
        ComPtr<IMetaData> item;
        EXPECT_EQ(types->get_Item(i, type.get()), S_OK);
        const std::string name = V_VT(type.get()) == VT_BSTR ? Narrow(V_BSTR(type.get())) : "?";
        EXPECT_EQ(items.count(name), 0u) << name << " is listed twice";
        std::string& read = items[name];
        if (client->Open(Bstr(name).get(), item.out()) != S_OK) {
            read = Failure("Open");
            continue;
        }
        if (item->get_Data(data.get()) != S_OK) {
            read = Failure("Data");
        } else if (V_VT(data.get()) == (VT_ARRAY | VT_UI1)) {
            const SAFEARRAY& array = *V_ARRAY(data.get());
            read.assign(static_cast<char*>(array.pvData), array.rgsabound[0].cElements);
        }
        read += " / " + (item->get_Text(text.out()) == S_OK
                             ? std::string(reinterpret_cast<char*>(text.get()), text.byte_length())
                             : Failure("Text"));
        EXPECT_EQ(item->get_Length(&length), S_OK);
        read += " / " + std::to_string(length);
        EXPECT_EQ(item->Close(), S_OK);
    }
    EXPECT_EQ(items, expected);
    EXPECT_TRUE(client->get_Length(&length) == S_OK && length == total) << length << " " << total;
    EXPECT_EQ(FileContent(file), kMainContent);
}

struct Put {
    std::string type;
    std::optional<std::string> text, bytes;  // what is put through Text or Data, if anything
};

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
                        {"Odd", {}, "\x01\x02\x03"},
                        {"Empty", {}, {}},
                        {"Cleared", "was here", {}},
                        {"Cleared", "", {}},
                        {kUnicodeType, {}, written.at(kUnicodeType)},
                        {"Gone", "soon", {}}};
    for (const Put& put : puts) {
        ComPtr<IMetaData> item;
        EXPECT_EQ(client->Add(Bstr(put.type).get(), item.out()), S_OK) << Failure(put.type);
        if (!item) continue;
        HRESULT hr = put.text ? item->put_Text(Bstr(*put.text).get()) : S_OK;
        if (put.bytes) {
            UniqueVariant data;
            V_VT(data.get()) = VT_ARRAY | VT_UI1;
            V_ARRAY(data.get()) =
                SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(put.bytes->size()));
            if (ArrayAccess access(V_ARRAY(data.get())); access.data())
                std::copy(put.bytes->begin(), put.bytes->end(), static_cast<char*>(access.data()));
            hr = item->put_Data(*data);
        }
        EXPECT_EQ(hr, S_OK) << Failure(put.type);
    }
    ComPtr<IMetaData> item;
    EXPECT_EQ(client->Open(Bstr("Gone").get(), item.out()), S_OK);
    EXPECT_TRUE(item && item->Delete() == S_OK);
    EXPECT_EQ(FileContent(file), kMainContent);
    Items expected = written;
    for (const char* type : {"Almost", "Longer", "Zero"}) expected.erase(type);
    expected["Cleared"] = expected["Empty"];
    return expected;
}

std::string RunProgram(const std::string& command, const fs::path& path) {
    const std::string out = path.string() + ".out";
    const int status = RunQuietly(
        {"sh", "-c", command + " \"$0\" </dev/null >\"$1\" 2>\"$1.errors\"", path.string(), out});
    EXPECT_EQ(status, 0) << command << ": " << FileContent(out + ".errors");
    return FileContent(out);
}

struct ProgramPeer {
    std::string name, dump, restore, programs, package;
};
void PrintTo(const ProgramPeer& peer, std::ostream* out) { *out << peer.name; }

// The JDK turns attribute names into bytes with the locale's character set; under the C
// locale every character outside ASCII would become '?'.
const std::string kJava =
    "LC_ALL=C.UTF-8 java -XX:TieredStopAtLevel=1 '" QUARROW2_PEERS_SOURCE_DIR "/XattrPeer.java' ";
const std::string kPython = "python3 '" QUARROW2_PEERS_SOURCE_DIR "/xattr_peer.py' ";

class ProgramPeers : public ::testing::TestWithParam<ProgramPeer> {};
INSTANTIATE_TEST_SUITE_P(
    , ProgramPeers,
    ::testing::Values(ProgramPeer{"Java", kJava + "dump", kJava + "restore", "java javac",
                                  "openjdk-17-jdk-headless"},
                      ProgramPeer{"Python", kPython + "dump", kPython + "restore", "python3",
                                  "python3"},
                      ProgramPeer{"Attr", "getfattr --absolute-names -d -m '^user\\.' -e hex",
                                  "setfattr --restore", "getfattr setfattr", "attr"}),
    [](const auto& info) { return info.param.name; });

TEST_P(ProgramPeers, WriteWhatQuarrow2ReadsAndReadWhatItWrites) {
    if (RunQuietly({"sh", "-c", "which " + GetParam().programs}) != 0)
        GTEST_SKIP() << GetParam().package << " is not installed";
    TempDir dir;
    MakeFile(dir / "by-peer", kMainContent);
    std::ostringstream dump;
    dump << "# file: " << (dir / "by-peer").string() << std::hex << std::setfill('0');
    for (const auto& [type, bytes] : PeerWritten()) {
        dump << "\nuser." << type << "=0x";
        for (unsigned char b : bytes) dump << std::setw(2) << int(b);
    }
    MakeFile(dir / "dump", dump.str() + "\n");
    RunProgram(GetParam().restore, dir / "dump");
    ExpectQuarrow2ReadsPeerItems(dir / "by-peer");

    const Items expected = WriteAsQuarrow2(dir / "by-quarrow2");
    Items read;
    std::istringstream lines(RunProgram(GetParam().dump, dir / "by-quarrow2"));
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("user.", 0) != 0) continue;
        const size_t value = line.rfind("=0x") + 3;
        std::string& bytes = read[line.substr(5, value - 8)];
        for (size_t at = value; at + 1 < line.size(); at += 2)
            bytes += static_cast<char>(std::stoi(line.substr(at, 2), nullptr, 16));
    }
    EXPECT_EQ(read, expected);
}

// ntfs-3g's windows streams interface as the peer: "file:stream" files, listed by the
// "ntfs.streams.list" attribute, for what the default mount shows as "user." attributes.
class PeerNtfs : public NtfsVolumeTest {};

TEST_F(PeerNtfs, StreamsOfTheWindowsInterfaceAreItemsBothWays) {
    const fs::path byPeer = mountPoint_ / "by-peer", byQuarrow2 = mountPoint_ / "by-quarrow2";
    if (auto windows = Mount("streams_interface=windows"); windows->mounted()) {
        MakeFile(byPeer, kMainContent);
        for (const auto& [type, bytes] : PeerWritten())
            MakeFile(byPeer.string() + ":" + type, bytes);
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
        read[list.c_str() + at] = FileContent(byQuarrow2.string() + ":" + (list.c_str() + at));
    EXPECT_EQ(read, expected);
}

}  // namespace
}  // namespace quarrow2::test
