// Tags a file with its author and reads the tag back, through the library's interfaces.
// Build against an installed Quarrow2:
//   g++ -std=c++17 hello_metadata.cpp $(pkg-config --cflags --libs quarrow2)
#include <cstdio>

#include "quarrow2/quarrow2.h"

static void PrintError(const char* what) {
    IErrorInfo* info = nullptr;
    BSTR description = nullptr;
    if (GetErrorInfo(0, &info) == S_OK && info) {
        info->GetDescription(&description);
        info->Release();
    }
    std::printf("%s failed: %u UTF-16 units of description\n", what, SysStringLen(description));
    SysFreeString(description);
}

int main(int argc, char** argv) {
    if (argc != 2) return 2;

    IClassFactory* factory = nullptr;
    IFile* file = nullptr;
    if (FAILED(DllGetClassObject(CLSID_File, IID_IClassFactory, reinterpret_cast<void**>(&factory))) ||
        FAILED(factory->CreateInstance(nullptr, IID_IFile, reinterpret_cast<void**>(&file)))) {
        return 1;
    }
    factory->Release();

    // Paths and values are UTF-16; this path is ASCII, so widening each byte is enough.
    OLECHAR path[4096] = {};
    for (int i = 0; argv[1][i] && i < 4095; ++i) path[i] = static_cast<OLECHAR>(argv[1][i]);
    BSTR bstrPath = SysAllocString(path);
    BSTR type = SysAllocString(OLESTR("Author"));
    BSTR author = SysAllocString(OLESTR("Jane Doe"));

    int status = 1;
    VARIANT_BOOL streams = VARIANT_FALSE;
    IMetaData* item = nullptr;
    if (file->SetFile(bstrPath, &streams) == S_OK && streams == VARIANT_TRUE) {
        if (SUCCEEDED(file->Add(type, &item)) && SUCCEEDED(item->put_Text(author))) {
            BSTR text = nullptr;
            LONG length = 0;
            item->get_Text(&text);
            item->get_Length(&length);
            std::printf("Author has %u characters in %d bytes\n", SysStringLen(text), length);
            SysFreeString(text);
            status = 0;
        } else {
            PrintError("Add or put");
        }
    } else {
        std::printf("the volume has no named streams\n");
    }

    if (item) item->Release();
    file->Release();
    SysFreeString(author);
    SysFreeString(type);
    SysFreeString(bstrPath);
    return status;
}
