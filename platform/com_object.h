// The one base of the objects handed to clients: one reference count, one QueryInterface
// over a table the class lists, and one way to make an object (`New<T>`).
//
// A class derives from RefCounted<Self, Interfaces...> in place of the interfaces, and
// names its table as the public type `Table`:
//
//   class Thing final : public RefCounted<Thing, IThing> {
//   public:
//       using Table = InterfaceTable<Answers<IThing, IID_IUnknown>, Answers<IThing, IID_IThing>>;
//   };
//
// Objects live on the heap alone (the destructor is not public) and go with their last
// Release.
#pragma once

#include <atomic>
#include <new>
#include <utility>

#include "platform/owners.h"
#include "platform/platform.h"

namespace quarrow2::platform {

// One row of a QueryInterface table: a request for `Id` is answered with the object seen as
// `Interface`. IUnknown and IDispatch are rows like any other, so that a class with several
// interfaces says which one stands for its identity.
template <class Interface, const IID& Id>
struct Answers {
    template <class Object>
    static bool Find(Object* object, REFIID riid, void** ppv) {
        if (!IsEqualIID(riid, Id)) return false;
        Interface* found = object;
        found->AddRef();
        *ppv = found;
        return true;
    }
};

template <class... Rows>
struct InterfaceTable {
    template <class Object>
    static HRESULT Query(Object* object, REFIID riid, void** ppv) {
        if (!ppv) return E_POINTER;
        if ((Rows::Find(object, riid, ppv) || ...)) return S_OK;
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
};

template <class Derived, class... Interfaces>
class RefCounted : public Interfaces... {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        return Derived::Table::Query(static_cast<Derived*>(this), riid, ppv);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return CountUp(); }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = CountDown();
        if (left == 0) delete this;
        return left;
    }

protected:
    RefCounted() = default;
    RefCounted(const RefCounted&) = delete;
    RefCounted& operator=(const RefCounted&) = delete;
    virtual ~RefCounted() = default;

    // For a class whose AddRef and Release do more than count (the class object).
    ULONG CountUp() { return ++references_; }
    ULONG CountDown() { return --references_; }

private:
    std::atomic<ULONG> references_{0};
};

// A new object holding one reference, the caller's; empty when memory runs out.
template <class T, class... Args>
ComPtr<T> New(Args&&... args) {
    return ComPtr<T>::share(new (std::nothrow) T(std::forward<Args>(args)...));
}

}  // namespace quarrow2::platform
