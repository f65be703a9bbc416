#include "store/module_lock.h"

namespace quarrow2::store {
namespace {
LONG volatile g_lockCount = 0;
}

void LockModule() { InterlockedIncrement(&g_lockCount); }
void UnlockModule() { InterlockedDecrement(&g_lockCount); }
LONG ModuleLockCount() { return InterlockedCompareExchange(&g_lockCount, 0, 0); }

}  // namespace quarrow2::store
