// Critical sections: re-entrant locks, a recursive POSIX mutex living in the section's own
// storage so that no allocation can fail.
#include <pthread.h>

#include <cstdlib>
#include <new>

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
