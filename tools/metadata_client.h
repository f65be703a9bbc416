// The library as the tool uses it: a File bound to one path and the items it hands out,
// reached only through IFile, IMetaData and IStrings. Every failure the library reports
// becomes a Failure whose message names the file and the type it concerned.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "quarrow2/client.h"
#include "host.h"
#include "text.h"

namespace quarrow2::tool {

// One item of one file.
class MetadataItem {
public:
    MetadataItem(ComPtr<IMetaData> item, std::string path, std::string type);

    const std::string& type() const { return type_; }

    // Stored size in bytes (an empty value counts its 32-byte marker).
    std::uint32_t length();
    // The value as text; Failure when its bytes are not UTF-16 text (an odd count, or an
    // unpaired surrogate), with a hint to read it as bytes instead.
    std::string text_utf8();
    Bytes bytes();
    void put_text(const WString& text);
    void put_bytes(const Bytes& bytes);
    // Removes the item from its file; the item is closed afterwards.
    void remove();

private:
    [[noreturn]] void fail(HRESULT status);

    ComPtr<IMetaData> item_;
    std::string path_;
    std::string type_;
};

// A File object bound to one path.
class MetadataFile {
public:
    // `path` is shown in messages as given; the library is handed its absolute form, since
    // only an absolute path names the volume whose support for named streams it probes.
    MetadataFile(const Library& library, const std::string& path);

    const std::string& path() const { return path_; }
    bool supports_streams() const { return supports_streams_; }
    // Whether the file can be opened for reading.
    bool exists();

    // The type names present, in the file system's order.
    std::vector<WString> types();
    // The sizes of all items together.
    std::uint32_t total_length();

    // An existing item; Failure when there is none (nothing is created).
    MetadataItem open(const WString& type, const std::string& shown_type);
    // An existing item, or a new empty one (the file too is created when missing).
    MetadataItem add(const WString& type, const std::string& shown_type);

private:
    using ItemMethod = HRESULT (STDMETHODCALLTYPE IFile::*)(BSTR, IMetaData**);
    MetadataItem item(ItemMethod method, const WString& type, const std::string& shown_type);
    [[noreturn]] void fail(HRESULT status, const std::optional<std::string>& type = std::nullopt);

    ComPtr<IFile> file_;
    std::string path_;
    bool supports_streams_ = false;
};

}  // namespace quarrow2::tool
