// Writes and removes the entries of a registration script in the Windows registry.
#pragma once

#include <vector>

#include "server/registration_script.h"

namespace quarrow2::server {

// An open registry key.
struct RegistryKeyKind : NullMeansNone<HKEY> {
    static void Close(HKEY key) { RegCloseKey(key); }
};
using RegistryHandle = UniqueOwner<RegistryKeyKind>;

// Where class registrations go: the machine's classes (HKEY_CLASSES_ROOT), or the current
// user's own (HKEY_CURRENT_USER\Software\Classes), which a user may write without an
// administrator's rights. The user's key is opened, and made when missing.
enum class RegistryScope { Machine, User };
HRESULT OpenClassesRoot(RegistryScope scope, RegistryHandle& userRoot, HKEY& root);

// Creates each key (a key marked replace is first deleted with all beneath it) and sets its
// values. Stops at the first failure, with the registry's error code as an HRESULT.
HRESULT WriteRegistryEntries(HKEY root, const std::vector<RegistryKey>& keys);

// Depth first: a key that is missing is skipped with all listed beneath it; listed values
// are deleted; a key not marked keep is deleted once no subkey is left under it, so a
// subkey that the script does not list holds its key in place. Stops at the first failure.
// Keys marked keep are the system's own in the machine's classes; in the user's classes
// (RegistryScope::User) registration made them, and they go as well once empty.
HRESULT RemoveRegistryEntries(HKEY root, const std::vector<RegistryKey>& keys,
                              RegistryScope scope = RegistryScope::Machine);

}  // namespace quarrow2::server
