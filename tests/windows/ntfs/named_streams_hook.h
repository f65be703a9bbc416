// Makes the loaded Quarrow2.dll see a volume with named streams under Wine.
#pragma once

#include <windows.h>

namespace quarrow2::client {

// Wine's GetVolumeInformationW never reports FILE_NAMED_STREAMS, not even for a folder on
// an ntfs-3g mount that serves real NTFS streams, so the DLL would refuse every item there.
// Only this test program's copy of the DLL is changed: its import of GetVolumeInformationW
// is pointed at a function that calls the real one and adds the flag. False when the DLL
// has no such import.
bool ReportNamedStreamsTo(HMODULE dll);

}  // namespace quarrow2::client
