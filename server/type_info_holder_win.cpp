// The type information behind late binding on Windows (store/type_information.h): one
// holder per dual interface, shared by every object of its class, loaded from the registered
// type library.
#include "store/type_information.h"

#include <atomic>
#include <new>
#include <string>

#include "platform/owners.h"
#include "quarrow2/quarrow2.h"
#include "server/library_state.h"

namespace quarrow2::server {

// One interface's type information and the names of its members. The holder is filled on
// the first late-bound call that manages to load the registered type library, and emptied
// again by its action on the clean-up list when the library stops.
class TypeInfoHolder : private CleanupAction {
public:
    constexpr explicit TypeInfoHolder(const IID* iid)
        : CleanupAction{&TypeInfoHolder::Empty, nullptr, false}, iid_(iid) {}

    // The type information, loaded if need be; null with the failure code otherwise.
    HRESULT Load(LCID lcid, ITypeInfo** info);
    // The DISPID of one name: the cache answers an exact-case match, the type information
    // any other spelling.
    HRESULT Resolve(ITypeInfo* info, LPOLESTR name, DISPID* id) const;

private:
    struct NameEntry {
        BSTR name;
        UINT length;
        DISPID id;
    };

    void FillNameCache(ITypeInfo* info);
    static void Empty(CleanupAction* self);

    const IID* iid_;
    // Published last, with release order, so that whoever sees it also sees the cache.
    std::atomic<ITypeInfo*> info_{nullptr};
    NameEntry* names_ = nullptr;
    UINT nameCount_ = 0;
};

namespace {

TypeInfoHolder g_fileTypeInfo(&IID_IFile);
TypeInfoHolder g_file2TypeInfo(&IID_IFile2);
TypeInfoHolder g_file3TypeInfo(&IID_IFile3);
TypeInfoHolder g_metaDataTypeInfo(&IID_IMetaData);
TypeInfoHolder g_stringsTypeInfo(&IID_IStrings);
// Any other identifier: loading it fails, as the type library describes no such interface.
TypeInfoHolder g_unknownTypeInfo(&IID_NULL);

size_t NameLength(const OLECHAR* name) { return std::char_traits<OLECHAR>::length(name); }

TypeInfoHolder& TypeInfoFor(REFIID iid) {
    if (IsEqualIID(iid, IID_IFile)) return g_fileTypeInfo;
    if (IsEqualIID(iid, IID_IFile2)) return g_file2TypeInfo;
    if (IsEqualIID(iid, IID_IFile3)) return g_file3TypeInfo;
    if (IsEqualIID(iid, IID_IMetaData)) return g_metaDataTypeInfo;
    if (IsEqualIID(iid, IID_IStrings)) return g_stringsTypeInfo;
    return g_unknownTypeInfo;
}

}  // namespace

HRESULT TypeInfoHolder::Load(LCID lcid, ITypeInfo** info) {
    *info = info_.load(std::memory_order_acquire);
    if (*info) return S_OK;
    platform::CriticalSectionGuard guard(TypeInfoLock());
    *info = info_.load(std::memory_order_acquire);
    if (*info) return S_OK;

    ComPtr<ITypeLib> library;
    HRESULT hr = LoadRegTypeLib(LIBID_Quarrow2, 1, 0, lcid, library.out());
    if (FAILED(hr)) return hr;
    ComPtr<ITypeInfo> loaded;
    hr = library->GetTypeInfoOfGuid(*iid_, loaded.out());
    if (FAILED(hr)) return hr;
    ComPtr<ITypeInfo2> extended;
    if (SUCCEEDED(loaded->QueryInterface(IID_ITypeInfo2, extended.out_void())))
        loaded = ComPtr<ITypeInfo>::adopt(extended.detach());

    FillNameCache(loaded.get());
    *info = loaded.detach();
    info_.store(*info, std::memory_order_release);
    AddCleanup(*this);
    return S_OK;
}

// A function whose description cannot be read is left out: its names then go to the type
// information, which answers them as well, only slower. The same holds for the whole cache
// when memory runs out.
void TypeInfoHolder::FillNameCache(ITypeInfo* info) {
    TYPEATTR* attr = nullptr;
    if (FAILED(info->GetTypeAttr(&attr)) || !attr) return;
    UINT functions = attr->cFuncs;
    info->ReleaseTypeAttr(attr);
    if (functions == 0) return;
    NameEntry* names = new (std::nothrow) NameEntry[functions];
    if (!names) return;
    UINT count = 0;
    for (UINT i = 0; i < functions; ++i) {
        FUNCDESC* function = nullptr;
        if (FAILED(info->GetFuncDesc(i, &function)) || !function) continue;
        DISPID id = function->memid;
        info->ReleaseFuncDesc(function);
        UniqueBstr name;
        if (FAILED(info->GetDocumentation(id, name.out(), nullptr, nullptr, nullptr)) ||
            !name.get())
            continue;
        names[count].length = name.length();
        names[count].name = name.release();
        names[count].id = id;
        ++count;
    }
    names_ = names;
    nameCount_ = count;
}

HRESULT TypeInfoHolder::Resolve(ITypeInfo* info, LPOLESTR name, DISPID* id) const {
    size_t length = NameLength(name);
    for (UINT i = nameCount_; i-- > 0;) {
        const NameEntry& entry = names_[i];
        if (entry.length == length &&
            std::char_traits<OLECHAR>::compare(entry.name, name, length) == 0) {
            *id = entry.id;
            return S_OK;
        }
    }
    return info->GetIDsOfNames(&name, 1, id);
}

void TypeInfoHolder::Empty(CleanupAction* self) {
    TypeInfoHolder* holder = static_cast<TypeInfoHolder*>(self);
    if (ITypeInfo* info = holder->info_.exchange(nullptr)) info->Release();
    for (UINT i = 0; i < holder->nameCount_; ++i) SysFreeString(holder->names_[i].name);
    delete[] holder->names_;
    holder->names_ = nullptr;
    holder->nameCount_ = 0;
}

}  // namespace quarrow2::server

