// Linux has no loader entry point: libquarrow2.so starts its state when it is loaded and
// stops it when it is unloaded (dlclose or process exit), as Quarrow2.dll does in DllMain.
// A program that links the objects statically never runs this file; the state then starts
// on first use and lives until the process ends.
#include "server/library_state.h"

namespace {

__attribute__((constructor)) void StartOnLoad() { quarrow2::server::StartLibrary(nullptr); }

__attribute__((destructor)) void StopOnUnload() { quarrow2::server::StopLibrary(); }

}  // namespace
