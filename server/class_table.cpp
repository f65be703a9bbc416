#include "server/class_table.h"

#include "quarrow2/quarrow2.h"
#include "resource_ids.h"

namespace quarrow2::server {
namespace {

const ClassEntry kClasses[] = {
    {&CLSID_File, OLESTR("Quarrow2.File.1"), OLESTR("Quarrow2.File"), "File Class",
     QUARROW2_FILE_SCRIPT, true},
    {&CLSID_MetaData, OLESTR("Quarrow2.MetaData.1"), OLESTR("Quarrow2.MetaData"), "MetaData Class",
     QUARROW2_METADATA_SCRIPT, false},
    {&CLSID_Strings, OLESTR("Quarrow2.Strings.1"), OLESTR("Quarrow2.Strings"), "Strings Class",
     QUARROW2_STRINGS_SCRIPT, false},
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
