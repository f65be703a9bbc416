#include "server/file_class_object.h"

#include "platform/com_object.h"
#include "platform/owners.h"
#include "store/module_lock.h"
#include "store/file.h"

namespace quarrow2::server {
namespace {

// The library keeps one reference to its cached class object for good. A client's hold
// shows as a count above 1, and only that counts toward the library lock count: the first
// client reference (count 1 to 2) locks the library, the last one (2 to 1) unlocks it.
// Both steps happen under the object's own lock, so that a release racing an AddRef
// cannot leave the lock count unbalanced.
class FileClassObject final : public platform::RefCounted<FileClassObject, IClassFactory> {
public:
    using Table = platform::InterfaceTable<platform::Answers<IClassFactory, IID_IUnknown>,
                                           platform::Answers<IClassFactory, IID_IClassFactory>>;

    FileClassObject() { InitializeCriticalSection(&lock_); }

    ULONG STDMETHODCALLTYPE AddRef() override {
        platform::CriticalSectionGuard guard(lock_);
        const ULONG count = CountUp();
        if (count == 2) store::LockModule();
        return count;
    }

    ULONG STDMETHODCALLTYPE Release() override {
        ULONG count;
        {
            platform::CriticalSectionGuard guard(lock_);
            count = CountDown();
            if (count == 1) store::UnlockModule();
        }
        if (count == 0) delete this;
        return count;
    }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        // The maker's reference destroys the new object again when the query fails.
        ComPtr<store::File> file = platform::New<store::File>();
        if (!file) return E_OUTOFMEMORY;
        return file->QueryInterface(riid, ppv);
    }

    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        if (lock)
            store::LockModule();
        else
            store::UnlockModule();
        return S_OK;
    }

private:
    ~FileClassObject() override { DeleteCriticalSection(&lock_); }

    CRITICAL_SECTION lock_;
};

}  // namespace

ComPtr<IClassFactory> NewFileClassObject() {
    return ComPtr<IClassFactory>::adopt(platform::New<FileClassObject>().detach());
}

}  // namespace quarrow2::server
