#include "tools/metadata_client.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <new>
#include <random>
#include <thread>

#include "tools/console.h"
#include "tools/failure.h"
#include "tools/file_system.h"

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

ComPtr<IFile> CreateFileObject(const Library& library, const std::string& path) {
    ComPtr<IClassFactory> factory;
    HRESULT status = library.GetClassObject(CLSID_File, IID_IClassFactory, factory.out_void());
    if (FAILED(status))
        throw Failure("Unable to get the File class object: " +
                          TakeErrorDescription(nullptr, IID_NULL, status),
                      path);
    ComPtr<IFile> file;
    status = factory->CreateInstance(nullptr, IID_IFile, file.out_void());
    if (FAILED(status))
        throw Failure(
            "Unable to create a File object: " + TakeErrorDescription(nullptr, IID_NULL, status),
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
    const VARIANT& value = data.value();
    if (value.vt != (VT_ARRAY | VT_UI1) || !value.parray)
        throw Failure("The library returned something other than a byte array.", path_, type_);
    LONG lower = 0;
    LONG upper = -1;
    if (FAILED(SafeArrayGetLBound(value.parray, 1, &lower)) ||
        FAILED(SafeArrayGetUBound(value.parray, 1, &upper)))
        throw Failure("The byte array has no bounds.", path_, type_);
    Bytes bytes;
    if (upper < lower) return bytes;
    ArrayAccess access(value.parray);
    if (!access.granted() || !access.data())
        throw Failure("The byte array cannot be read.", path_, type_);
    bytes.resize(static_cast<size_t>(upper) - static_cast<size_t>(lower) + 1);
    std::memcpy(bytes.data(), access.data(), bytes.size());
    return bytes;
}

void MetadataItem::PutText(const WString& text) {
    UniqueBstr value = MakeBstr(text);
    Run([&] { return item_->put_Text(value.get()); });
}

void MetadataItem::PutBytes(const Bytes& bytes) {
    UniqueVariant data;
    SAFEARRAYBOUND bound{static_cast<ULONG>(bytes.size()), 0};
    SAFEARRAY* array = SafeArrayCreate(VT_UI1, 1, &bound);
    if (!array) throw std::bad_alloc();
    data.get()->vt = VT_ARRAY | VT_UI1;
    data.get()->parray = array;
    if (!bytes.empty()) {
        ArrayAccess access(array);
        if (!access.granted() || !access.data()) throw std::bad_alloc();
        std::memcpy(access.data(), bytes.data(), bytes.size());
    }
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
    : file_(CreateFileObject(library, path)), path_(path), waited_(std::make_shared<BusyWaited>()) {
    holder_ = std::move(reached.holder);
    UniqueBstr text = MakeBstr(reached.text);
    VARIANT_BOOL supported = VARIANT_FALSE;
    Run([&] { return file_->SetFile(text.get(), &supported); });
    supportsStreams_ = supported != VARIANT_FALSE;
}

void MetadataFile::Run(const std::function<HRESULT()>& call,
                       const std::optional<std::string>& type) {
    if (std::optional<std::string> failure = Attempt(file_.get(), IID_IFile, call, waited_.get()))
        throw Failure(*failure, path_, type);
}

bool MetadataFile::Exists() {
    VARIANT_BOOL exists = VARIANT_FALSE;
    Run([&] { return file_->get_Exists(&exists); });
    return exists != VARIANT_FALSE;
}

std::vector<WString> MetadataFile::Types() {
    ComPtr<IStrings> strings;
    Run([&] { return file_->get_Types(strings.out()); });

    // Walked as a script's For Each walks it, through the collection's enumerator.
    ComPtr<IUnknown> unknown;
    ComPtr<IEnumVARIANT> walk;
    HRESULT status = strings->get__NewEnum(unknown.out());
    if (SUCCEEDED(status)) status = unknown->QueryInterface(IID_IEnumVARIANT, walk.out_void());
    if (FAILED(status))
        throw Failure(
            "Unable to list the types: " + TakeErrorDescription(nullptr, IID_NULL, status), path_);

    std::vector<WString> types;
    for (;;) {
        UniqueVariant entry;
        ULONG fetched = 0;
        status = walk->Next(1, entry.out(), &fetched);
        if (FAILED(status))
            throw Failure(
                "Unable to list the types: " + TakeErrorDescription(nullptr, IID_NULL, status),
                path_);
        if (status == S_FALSE || fetched == 0) break;
        const VARIANT& value = entry.value();
        if (value.vt == VT_ERROR)
            throw Failure(
                "Unable to list the types: " + TakeErrorDescription(nullptr, IID_NULL, value.scode),
                path_);
        if (value.vt != VT_BSTR)
            throw Failure("The type list holds something other than text.", path_);
        types.push_back(value.bstrVal ? WString(value.bstrVal, SysStringLen(value.bstrVal))
                                      : WString());
    }
    if (CarriesBothLayouts(path_))
        ReportFailure("warning: \"" + EscapedForDisplay(path_) +
                      "\" carries items in both layouts (user.T and Samba's "
                      "user.DosStream.T:$DATA); only those of its folder's layout are shown.");
    return types;
}

std::uint32_t MetadataFile::TotalLength() {
    LONG length = 0;
    Run([&] { return file_->get_Length(&length); });
    return static_cast<std::uint32_t>(length);
}

MetadataItem MetadataFile::Open(const WString& type, const std::string& shownType) {
    return Item(&IFile::Open, type, shownType);
}

MetadataItem MetadataFile::Add(const WString& type, const std::string& shownType) {
    return Item(&IFile::Add, type, shownType);
}

std::string MetadataFile::Clarification(bool opening, const WString& type) {
    PathState state = PathStateOf(path_);
    switch (state.kind) {
        case PathKind::kUnreachable:
        case PathKind::kSpecial:
            return " " + state.reason;
        case PathKind::kMissing:
            return opening ? " The file does not exist." : "";
        default:
            break;
    }
    // Without named streams the library's own text says all.
    if (!opening || !supportsStreams_) return "";
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
