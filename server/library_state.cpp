#include "server/library_state.h"

#include <atomic>
#include <thread>

#include "platform/owners.h"

namespace quarrow2::server {
namespace {

// Everything here is constant-initialised, so it is valid before any constructor of the
// program runs and whatever the order in which the objects of a static link start.
enum : LONG { kStopped = 0, kStarting = 1, kStarted = 2 };

LONG volatile g_phase = kStopped;
HMODULE g_module = nullptr;
CRITICAL_SECTION g_classObjectLock;
CRITICAL_SECTION g_typeInfoLock;
std::atomic<IUnknown*> g_classObject{nullptr};
CleanupAction* g_cleanup = nullptr;  // guarded by the type-information lock

LONG Phase() { return InterlockedCompareExchange(&g_phase, kStopped, kStopped); }

void EnsureStarted() {
    if (Phase() == kStarted) return;
    if (InterlockedCompareExchange(&g_phase, kStarting, kStopped) == kStopped) {
        InitializeCriticalSection(&g_classObjectLock);
        InitializeCriticalSection(&g_typeInfoLock);
        InterlockedExchange(&g_phase, kStarted);
        return;
    }
    // Another thread is creating the locks; it takes no time worth blocking for.
    while (Phase() != kStarted) std::this_thread::yield();
}

}  // namespace

void StartLibrary(HMODULE module) {
    EnsureStarted();
    g_module = module;
}

void StopLibrary() {
    if (Phase() != kStarted) return;
    if (IUnknown* classObject = g_classObject.exchange(nullptr)) classObject->Release();
    DeleteCriticalSection(&g_classObjectLock);
    DeleteCriticalSection(&g_typeInfoLock);
    CleanupAction* action = g_cleanup;
    g_cleanup = nullptr;
    while (action) {
        CleanupAction* next = action->next;
        action->next = nullptr;
        action->queued = false;
        action->run(action);
        action = next;
    }
    g_module = nullptr;
    InterlockedExchange(&g_phase, kStopped);
}

HMODULE LibraryModule() { return g_module; }

CRITICAL_SECTION& ClassObjectLock() {
    EnsureStarted();
    return g_classObjectLock;
}

CRITICAL_SECTION& TypeInfoLock() {
    EnsureStarted();
    return g_typeInfoLock;
}

IUnknown* CachedClassObject() { return g_classObject.load(std::memory_order_acquire); }

void CacheClassObject(IUnknown* classObject) {
    g_classObject.store(classObject, std::memory_order_release);
}

void AddCleanup(CleanupAction& action) {
    // Critical sections are re-entrant: a holder adds its action while it holds this lock.
    platform::CriticalSectionGuard guard(TypeInfoLock());
    if (action.queued) return;
    action.queued = true;
    action.next = g_cleanup;
    g_cleanup = &action;
}

}  // namespace quarrow2::server
