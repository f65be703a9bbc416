// Wine under test: the NTFS volume that ntfs-3g gives it keeps named streams, which Wine's
// volume query never says. Shared by the NTFS suite's programs.
#pragma once

#include <windows.h>

namespace quarrow2::test {

// Wine's GetVolumeInformationW never reports FILE_NAMED_STREAMS, not even for ntfs-3g: the
// DLL's import slot, bound as this program's own import is, is pointed at a wrapper adding it.
inline const decltype(&GetVolumeInformationW) realVolumeInformation = &GetVolumeInformationW;

inline BOOL WINAPI WithNamedStreams(LPCWSTR root, LPWSTR name, DWORD nameSize, LPDWORD serial,
                                    LPDWORD maxComponent, LPDWORD flags, LPWSTR fs, DWORD fsSize) {
    const BOOL ok =
        realVolumeInformation(root, name, nameSize, serial, maxComponent, flags, fs, fsSize);
    if (ok && flags) *flags |= FILE_NAMED_STREAMS;
    return ok;
}

inline bool ReportNamedStreams(HMODULE dll) {
    BYTE* base = reinterpret_cast<BYTE*>(dll);
    const IMAGE_DATA_DIRECTORY& table =
        reinterpret_cast<const IMAGE_NT_HEADERS*>(
            base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew)
            ->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IAT];
    auto* slots = reinterpret_cast<ULONG_PTR*>(base + table.VirtualAddress);
    for (ULONG_PTR* slot = slots; slot < slots + table.Size / sizeof *slot; ++slot) {
        DWORD protection = 0;
        if (*slot != reinterpret_cast<ULONG_PTR>(realVolumeInformation) ||
            !VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &protection))
            continue;
        *slot = reinterpret_cast<ULONG_PTR>(&WithNamedStreams);
        return VirtualProtect(slot, sizeof *slot, protection, &protection);
    }
    return false;
}

}  // namespace quarrow2::test
