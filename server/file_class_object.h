// The class object through which clients create File objects.
#pragma once

#include "platform/platform.h"

namespace quarrow2::server {

// A new File class object with a reference count of 0, or null when memory runs out.
IClassFactory* NewFileClassObject();

}  // namespace quarrow2::server
