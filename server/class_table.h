// The library's classes, in the order registration, unregistration and the search for a
// class object walk them.
#pragma once

#include "platform/platform.h"

namespace quarrow2::server {

struct ClassEntry {
    const CLSID* clsid;
    const OLECHAR* progId;                    // "Quarrow2.File.1"
    const OLECHAR* versionIndependentProgId;  // "Quarrow2.File"
    const char* description;                  // "File Class"
    UINT registrationScript;                  // resource identifier of type "REGISTRY"
    bool servesClassObject;                   // only File is creatable by clients
};

// The three rows: File, MetaData, Strings.
const ClassEntry* ClassTableBegin();
const ClassEntry* ClassTableEnd();

// The row of a class identifier, or null.
const ClassEntry* FindClass(REFCLSID clsid);

}  // namespace quarrow2::server
