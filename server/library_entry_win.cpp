// The loader's entry point of Quarrow2.dll.
#include "server/library_state.h"

// The library keeps no per-thread state, so the loader need not call in on thread start
// and end.
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    switch (reason) {
        case DLL_PROCESS_ATTACH:
            quarrow2::server::StartLibrary(instance);
            DisableThreadLibraryCalls(instance);
            break;
        case DLL_PROCESS_DETACH:
            quarrow2::server::StopLibrary();
            break;
        default:
            break;
    }
    return TRUE;
}
