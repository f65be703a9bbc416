#include "named_streams_hook.h"

#include <cstring>

namespace quarrow2::client {
namespace {

using VolumeInformationFn = BOOL(WINAPI*)(LPCWSTR, LPWSTR, DWORD, LPDWORD, LPDWORD, LPDWORD, LPWSTR,
                                          DWORD);
VolumeInformationFn realVolumeInformation = nullptr;

BOOL WINAPI VolumeInformationWithStreams(LPCWSTR root, LPWSTR name, DWORD nameSize, LPDWORD serial,
                                         LPDWORD maxComponent, LPDWORD flags, LPWSTR fileSystem,
                                         DWORD fileSystemSize) {
    const BOOL ok = realVolumeInformation(root, name, nameSize, serial, maxComponent, flags,
                                          fileSystem, fileSystemSize);
    if (ok && flags) *flags |= FILE_NAMED_STREAMS;
    return ok;
}

// The slot of the module's import address table that the loader filled for `function`.
ULONG_PTR* ImportSlot(HMODULE module, const char* function) {
    BYTE* base = reinterpret_cast<BYTE*>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (!imports.VirtualAddress) return nullptr;
    for (auto* library =
             reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
         library->Name; ++library) {
        const DWORD namesAt =
            library->OriginalFirstThunk ? library->OriginalFirstThunk : library->FirstThunk;
        auto* names = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + namesAt);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + library->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            const auto* byName =
                reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<const char*>(byName->Name), function) == 0)
                return reinterpret_cast<ULONG_PTR*>(&slots->u1.Function);
        }
    }
    return nullptr;
}

}  // namespace

bool ReportNamedStreamsTo(HMODULE dll) {
    ULONG_PTR* slot = ImportSlot(dll, "GetVolumeInformationW");
    if (!slot) return false;
    const ULONG_PTR replacement = reinterpret_cast<ULONG_PTR>(&VolumeInformationWithStreams);
    if (*slot == replacement) return true;
    DWORD protection = 0;
    if (!VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &protection)) return false;
    realVolumeInformation = reinterpret_cast<VolumeInformationFn>(*slot);
    *slot = replacement;
    VirtualProtect(slot, sizeof *slot, protection, &protection);
    return true;
}

}  // namespace quarrow2::client
