// The tool on the NTFS suite's volume under Wine: Quarrow2.dll, loaded first from this
// program's folder, is told of the named streams the volume keeps (named_streams.h); then
// the command line runs exactly as quarrow2.exe runs it.
#include <string>

#include "tools/cli/cli.h"
#include "windows/ntfs/named_streams.h"

int main(int argc, char** argv) {
    wchar_t self[MAX_PATH];
    std::wstring path(self, GetModuleFileNameW(nullptr, self, MAX_PATH));
    HMODULE dll =
        LoadLibraryW((path.substr(0, path.find_last_of(L"\\/") + 1) + L"Quarrow2.dll").c_str());
    if (!dll || !quarrow2::test::ReportNamedStreams(dll)) return 3;
    return quarrow2::tool::RunTool(argc, argv);
}
