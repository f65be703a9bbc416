#include "server/registry_entries_win.h"

namespace quarrow2::server {
namespace {

LONG SetString(HKEY key, const WCHAR* name, const WString& data) {
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                          static_cast<DWORD>((data.size() + 1) * sizeof(WCHAR)));
}

LONG WriteKey(HKEY parent, const RegistryKey& entry) {
    if (entry.removal == RemovalRule::Replace) {
        LONG rc = RegDeleteTreeW(parent, entry.name.c_str());
        if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) return rc;
    }
    RegistryHandle key;
    LONG rc = RegCreateKeyExW(parent, entry.name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                              KEY_READ | KEY_WRITE, nullptr, key.out(), nullptr);
    if (rc != ERROR_SUCCESS) return rc;
    if (entry.hasDefault) {
        rc = SetString(key.get(), nullptr, entry.defaultData);
        if (rc != ERROR_SUCCESS) return rc;
    }
    for (const RegistryValue& value : entry.values) {
        rc = SetString(key.get(), value.name.c_str(), value.data);
        if (rc != ERROR_SUCCESS) return rc;
    }
    for (const RegistryKey& subkey : entry.subkeys) {
        rc = WriteKey(key.get(), subkey);
        if (rc != ERROR_SUCCESS) return rc;
    }
    return ERROR_SUCCESS;
}

LONG RemoveKey(HKEY parent, const RegistryKey& entry, RegistryScope scope) {
    RegistryHandle key;
    LONG rc = RegOpenKeyExW(parent, entry.name.c_str(), 0, KEY_READ | KEY_WRITE, key.out());
    if (rc == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
    if (rc != ERROR_SUCCESS) return rc;
    for (const RegistryValue& value : entry.values) {
        rc = RegDeleteValueW(key.get(), value.name.c_str());
        if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) return rc;
    }
    for (const RegistryKey& subkey : entry.subkeys) {
        rc = RemoveKey(key.get(), subkey, scope);
        if (rc != ERROR_SUCCESS) return rc;
    }
    if (entry.removal == RemovalRule::Keep && scope == RegistryScope::Machine) return ERROR_SUCCESS;
    DWORD subkeysLeft = 0;
    rc = RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subkeysLeft, nullptr, nullptr,
                          nullptr, nullptr, nullptr, nullptr, nullptr);
    if (rc != ERROR_SUCCESS) return rc;
    key.reset();
    if (subkeysLeft != 0) return ERROR_SUCCESS;
    rc = RegDeleteKeyW(parent, entry.name.c_str());
    return rc == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : rc;
}

}  // namespace

HRESULT OpenClassesRoot(RegistryScope scope, RegistryHandle& userRoot, HKEY& root) {
    root = HKEY_CLASSES_ROOT;
    if (scope == RegistryScope::Machine) return S_OK;
    LONG rc = RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Classes", 0, nullptr,
                              REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE, nullptr,
                              userRoot.out(), nullptr);
    if (rc != ERROR_SUCCESS) return HRESULT_FROM_WIN32(static_cast<DWORD>(rc));
    root = userRoot.get();
    return S_OK;
}

HRESULT WriteRegistryEntries(HKEY root, const std::vector<RegistryKey>& keys) {
    for (const RegistryKey& key : keys) {
        LONG rc = WriteKey(root, key);
        if (rc != ERROR_SUCCESS) return HRESULT_FROM_WIN32(static_cast<DWORD>(rc));
    }
    return S_OK;
}

HRESULT RemoveRegistryEntries(HKEY root, const std::vector<RegistryKey>& keys,
                              RegistryScope scope) {
    for (const RegistryKey& key : keys) {
        LONG rc = RemoveKey(root, key, scope);
        if (rc != ERROR_SUCCESS) return HRESULT_FROM_WIN32(static_cast<DWORD>(rc));
    }
    return S_OK;
}

}  // namespace quarrow2::server
