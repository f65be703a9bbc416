// The library as the tool uses it: a File bound to one path and the items it hands out,
// reached only through IFile2 (and IFile, which it extends) and IMetaData. Every failure the
// library reports becomes a Failure whose message names the file and the type it concerned.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "quarrow2/client.h"
#include "tools/client/file_system.h"
#include "tools/host/host.h"
#include "tools/formats/text.h"

namespace quarrow2::tool {

// How long the calls made for one file (and the items it hands out) wait in all for items
// that another process holds (a sharing or lock violation), retrying with growing pauses,
// before they fail naming the item busy and the time really waited; 0 fails at once.
constexpr std::chrono::milliseconds kDefaultBusyWait(5000);
void SetBusyWait(std::chrono::milliseconds wait);

// What one file's calls have waited so far.
struct BusyWaited {
    std::chrono::steady_clock::duration spent{};
};

// A file's items as the library lists them in one walk, in the file system's order.
struct ItemListing {
    struct Entry {
        WString type;
        std::uint64_t size = 0;  // stored bytes (an empty value counts its 32-byte marker)
    };
    std::vector<Entry> items;
    // Names that no item can have (they hold a colon): other programs' attributes, which no
    // item call reaches, so the tool cannot carry them.
    std::vector<WString> foreign;
};

// One item of one file.
class MetadataItem {
public:
    MetadataItem(ComPtr<IMetaData> item, std::string path, std::string type,
                 std::shared_ptr<BusyWaited> waited);

    const std::string& Type() const { return type_; }

    // Stored size in bytes (an empty value counts its 32-byte marker).
    std::uint32_t Length();
    Bytes ValueBytes();
    void PutText(const WString& text);
    void PutBytes(const Bytes& bytes);
    // Removes the item from its file; the item is closed afterwards.
    void Remove();

private:
    // Runs one call of the library, waiting out a busy item; Failure when it fails.
    void Run(const std::function<HRESULT()>& call);

    ComPtr<IMetaData> item_;
    std::string path_;
    std::string type_;
    std::shared_ptr<BusyWaited> waited_;  // the file's
};

// A File object bound to one path.
class MetadataFile {
public:
    // `path` is shown in messages as given; the library is handed its LibraryPathOf().
    MetadataFile(const Library& library, const std::string& path);
    // Bound to a path reached already (file_system.h), so nothing is looked up again.
    MetadataFile(const Library& library, const std::string& path, LibraryPath reached);

    const std::string& Path() const { return path_; }
    bool SupportsStreams() const { return supportsStreams_; }
    // Whether the file can be opened for reading.
    bool Exists();

    // The items present with their sizes; Failure, with the library's reason, when the
    // file's items cannot be listed (an empty listing is a file without items). A file with
    // items in both Linux layouts is warned of. `layoutFolder`, when not empty, is the folder
    // whose layout the file's items follow (known from a walk), which tells that warning
    // without a listing of the file's attributes of its own.
    ItemListing Items(const std::string& layoutFolder = {});
    // The type names of Items().
    std::vector<WString> Types();

    // One item's value, read whole through a handle that shares the item with everyone (an
    // item open elsewhere included); Failure naming the cause, "The file has no item of
    // this type." only when it is missing.
    Bytes ReadBytes(const WString& type, const std::string& shownType);
    // The same, none when the file has no such item: a file that could not be read still
    // fails, so that a missing item is told from a file without an answer in one read.
    std::optional<Bytes> ReadBytesIfPresent(const WString& type, const std::string& shownType);
    // The same bytes read as text, so that a failure says "Unable to get text.".
    Bytes ReadTextBytes(const WString& type, const std::string& shownType);
    // Whether a read finds the item (which it does also when another process holds it).
    bool HasItem(const WString& type, const std::string& shownType);
    // Whether the library keeps the items bound here in the native layout (user.T), as it
    // decides for this path; false when it cannot tell.
    bool KeepsNativeLayout();

    // An existing item; Failure when there is none (nothing is created).
    MetadataItem Open(const WString& type, const std::string& shownType);
    // An existing item, or a new empty one (the file too is created when missing).
    MetadataItem Add(const WString& type, const std::string& shownType);

private:
    using ItemMethod = HRESULT (STDMETHODCALLTYPE IFile::*)(BSTR, IMetaData**);
    MetadataItem Item(ItemMethod method, const WString& type, const std::string& shownType);
    // What the file system says about a failed open or add of an item, after the library's
    // text: the reason the path cannot be reached, or whether the file is there at all.
    std::string Clarification(bool opening, const WString& type);
    void Run(const std::function<HRESULT()>& call,
             const std::optional<std::string>& type = std::nullopt);

    // Why a failed read of an item's value concerns the path rather than the item (a FIFO,
    // a path that leads nowhere), as the file system tells it; empty otherwise.
    std::string PathReason();
    // Run() for one of IFile2's reads, its failure followed by why a FIFO, socket or device
    // carries no items.
    void RunRead(const std::function<HRESULT()>& call, const std::string& shownType);

    // Whether the library keeps the items of the files in `folder` natively; asked of the
    // library once per folder.
    bool FolderKeepsNativeLayout(const std::string& folder);

    const Library* library_;
    ComPtr<IFile2> file_;
    std::string path_;
    std::shared_ptr<void> holder_;  // keeps a long path's folder open for the library
    std::shared_ptr<BusyWaited> waited_;
    bool supportsStreams_ = false;
};

}  // namespace quarrow2::tool
