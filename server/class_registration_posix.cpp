// Linux has no registry: the library registers its classes with the runtime's class registry
// when it loads, as registration writes their CLSID and ProgID keys on Windows. This runs in
// a static link too (cmake/Library.cmake makes every link of the objects take this file),
// so ProgIDs resolve there as well.
#include "platform/posix/runtime/class_registry.h"
#include "server/class_table.h"

extern "C" {
// What the links of cmake/Library.cmake name, so that they keep this file.
extern const char quarrow2_registers_classes_on_load;
const char quarrow2_registers_classes_on_load = 1;
}

namespace {

__attribute__((constructor)) void RegisterClassesOnLoad() {
    namespace server = quarrow2::server;
    for (const server::ClassEntry* e = server::ClassTableBegin(); e != server::ClassTableEnd(); ++e)
        quarrow2::platform::RegisterClass(*e->clsid, e->progId, e->versionIndependentProgId);
}

}  // namespace