// The plumbing's late binding (store/type_information.h), answered by the holders above.
using quarrow2::server::TypeInfoFor;

HRESULT quarrow2::store::DispatchGetTypeInfo(REFIID iid, LCID lcid, ITypeInfo** ppTInfo) {
    if (!ppTInfo) return E_POINTER;
    *ppTInfo = nullptr;
    ITypeInfo* info = nullptr;
    HRESULT hr = TypeInfoFor(iid).Load(lcid, &info);
    if (FAILED(hr)) return hr;
    info->AddRef();
    *ppTInfo = info;
    return S_OK;
}

HRESULT quarrow2::store::DispatchGetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid,
                                               DISPID* ids) {
    // Missing arguments are refused before the type information is loaded, so that the
    // answer is E_POINTER also where it cannot be.
    if (count > 0 && (!names || !ids)) return E_POINTER;
    auto& holder = TypeInfoFor(iid);
    ITypeInfo* info = nullptr;
    HRESULT hr = holder.Load(lcid, &info);
    if (FAILED(hr)) return hr;
    for (UINT i = 0; i < count; ++i) {
        if (!names[i]) return DISP_E_UNKNOWNNAME;
        hr = holder.Resolve(info, names[i], &ids[i]);
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

HRESULT quarrow2::store::DispatchInvoke(REFIID iid, IDispatch* instance, DISPID member, LCID lcid,
                                        WORD flags, DISPPARAMS* params, VARIANT* result,
                                        EXCEPINFO* excepInfo, UINT* argErr) {
    ITypeInfo* info = nullptr;
    HRESULT hr = TypeInfoFor(iid).Load(lcid, &info);
    if (FAILED(hr)) return hr;
    return info->Invoke(instance, member, flags, params, result, excepInfo, argErr);
}
