#include "tools/client/storage.h"
#include "tools/client/metadata_client.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <new>
#include <mutex>
#include <random>
#include <thread>
#include <unordered_map>

#include "tools/formats/console.h"
#include "tools/formats/failure.h"
#include "tools/client/file_system.h"

namespace quarrow2::tool {
namespace {

using Clock = std::chrono::steady_clock;

std::chrono::milliseconds busyWait = kDefaultBusyWait;

// A sharing or a lock violation: another process holds the item for a moment. The system's
// own texts of both begin so, on Windows and in the library's Linux layer alike.
bool IsBusy(const std::string& description) {
    return description.find("The process cannot access the file because") != std::string::npos;
}

// " The item is busy: ...", saying how long this file's calls really waited.
std::string BusyNote(Clock::duration waited) {
    if (busyWait.count() == 0)
        return " The item is busy: another process holds it (--wait SECONDS waits for it).";
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f", std::chrono::duration<double>(waited).count());
    return std::string(" The item is busy: another process still held it after ") + seconds +
           " s (--wait SECONDS waits longer).";
}

// Calls `call` until it succeeds, fails for another reason than a busy item, or the file's
// wait runs out: nothing, or the description of the failure. What is left of the wait is
// shared by the calls of one file (`waited`, none: this call alone), so a command that asks
// again after a busy answer never waits twice. Pauses grow from 1 ms to 16 ms, with a
// random part so that processes that collided once do not collide again in step.
std::optional<std::string> Attempt(IUnknown* object, REFIID iid,
                                   const std::function<HRESULT()>& call,
                                   BusyWaited* waited = nullptr) {
    thread_local std::minstd_rand jitter(std::random_device{}());
    BusyWaited own;
    if (!waited) waited = &own;
    std::optional<Clock::time_point> since;  // the first busy answer
    auto account = [&] {
        if (since) waited->spent += Clock::now() - *since;
    };
    std::chrono::milliseconds pause(1);
    for (;;) {
        HRESULT status = call();
        if (SUCCEEDED(status)) {
            account();
            return std::nullopt;
        }
        std::string description = TakeErrorDescription(object, iid, status);
        if (!IsBusy(description)) {
            account();
            return description;
        }
        const Clock::time_point now = Clock::now();
        if (!since) since = now;
        const Clock::duration left = busyWait - waited->spent - (now - *since);
        if (left <= Clock::duration::zero()) {
            account();
            return description + BusyNote(waited->spent);
        }
        std::this_thread::sleep_for(std::min<Clock::duration>(
            pause + std::chrono::milliseconds(jitter() % (pause.count() + 1)), left));
        pause = std::min(pause * 2, std::chrono::milliseconds(16));
    }
}

UniqueBstr MakeBstr(const WString& text) {
    UniqueBstr result(SysAllocStringLen(text.data(), static_cast<UINT>(text.size())));
    if (!result.get()) throw std::bad_alloc();
    return result;
}

// The bytes of an item's value; Failure when the library hands out anything else.
Bytes BytesOfArray(const VARIANT& value, const std::string& path, const std::string& type) {
    const ByteArrayView view(value);
    if (view.problem() == ByteArrayView::kNotAByteArray)
        throw Failure("The library returned something other than a byte array.", path, type);
    if (view.problem() == ByteArrayView::kNoBounds)
        throw Failure("The byte array has no bounds.", path, type);
    if (view.problem() == ByteArrayView::kNoAccess)
        throw Failure("The byte array cannot be read.", path, type);
    const auto* bytes = static_cast<const std::uint8_t*>(view.data());
    return Bytes(bytes, bytes + view.size());
}

// A size in the listing: VT_I4, or VT_R8 from 2 GiB on; none for a name that is no item.
std::optional<std::uint64_t> SizeOf(const VARIANT& size) {
    if (size.vt == VT_I4 && size.lVal >= 0) return static_cast<std::uint64_t>(size.lVal);
    if (size.vt == VT_R8 && size.dblVal >= 0) return static_cast<std::uint64_t>(size.dblVal);
    return std::nullopt;
}

ComPtr<IFile2> CreateFileObject(const Library& library, const std::string& path) {
    ComPtr<IFile2> file;
    MakeStep failed;
    const HRESULT status =
        MakeFile([&](REFCLSID clsid, REFIID iid,
                     void** object) { return library.GetClassObject(clsid, iid, object); },
                 IID_IFile2, file, &failed);
    if (FAILED(status))
        throw Failure((failed == MakeStep::kClassObject ? "Unable to get the File class object: "
                                                        : "Unable to create a File object: ") +
                          TakeErrorDescription(nullptr, IID_NULL, status),
                      path);
    return file;
}

}  // namespace

void SetBusyWait(std::chrono::milliseconds wait) { busyWait = wait; }

MetadataItem::MetadataItem(ComPtr<IMetaData> item, std::string path, std::string type,
                           std::shared_ptr<BusyWaited> waited)
    : item_(std::move(item)),
      path_(std::move(path)),
      type_(std::move(type)),
      waited_(std::move(waited)) {}

void MetadataItem::Run(const std::function<HRESULT()>& call) {
    if (std::optional<std::string> failure =
            Attempt(item_.get(), IID_IMetaData, call, waited_.get()))
        throw Failure(*failure, path_, type_);
}

std::uint32_t MetadataItem::Length() {
    LONG length = 0;
    Run([&] { return item_->get_Length(&length); });
    return static_cast<std::uint32_t>(length);
}

Bytes MetadataItem::ValueBytes() {
    UniqueVariant data;
    Run([&] { return item_->get_Data(data.out()); });
    return BytesOfArray(data.value(), path_, type_);
}

void MetadataItem::PutText(const WString& text) {
    UniqueBstr value = MakeBstr(text);
    Run([&] { return item_->put_Text(value.get()); });
}

void MetadataItem::PutBytes(const Bytes& bytes) {
    UniqueVariant data;
    if (FAILED(PutByteArray(bytes.data(), bytes.size(), data))) throw std::bad_alloc();
    Run([&] { return item_->put_Data(data.value()); });
}

void MetadataItem::Remove() {
    try {
        Run([&] { return item_->Delete(); });
    } catch (const Failure& failure) {
        // The library's text carries no cause; the file system tells the common ones.
        std::string refusal = AccessRefusal(path_, true);
        if (refusal.empty()) throw;
        throw Failure(failure.Description() + " " + refusal, path_, type_);
    }
}

MetadataFile::MetadataFile(const Library& library, const std::string& path)
    : MetadataFile(library, path, LibraryPathOf(path)) {}

MetadataFile::MetadataFile(const Library& library, const std::string& path, LibraryPath reached)
    : library_(&library),
      file_(CreateFileObject(library, path)),
      path_(path),
      waited_(std::make_shared<BusyWaited>()) {
    holder_ = std::move(reached.holder);
    UniqueBstr text = MakeBstr(reached.text);
    VARIANT_BOOL supported = VARIANT_FALSE;
    Run([&] { return file_->SetFile(text.get(), &supported); });
    supportsStreams_ = supported != VARIANT_FALSE;
}

void MetadataFile::Run(const std::function<HRESULT()>& call,
                       const std::optional<std::string>& type) {
    // IFile's failures are rich errors of IFile2 as well.
    if (std::optional<std::string> failure = Attempt(file_.get(), IID_IFile2, call, waited_.get()))
        throw Failure(*failure, path_, type);
}

bool MetadataFile::Exists() {
    VARIANT_BOOL exists = VARIANT_FALSE;
    Run([&] { return file_->get_Exists(&exists); });
    return exists != VARIANT_FALSE;
}

ItemListing MetadataFile::Items(const std::string& layoutFolder) {
    UniqueVariant items;
    Run([&] { return file_->get_Items(items.out()); });
    VariantTable table(items.value());
    if (FAILED(table.result()) || (table.rows() && table.columns() != 2))
        throw Failure("The library's list of items is not a table of names and sizes.", path_);
    ItemListing listing;
    for (ULONG row = 0; row < table.rows(); ++row) {
        const VARIANT& name = table.at(row, 0);
        if (name.vt != VT_BSTR)
            throw Failure("The library's list of items holds a name that is not text.", path_);
        WString type = name.bstrVal ? WString(name.bstrVal, SysStringLen(name.bstrVal)) : WString();
        if (std::optional<std::uint64_t> size = SizeOf(table.at(row, 1)))
            listing.items.push_back({std::move(type), *size});
        else
            listing.foreign.push_back(std::move(type));
    }
    const bool listedAny = !listing.items.empty() || !listing.foreign.empty();
    if (MayCarryBothLayouts(
            listedAny, listing.foreign,
            [&] { return !layoutFolder.empty() && FolderKeepsNativeLayout(layoutFolder); }) &&
        CarriesBothLayouts(path_))
        ReportFailure("warning: \"" + EscapedForDisplay(path_) +
                      "\" carries items in both layouts (user.T and Samba's "
                      "user.DosStream.T:$DATA); only those of its folder's layout are shown.");
    return listing;
}

bool MetadataFile::KeepsNativeLayout() {
    if (!supportsStreams_) return false;
    constexpr HRESULT kNoItemCanHaveIt = HRESULT_FROM_WIN32(123);  // ERROR_INVALID_NAME
    auto read = [&](const WString& type) {
        UniqueBstr name = MakeBstr(type);
        UniqueVariant data;
        const HRESULT status = file_->ReadData(name.get(), data.out());
        if (FAILED(status)) TakeErrorDescription(file_.get(), IID_IFile2, status);
        return status;
    };
    // The native layout keeps the layout marker under the attribute that an item of this
    // name would have, so no item can have it there; Samba's layout keeps items elsewhere.
    // A name beside it that is read as any other tells that refusal from one of the path.
    return read(NameUtf16("quarrow2.layout")) == kNoItemCanHaveIt &&
           read(NameUtf16("quarrow2.layouts")) != kNoItemCanHaveIt;
}

bool MetadataFile::FolderKeepsNativeLayout(const std::string& folder) {
    // Answers by the folder's path as the tool names it (the tool keeps its working
    // folder); a huge tree starts over now and then, so memory stays bounded. Asked under
    // the lock: workers that meet a new folder at once wait for one answer, not each ask.
    constexpr size_t kMostFolders = 4096;
    static std::mutex mutex;
    static std::unordered_map<std::string, bool> known;
    std::lock_guard<std::mutex> guard(mutex);
    if (auto found = known.find(folder); found != known.end()) return found->second;
    bool native = false;
    try {
        native = MetadataFile(*library_, folder).KeepsNativeLayout();
    } catch (const Failure&) {
    }
    if (known.size() >= kMostFolders) known.clear();
    known.emplace(folder, native);
    return native;
}

std::vector<WString> MetadataFile::Types() {
    std::vector<WString> types;
    for (ItemListing::Entry& entry : Items().items) types.push_back(std::move(entry.type));
    return types;
}

std::string MetadataFile::PathReason() {
    PathState state = PathStateOf(path_);
    if (state.kind == PathKind::kUnreachable || state.kind == PathKind::kSpecial)
        return " " + state.reason;
    return "";
}

bool MetadataFile::HasItem(const WString& type, const std::string& shownType) {
    try {
        ReadBytes(type, shownType);
        return true;
    } catch (const Failure&) {
        return false;
    }
}

void MetadataFile::RunRead(const std::function<HRESULT()>& call, const std::string& shownType) {
    try {
        Run(call, shownType);
    } catch (const Failure& failure) {
        // The library names why a path it could not reach failed; a FIFO, socket or device
        // is refused without a word of why, which the file system tells.
        const PathState state = PathStateOf(path_);
        const std::string why = state.kind == PathKind::kSpecial ? " " + state.reason : "";
        throw Failure(failure.Description() + why, path_, shownType);
    }
}

Bytes MetadataFile::ReadBytes(const WString& type, const std::string& shownType) {
    UniqueBstr name = MakeBstr(type);
    UniqueVariant data;
    RunRead([&] { return file_->ReadData(name.get(), data.out()); }, shownType);
    return BytesOfArray(data.value(), path_, shownType);
}

std::optional<Bytes> MetadataFile::ReadBytesIfPresent(const WString& type,
                                                      const std::string& shownType) {
    // IFile2's status for an item the file does not have (ERROR_NOT_FOUND).
    constexpr HRESULT kNoSuchItem = HRESULT_FROM_WIN32(1168);
    UniqueBstr name = MakeBstr(type);
    UniqueVariant data;
    bool missing = false;
    RunRead(
        [&] {
            const HRESULT status = file_->ReadData(name.get(), data.out());
            if (status != kNoSuchItem) return status;
            TakeErrorDescription(file_.get(), IID_IFile2, status);  // answered: nothing to say
            missing = true;
            return S_OK;
        },
        shownType);
    if (missing) return std::nullopt;
    return BytesOfArray(data.value(), path_, shownType);
}

Bytes MetadataFile::ReadTextBytes(const WString& type, const std::string& shownType) {
    UniqueBstr name = MakeBstr(type);
    UniqueBstr text;
    RunRead([&] { return file_->ReadText(name.get(), text.out()); }, shownType);
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.get());
    return Bytes(bytes, bytes + text.byte_length());
}

