// The library lock count: live objects, enumerators, server locks and clients' holds on the
// class object. DllCanUnloadNow answers S_OK only when it is 0.
#pragma once

#include "platform/platform.h"

namespace quarrow2::store {

void LockModule();
void UnlockModule();
LONG ModuleLockCount();

// One count of the library lock count for the life of the object that holds it.
class ModuleLock {
public:
    ModuleLock() { LockModule(); }
    ModuleLock(const ModuleLock&) = delete;
    ModuleLock& operator=(const ModuleLock&) = delete;
    ~ModuleLock() { UnlockModule(); }
};

}  // namespace quarrow2::store
