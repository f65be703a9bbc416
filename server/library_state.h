// The library's process-wide state: its module handle, the cached File class object, the
// class-object and type-information locks and the clean-up list.
//
// The platform's entry point calls StartLibrary on load and StopLibrary on unload. A
// program that links the library's objects statically has no such entry point, so every
// accessor below also starts the state on first use; starting is safe from any thread.
#pragma once

#include "platform/platform.h"

namespace quarrow2::server {

// Load: records the module handle (null where the platform has none to give) and creates
// the two locks. Calling it again while started only records the handle.
void StartLibrary(HMODULE module);

// Unload: releases the library's reference to the cached class object, destroys the two
// locks and runs the clean-up list, most recently added action first. Afterwards the state
// is as before the first start, and the next use starts it again.
void StopLibrary();

HMODULE LibraryModule();

// Serialises the making of the cached File class object.
CRITICAL_SECTION& ClassObjectLock();
// Serialises the loading of type information, for all three interfaces.
CRITICAL_SECTION& TypeInfoLock();

// The cached File class object (the library's own reference), or null.
IUnknown* CachedClassObject();
// Stores the first class object made; the library keeps the caller's reference. Call with
// the class-object lock held.
void CacheClassObject(IUnknown* classObject);

// One action of the clean-up list. The owner embeds it (so adding can never fail) and keeps
// it alive until the library stops; an action already on the list is not added twice.
struct CleanupAction {
    void (*run)(CleanupAction* self) = nullptr;
    CleanupAction* next = nullptr;
    bool queued = false;
};

void AddCleanup(CleanupAction& action);

}  // namespace quarrow2::server
