#include "server/class_table.h"

#include "quarrow2/quarrow2.h"
#include "resource_ids.h"

namespace quarrow2::server {
namespace {

const ClassEntry kClasses[] = {
    {QUARROW2_IDENTITY_File, true},
    {QUARROW2_IDENTITY_MetaData, false},
    {QUARROW2_IDENTITY_Strings, false},
};

}  // namespace

const ClassEntry* ClassTableBegin() { return kClasses; }
const ClassEntry* ClassTableEnd() { return kClasses + sizeof(kClasses) / sizeof(kClasses[0]); }

const ClassEntry* FindClass(REFCLSID clsid) {
    for (const ClassEntry* e = ClassTableBegin(); e != ClassTableEnd(); ++e)
        if (IsEqualGUID(*e->clsid, clsid)) return e;
    return nullptr;
}

}  // namespace quarrow2::server
