// Tags a file with its author and reads the tag back, through the library's interfaces.
// Build against an installed Quarrow2:
//   g++ -std=c++17 hello_metadata.cpp $(pkg-config --cflags --libs quarrow2)
#include <cstdio>

#include "quarrow2/client.h"

using quarrow2::ComPtr;
using quarrow2::UniqueBstr;
using quarrow2::UniqueVariant;
using quarrow2::VariantTable;

static void PrintError(const char* what) {
    const quarrow2::RichError error = quarrow2::TakeRichError();
    std::printf("%s failed: %u UTF-16 units of description\n", what, error.description.length());
}

int main(int argc, char** argv) {
    if (argc != 2) return 2;

    // Each owner releases what it holds when main returns, on every path.
    ComPtr<IClassFactory> factory;
    ComPtr<IFile> file;
    if (FAILED(DllGetClassObject(CLSID_File, IID_IClassFactory, factory.out_void())) ||
        FAILED(factory->CreateInstance(nullptr, IID_IFile, file.out_void()))) {
        return 1;
    }

    // Paths and values are UTF-16; this path is ASCII, so widening each byte is enough.
    OLECHAR path[4096] = {};
    for (int i = 0; argv[1][i] && i < 4095; ++i) path[i] = static_cast<OLECHAR>(argv[1][i]);
    UniqueBstr bstrPath(SysAllocString(path));
    UniqueBstr type(SysAllocString(OLESTR("Author")));
    UniqueBstr author(SysAllocString(OLESTR("Jane Doe")));

    VARIANT_BOOL streams = VARIANT_FALSE;
    if (file->SetFile(bstrPath.get(), &streams) != S_OK || streams != VARIANT_TRUE) {
        std::printf("the volume has no named streams\n");
        return 1;
    }
    ComPtr<IMetaData> item;
    if (FAILED(file->Add(type.get(), item.out())) || FAILED(item->put_Text(author.get()))) {
        PrintError("Add or put");
        return 1;
    }
    // IFile2, the same object, reads an item without opening it (the one held open above
    // does not stop it) and lists the items with their sizes; unlike IFile's Types, both fail
    // with the cause when the file cannot be read.
    ComPtr<IFile2> file2;
    UniqueBstr text;
    UniqueVariant items;
    if (FAILED(file->QueryInterface(IID_IFile2, file2.out_void())) ||
        FAILED(file2->ReadText(type.get(), text.out())) || FAILED(file2->get_Items(items.out()))) {
        PrintError("ReadText or Items");
        return 1;
    }
    const VariantTable table(*items);  // row i: the type name, then its size
    const LONG length = table.rows() == 1 ? table.at(0, 1).lVal : -1;
    std::printf("Author has %u characters in %d bytes\n", text.length(), length);
    return 0;
}
