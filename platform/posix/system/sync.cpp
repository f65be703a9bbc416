// Critical sections: re-entrant locks, a recursive POSIX mutex living in the section's own
// storage so that no allocation can fail; and the interlocked operations.

#include <cstdlib>
#include <new>
#include <pthread.h>

#include "platform/platform.h"

namespace {

static_assert(sizeof(pthread_mutex_t) <= sizeof(CRITICAL_SECTION::opaque),
              "the mutex must fit the critical section's storage");
static_assert(alignof(pthread_mutex_t) <= alignof(CRITICAL_SECTION),
              "the critical section's storage must be aligned for the mutex");

pthread_mutex_t* MutexOf(LPCRITICAL_SECTION cs) {
    return std::launder(reinterpret_cast<pthread_mutex_t*>(cs->opaque));
}

// Windows raises an exception when a critical section cannot be used; a mutex that refuses
// a plain lock or unlock means the section was never initialised or is already corrupt, and
// going on would break mutual exclusion silently.
void Require(int status) {
    if (status != 0) std::abort();
}

}  // namespace

void InitializeCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
    pthread_mutexattr_t attributes;
    Require(pthread_mutexattr_init(&attributes));
    Require(pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE));
    auto* mutex = new (lpCriticalSection->opaque) pthread_mutex_t;
    Require(pthread_mutex_init(mutex, &attributes));
    pthread_mutexattr_destroy(&attributes);
}

void EnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
    Require(pthread_mutex_lock(MutexOf(lpCriticalSection)));
}

void LeaveCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
    Require(pthread_mutex_unlock(MutexOf(lpCriticalSection)));
}

void DeleteCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
    pthread_mutex_destroy(MutexOf(lpCriticalSection));
}

// Interlocked operations: full barriers, as on Windows.
LONG InterlockedIncrement(LONG volatile* Addend) {
    return __atomic_add_fetch(Addend, 1, __ATOMIC_SEQ_CST);
}

LONG InterlockedDecrement(LONG volatile* Addend) {
    return __atomic_sub_fetch(Addend, 1, __ATOMIC_SEQ_CST);
}

LONG InterlockedExchange(LONG volatile* Target, LONG Value) {
    return __atomic_exchange_n(Target, Value, __ATOMIC_SEQ_CST);
}

LONG InterlockedCompareExchange(LONG volatile* Destination, LONG Exchange, LONG Comparand) {
    __atomic_compare_exchange_n(Destination, &Comparand, Exchange, false, __ATOMIC_SEQ_CST,
                                __ATOMIC_SEQ_CST);
    return Comparand;  // the value found, whether or not it was replaced
}
