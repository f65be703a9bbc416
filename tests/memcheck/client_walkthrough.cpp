// A client of the public interface alone that goes through every object and most of their
// paths, failures included, and leaves nothing behind: memcheck runs it and counts what it
// lost. Usage: client_walkthrough FILE (a new file, in a folder with user extended
// attributes).
// Exit status 0 when every answer was the expected one, 1 otherwise, 2 for bad usage.
#include <cstdio>
#include <cstring>
#include <string>

#include "quarrow2/client.h"

namespace {

int g_failures = 0;

void Check(bool ok, const char* what) {
    if (ok) return;
    std::printf("FAILED: %s\n", what);
    ++g_failures;
}

// The path as UTF-16; the test gives an ASCII path, so widening each byte is enough.
BSTR PathOf(const char* ascii) {
    const std::string path(ascii);
    const std::u16string units(path.begin(), path.end());
    return SysAllocStringLen(units.data(), static_cast<UINT>(units.size()));
}

// Takes the thread's rich error; true when there was one with a description.
bool TakeRichError() { return quarrow2::TakeRichError().description.length() > 0; }

VARIANT ByteArray(const unsigned char* bytes, ULONG count) {
    SAFEARRAYBOUND bound;
    bound.cElements = count;
    bound.lLbound = 1;
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_ARRAY | VT_UI1;
    V_ARRAY(&v) = SafeArrayCreate(VT_UI1, 1, &bound);
    void* data = nullptr;
    if (V_ARRAY(&v) && count && SafeArrayAccessData(V_ARRAY(&v), &data) == S_OK) {
        std::memcpy(data, bytes, count);
        SafeArrayUnaccessData(V_ARRAY(&v));
    }
    return v;
}

IMetaData* AddItem(IFile* file, const char16_t* type) {
    BSTR name = SysAllocString(type);
    IMetaData* item = nullptr;
    Check(file->Add(name, &item) == S_OK && item, "Add");
    SysFreeString(name);
    return item;
}

void Items(IFile* file) {
    IMetaData* author = AddItem(file, u"Author");
    if (!author) return;
    BSTR text = SysAllocString(u"Jane Doe");
    Check(author->put_Text(text) == S_OK, "put_Text");
    SysFreeString(text);
    BSTR read = nullptr;
    Check(author->get_Text(&read) == S_OK && SysStringLen(read) == 8, "get_Text");
    SysFreeString(read);
    BSTR name = nullptr;
    Check(author->get_Name(&name) == S_OK, "get_Name");
    SysFreeString(name);
    LONG length = 0;
    Check(author->get_Length(&length) == S_OK && length == 16, "get_Length");

    const unsigned char bytes[] = {0, 1, 2, 3, 254, 255};
    VARIANT value = ByteArray(bytes, sizeof bytes);
    Check(author->put_Data(value) == S_OK, "put_Data");
    VariantClear(&value);
    VARIANT data;
    VariantInit(&data);
    Check(author->get_Data(&data) == S_OK && V_VT(&data) == (VT_ARRAY | VT_UI1), "get_Data");
    VariantClear(&data);

    // Failures: a value that is not a byte array, a second opener, a closed item.
    VARIANT number;
    VariantInit(&number);
    V_VT(&number) = VT_I4;
    V_I4(&number) = 7;
    Check(author->put_Data(number) == E_FAIL && TakeRichError(), "put_Data of a number");
    BSTR type = SysAllocString(u"Author");
    IMetaData* second = nullptr;
    Check(file->Open(type, &second) == E_FAIL && !second && TakeRichError(), "a second Open");
    SysFreeString(type);
    Check(author->Close() == S_OK, "Close");
    BSTR closed = nullptr;
    Check(author->get_Text(&closed) == E_FAIL && TakeRichError(), "get_Text after Close");
    SysFreeString(closed);
    author->Release();

    IMetaData* empty = AddItem(file, u"Empty");
    IMetaData* gone = AddItem(file, u"Gone");
    if (gone) {
        Check(gone->Delete() == S_OK, "Delete");
        gone->Release();
    }
    if (empty) empty->Release();  // released without Close: the release closes it
}

void Lists(IFile* file) {
    IStrings* types = nullptr;
    Check(file->get_Types(&types) == S_OK && types, "get_Types");
    if (!types) return;
    LONG count = 0;
    Check(types->get_Count(&count) == S_OK && count == 2, "get_Count");
    for (LONG i = 1; i <= count + 1; ++i) {
        VARIANT item;
        VariantInit(&item);
        types->get_Item(i, &item);
        VariantClear(&item);
    }
    IUnknown* unknown = nullptr;
    Check(types->get__NewEnum(&unknown) == S_OK && unknown, "get__NewEnum");
    IEnumVARIANT* walk = nullptr;
    if (unknown &&
        unknown->QueryInterface(IID_IEnumVARIANT, reinterpret_cast<void**>(&walk)) == S_OK) {
        VARIANT batch[3];
        ULONG fetched = 0;
        Check(walk->Next(3, batch, &fetched) == S_FALSE && fetched == 2, "Next");
        for (ULONG i = 0; i < fetched; ++i) VariantClear(&batch[i]);
        walk->Reset();
        walk->Skip(1);
        IEnumVARIANT* clone = nullptr;
        Check(walk->Clone(&clone) == S_OK && clone, "Clone");
        if (clone) clone->Release();
        walk->Release();
    }
    if (unknown) unknown->Release();
    types->Release();

    LONG total = 0;
    Check(file->get_Length(&total) == S_OK && total == 6 + 32, "get_Length of the file");
}

void Refusals(IFile* file) {
    BSTR forbidden = SysAllocString(u":$DATA");
    IMetaData* item = nullptr;
    Check(file->Add(forbidden, &item) == E_FAIL && TakeRichError(), "Add of a forbidden type");
    SysFreeString(forbidden);
    BSTR missing = SysAllocString(u"Missing");
    Check(file->Open(missing, &item) == E_FAIL && TakeRichError(), "Open of a missing item");
    SysFreeString(missing);
    Check(file->Close() == S_OK, "Close of the file");
    LONG total = 0;
    Check(file->get_Length(&total) == E_FAIL && TakeRichError(), "Length without a path");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    IClassFactory* factory = nullptr;
    Check(DllGetClassObject(CLSID_File, IID_IClassFactory, reinterpret_cast<void**>(&factory)) ==
              S_OK,
          "DllGetClassObject");
    if (!factory) return 1;
    factory->LockServer(TRUE);
    IFile* file = nullptr;
    Check(factory->CreateInstance(nullptr, IID_IFile, reinterpret_cast<void**>(&file)) == S_OK,
          "CreateInstance");
    factory->LockServer(FALSE);
    factory->Release();
    if (!file) return 1;

    BSTR path = PathOf(argv[1]);
    VARIANT_BOOL streams = VARIANT_FALSE;
    Check(file->SetFile(path, &streams) == S_OK && streams == VARIANT_TRUE, "SetFile");
    SysFreeString(path);
    Items(file);
    Lists(file);
    VARIANT_BOOL exists = VARIANT_FALSE;
    Check(file->get_Exists(&exists) == S_OK && exists == VARIANT_TRUE, "Exists");
    Refusals(file);
    file->Release();

    Check(DllCanUnloadNow() == S_OK, "DllCanUnloadNow after the last release");
    std::printf("%d failures\n", g_failures);
    return g_failures ? 1 : 0;
}
