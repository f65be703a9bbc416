#include "server/file_class_object.h"

#include <new>

#include "platform/owners.h"
#include "server/module_lock.h"
#include "store/file.h"

namespace quarrow2::server {
namespace {

// The library keeps one reference to its cached class object for good. A client's hold
// shows as a count above 1, and only that counts toward the library lock count: the first
// client reference (count 1 to 2) locks the library, the last one (2 to 1) unlocks it.
// Both steps happen under the object's own lock, so that a release racing an AddRef
// cannot leave the lock count unbalanced.
class FileClassObject final : public IClassFactory {
public:
    FileClassObject() { InitializeCriticalSection(&lock_); }
    FileClassObject(const FileClassObject&) = delete;
    FileClassObject& operator=(const FileClassObject&) = delete;
    ~FileClassObject() { DeleteCriticalSection(&lock_); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
            *ppv = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }

    ULONG STDMETHODCALLTYPE AddRef() override {
        CriticalSectionGuard guard(lock_);
        LONG count = InterlockedIncrement(&refCount_);
        if (count == 2) LockModule();
        return static_cast<ULONG>(count);
    }

    ULONG STDMETHODCALLTYPE Release() override {
        LONG count;
        {
            CriticalSectionGuard guard(lock_);
            count = InterlockedDecrement(&refCount_);
            if (count == 1) UnlockModule();
        }
        if (count == 0) delete this;
        return static_cast<ULONG>(count);
    }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        File* file = nullptr;
        HRESULT hr = File::Create(&file);
        if (FAILED(hr)) return hr;
        // The holder's reference destroys the new object again when the query fails.
        ComPtr<IFile> holder = ComPtr<IFile>::share(static_cast<IFile*>(file));
        return holder->QueryInterface(riid, ppv);
    }

    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        if (lock)
            LockModule();
        else
            UnlockModule();
        return S_OK;
    }

private:
    LONG volatile refCount_ = 0;
    CRITICAL_SECTION lock_;
};

}  // namespace

IClassFactory* NewFileClassObject() { return new (std::nothrow) FileClassObject(); }

}  // namespace quarrow2::server