MetadataItem MetadataFile::Open(const WString& type, const std::string& shownType) {
    return Item(&IFile::Open, type, shownType);
}

MetadataItem MetadataFile::Add(const WString& type, const std::string& shownType) {
    return Item(&IFile::Add, type, shownType);
}

std::string MetadataFile::Clarification(bool opening, const WString& type) {
    if (std::string reason = PathReason(); !reason.empty()) return reason;
    if (!opening) return "";
    if (PathStateOf(path_).kind == PathKind::kMissing) return " The file does not exist.";
    // Without named streams the library's own text says all; only a listing that says the
    // item is missing says so, never one that could not be made.
    if (!supportsStreams_) return "";
    try {
        std::vector<WString> present = Types();
        if (std::find(present.begin(), present.end(), type) == present.end())
            return " The file has no item of this type.";
    } catch (const Failure&) {
    }
    return "";
}

MetadataItem MetadataFile::Item(ItemMethod method, const WString& type,
                                const std::string& shownType) {
    UniqueBstr name = MakeBstr(type);
    ComPtr<IMetaData> item;
    try {
        Run([&] { return (file_.get()->*method)(name.get(), item.out()); }, shownType);
    } catch (const Failure& failure) {
        throw Failure(failure.Description() + Clarification(method == &IFile::Open, type), path_,
                      shownType);
    }
    return MetadataItem(std::move(item), path_, shownType, waited_);
}

}  // namespace quarrow2::tool
