// DllRegisterServer and DllUnregisterServer: the registry entries of the three classes,
// from the registration scripts the DLL carries, and the type library it carries, for the
// whole machine. DllInstall with the command line "user" writes and removes the same
// entries for the current user alone (regsvr32 /n /i:user, regsvr32 /u /n /i:user).
#include <new>
#include <string>
#include <vector>

#include "platform/owners.h"
#include "server/class_table.h"
#include "server/library_state.h"
#include "server/registration_script.h"
#include "server/registry_entries_win.h"
#include "store/diagnostic_trace.h"

namespace quarrow2::server {
namespace {

HRESULT LastErrorResult() {
    DWORD code = GetLastError();
    return code != 0 ? HRESULT_FROM_WIN32(code) : E_FAIL;
}

// The full path of the DLL as the system reports it. The wide form, so that a folder name
// outside the ANSI code page still registers a path that loads.
HRESULT ModulePath(WString& path) {
    for (DWORD size = MAX_PATH;; size *= 2) {
        path.resize(size);
        DWORD n = GetModuleFileNameW(LibraryModule(), &path[0], size);
        if (n == 0) return LastErrorResult();
        if (n < size) {
            path.resize(n);
            return S_OK;
        }
        if (size >= 32768) return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    }
}

// A module loaded as data alone, for its resources.
struct DataFileKind : NullMeansNone<HMODULE> {
    static void Close(HMODULE module) { FreeLibrary(module); }
};

// The registration script of one class, read from the DLL file opened as data.
HRESULT ReadScript(const WString& modulePath, UINT id, std::string& text) {
    const UniqueOwner<DataFileKind> file(
        LoadLibraryExW(modulePath.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    if (!file.get()) return LastErrorResult();
    HRSRC found = FindResourceW(file.get(), MAKEINTRESOURCEW(id), L"REGISTRY");
    if (!found) return LastErrorResult();
    DWORD size = SizeofResource(file.get(), found);
    HGLOBAL loaded = LoadResource(file.get(), found);
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    if (!bytes) return LastErrorResult();
    text.assign(static_cast<const char*>(bytes), size);
    return S_OK;
}

HRESULT ClassEntries(const ClassEntry& row, const WString& modulePath,
                     std::vector<RegistryKey>& keys) {
    std::string text;
    HRESULT hr = ReadScript(modulePath, row.registrationScript, text);
    if (FAILED(hr)) return hr;
    ScriptError error;
    if (!ParseRegistrationScript(text, modulePath, keys, error)) {
        std::string note = "Quarrow2: registration script " +
                           std::to_string(row.registrationScript) + ", line " +
                           std::to_string(error.line) + ": " + error.reason + "\n";
        store::DiagnosticTrace(note.c_str(), 1);
        return HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
    }
    return S_OK;
}

// The type library inside the DLL, or failing that the .tlb file beside it. `loadedFrom`
// tells which path worked.
HRESULT LoadOwnTypeLib(const WString& modulePath, ITypeLib** library, WString& loadedFrom) {
    loadedFrom = modulePath;
    HRESULT hr = LoadTypeLib(loadedFrom.c_str(), library);
    if (SUCCEEDED(hr)) return hr;
    size_t name = modulePath.find_last_of(L"\\/:");
    size_t dot = modulePath.find_last_of(L'.');
    // Only a dot in the file's own name starts its extension.
    if (dot != WString::npos && (name == WString::npos || dot > name))
        loadedFrom = modulePath.substr(0, dot);
    loadedFrom += L".tlb";
    return LoadTypeLib(loadedFrom.c_str(), library);
}

HRESULT RegisterOwnTypeLib(const WString& modulePath, RegistryScope scope) {
    ComPtr<ITypeLib> library;
    WString path;
    HRESULT hr = LoadOwnTypeLib(modulePath, library.out(), path);
    if (FAILED(hr)) return hr;
    size_t cut = path.find_last_of(L"\\/:");
    WString helpDir = cut == WString::npos ? WString() : path.substr(0, cut + 1);
    OLECHAR* help = helpDir.empty() ? nullptr : &helpDir[0];
    if (scope == RegistryScope::User) return RegisterTypeLibForUser(library.get(), &path[0], help);
    return RegisterTypeLib(library.get(), &path[0], help);
}

void UnregisterOwnTypeLib(const WString& modulePath, RegistryScope scope) {
    ComPtr<ITypeLib> library;
    WString path;
    if (FAILED(LoadOwnTypeLib(modulePath, library.out(), path))) return;
    TLIBATTR* attributes = nullptr;
    if (FAILED(library->GetLibAttr(&attributes)) || !attributes) return;
    // The target system the library records (SYS_WIN32), under which it was registered.
    if (scope == RegistryScope::User)
        UnRegisterTypeLibForUser(attributes->guid, 1, 0, 0, attributes->syskind);
    else
        UnRegisterTypeLib(attributes->guid, 1, 0, 0, attributes->syskind);
    library->ReleaseTLibAttr(attributes);
}

HRESULT RegisterServer(RegistryScope scope) {
    WString modulePath;
    HRESULT hr = ModulePath(modulePath);
    if (FAILED(hr)) return hr;
    RegistryHandle userRoot;
    HKEY root = nullptr;
    hr = OpenClassesRoot(scope, userRoot, root);
    if (FAILED(hr)) return hr;
    for (const ClassEntry* row = ClassTableBegin(); row != ClassTableEnd(); ++row) {
        std::vector<RegistryKey> keys;
        hr = ClassEntries(*row, modulePath, keys);
        if (FAILED(hr)) return hr;
        hr = WriteRegistryEntries(root, keys);
        if (FAILED(hr)) {
            RemoveRegistryEntries(root, keys, scope);
            return hr;
        }
    }
    return RegisterOwnTypeLib(modulePath, scope);
}

void UnregisterServer(RegistryScope scope) {
    WString modulePath;
    RegistryHandle userRoot;
    HKEY root = nullptr;
    if (FAILED(ModulePath(modulePath)) || FAILED(OpenClassesRoot(scope, userRoot, root))) return;
    for (const ClassEntry* row = ClassTableBegin(); row != ClassTableEnd(); ++row) {
        std::vector<RegistryKey> keys;
        if (SUCCEEDED(ClassEntries(*row, modulePath, keys)))
            RemoveRegistryEntries(root, keys, scope);
    }
    UnregisterOwnTypeLib(modulePath, scope);
}

HRESULT Register(RegistryScope scope) {
    try {
        return RegisterServer(scope);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT Unregister(RegistryScope scope) {
    try {
        UnregisterServer(scope);
    } catch (const std::bad_alloc&) {
        // Whatever could not be removed stays; unregistration reports no failures.
    }
    return S_OK;
}

}  // namespace
}  // namespace quarrow2::server

STDAPI DllRegisterServer() {
    return quarrow2::server::Register(quarrow2::server::RegistryScope::Machine);
}

STDAPI DllUnregisterServer() {
    return quarrow2::server::Unregister(quarrow2::server::RegistryScope::Machine);
}

// regsvr32 /i:CMDLINE passes CMDLINE: "user" for the current user alone; none, or an empty
// one, for the machine as DllRegisterServer does.
STDAPI DllInstall(BOOL install, PCWSTR commandLine) {
    using namespace quarrow2::server;
    RegistryScope scope = RegistryScope::Machine;
    if (commandLine && commandLine[0] != L'\0') {
        if (lstrcmpiW(commandLine, L"user") != 0) return E_INVALIDARG;
        scope = RegistryScope::User;
    }
    return install ? Register(scope) : Unregister(scope);
}
