// The class object through which clients create File objects.
#pragma once

#include "platform/owners.h"
#include "platform/platform.h"

namespace quarrow2::server {

// A new File class object holding the caller's one reference; empty when memory runs out.
ComPtr<IClassFactory> NewFileClassObject();

}  // namespace quarrow2::server
