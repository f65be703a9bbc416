// The same items, both ways, for every peer: what a peer writes, Quarrow2 lists and reads
// with the same bytes; what Quarrow2 writes, the peer lists and reads with the same bytes.
// The peers differ only in how they write, read and list one file's named streams.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "posix/file_attributes.h"
#include "public_client.h"

namespace quarrow2::test::peers {

class Peer {
public:
    virtual ~Peer() = default;
    // The type name's stream of the file: created or replaced with exactly these bytes.
    virtual void Write(const std::filesystem::path& file, const std::string& type,
                       const Bytes& value) = 0;
    // Its bytes, or nothing when the peer finds no such stream.
    virtual std::optional<Bytes> Read(const std::filesystem::path& file,
                                      const std::string& type) = 0;
    // The type names of the file's named streams.
    virtual std::vector<std::string> List(const std::filesystem::path& file) = 0;
};

inline Bytes AllByteValues() {
    Bytes bytes;
    for (int b = 0; b < 256; ++b) bytes.push_back(static_cast<unsigned char>(b));
    return bytes;
}

// A blank and characters outside ASCII, one of them outside the basic plane.
const std::string kUnicodeType = "Näme ✓ 😀";
const std::string kMainContent = "the file's own bytes";

struct PeerItem {
    std::string type;
    Bytes stored;
    bool readsAsEmpty;  // Quarrow2 hands out no bytes for it, whatever is stored
};

// What a peer writes: text, every byte value, an odd length, the marker (the empty value),
// the marker with one byte changed (not the empty value), no bytes at all.
inline std::vector<PeerItem> PeerWrittenItems() {
    const Bytes& marker = EmptyValueMarker();
    Bytes almost(marker.begin(), marker.end() - 1);
    almost.push_back(1);
    Bytes longer(marker.begin(), marker.end());
    longer.push_back(0);
    return {
        {"Author", Utf16Bytes("Jane Doe 😀"), false},
        {"Blob", AllByteValues(), false},
        {"Odd", {0x01, 0x02, 0x03}, false},
        {"Empty", EmptyValueMarker(), true},
        {"Almost", almost, false},
        {"Longer", longer, false},
        {"Zero", {}, true},
        {kUnicodeType, Utf16Bytes("ok"), false},
    };
}

inline void WriteAsPeer(Peer& peer, const std::filesystem::path& file) {
    WriteContents(file, kMainContent);
    for (const PeerItem& item : PeerWrittenItems()) peer.Write(file, item.type, item.stored);
}

inline void ExpectQuarrow2ReadsPeerItems(const std::filesystem::path& file) {
    ComPtr<IFile> client = BoundFile(file);
    ASSERT_TRUE(client);
    std::vector<std::string> expectedTypes;
    LONG expectedTotal = 0;
    for (const PeerItem& item : PeerWrittenItems()) {
        expectedTypes.push_back(item.type);
        expectedTotal += static_cast<LONG>(item.stored.size());
    }
    EXPECT_EQ(Sorted(ClientTypes(client.get())), Sorted(expectedTypes));
    LONG total = -1;
    EXPECT_EQ(client->get_Length(&total), S_OK);
    EXPECT_EQ(total, expectedTotal);

    for (const PeerItem& item : PeerWrittenItems()) {
        SCOPED_TRACE(item.type);
        const ClientRead read = ReadItem(client.get(), item.type);
        ASSERT_EQ(read.open, S_OK) << read.failure;
        EXPECT_EQ(read.failure, "");
        const Bytes expected = item.readsAsEmpty ? Bytes() : item.stored;
        EXPECT_EQ(Hex(read.data), Hex(expected));
        EXPECT_EQ(Hex(read.textBytes), Hex(expected));
        EXPECT_EQ(read.length, static_cast<LONG>(item.stored.size()));
    }
    EXPECT_EQ(Contents(file), kMainContent);
}

// What Quarrow2 writes, and what each item must then hold: text, bytes, an odd length, a
// new item (the marker), a value put back to empty (the marker), and a deleted item.
inline void WriteAsQuarrow2(const std::filesystem::path& file) {
    WriteContents(file, kMainContent);
    ComPtr<IFile> client = BoundFile(file);
    ASSERT_TRUE(client);
    const Bytes all = AllByteValues();
    const Bytes odd = {0x01, 0x02, 0x03};
    const Bytes ok = Utf16Bytes("ok");
    EXPECT_EQ(WriteText(client.get(), "Author", "Jane Doe 😀"), "");
    EXPECT_EQ(WriteItem(client.get(), "Blob", &all), "");
    EXPECT_EQ(WriteItem(client.get(), "Odd", &odd), "");
    EXPECT_EQ(WriteItem(client.get(), "Empty", nullptr), "");
    EXPECT_EQ(WriteText(client.get(), "Cleared", "was here"), "");
    EXPECT_EQ(WriteText(client.get(), "Cleared", ""), "");
    EXPECT_EQ(WriteItem(client.get(), kUnicodeType, &ok), "");
    EXPECT_EQ(WriteText(client.get(), "Gone", "soon"), "");
    UniqueBstr gone = Bstr("Gone");
    ComPtr<IMetaData> item;
    ASSERT_EQ(client->Open(gone.get(), item.out()), S_OK);
    EXPECT_EQ(item->Delete(), S_OK);
}

inline void ExpectPeerReadsQuarrow2Items(Peer& peer, const std::filesystem::path& file) {
    const std::vector<std::pair<std::string, Bytes>> expected = {
        {"Author", Utf16Bytes("Jane Doe 😀")}, {"Blob", AllByteValues()},
        {"Odd", {0x01, 0x02, 0x03}},          {"Empty", EmptyValueMarker()},
        {"Cleared", EmptyValueMarker()},      {kUnicodeType, Utf16Bytes("ok")},
    };
    std::vector<std::string> types;
    for (const auto& item : expected) types.push_back(item.first);
    EXPECT_EQ(Sorted(peer.List(file)), Sorted(types));
    for (const auto& item : expected) {
        SCOPED_TRACE(item.first);
        const std::optional<Bytes> read = peer.Read(file, item.first);
        ASSERT_TRUE(read.has_value());
        EXPECT_EQ(Hex(*read), Hex(item.second));
    }
    EXPECT_FALSE(peer.Read(file, "Gone").has_value());
    EXPECT_EQ(Contents(file), kMainContent);
}

}  // namespace quarrow2::test::peers
