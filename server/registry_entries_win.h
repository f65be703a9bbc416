// Writes and removes the entries of a registration script in the Windows registry.
#pragma once

#include <vector>

#include "server/registration_script.h"

namespace quarrow2::server {

// Creates each key (a key marked replace is first deleted with all beneath it) and sets its
// values. Stops at the first failure, with the registry's error code as an HRESULT.
HRESULT WriteRegistryEntries(HKEY root, const std::vector<RegistryKey>& keys);

// Depth first: a key that is missing is skipped with all listed beneath it; listed values
// are deleted; a key not marked keep is deleted once no subkey is left under it, so a
// subkey that the script does not list holds its key in place. Stops at the first failure.
HRESULT RemoveRegistryEntries(HKEY root, const std::vector<RegistryKey>& keys);

}  // namespace quarrow2::server
