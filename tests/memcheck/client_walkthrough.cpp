// Every object of the public interface and most of their paths, failures included, for memcheck
// to count what it lost. Usage: client_walkthrough NEW_FILE. Exit status 1 on a wrong answer.
#include <cstdio>
#include <string>

#include "quarrow2/client.h"

namespace {

using quarrow2::ComPtr;
using quarrow2::UniqueBstr;
using quarrow2::UniqueVariant;

int g_failures = 0;

void Check(bool ok, const char* what) {
    if (ok) return;
    std::printf("FAILED: %s\n", what);
    ++g_failures;
}

UniqueBstr Bstr(const char16_t* s) { return UniqueBstr(SysAllocString(s)); }

// A failure that left a rich error with a description, which it takes.
bool Failed(HRESULT hr) {
    return hr == E_FAIL && quarrow2::TakeRichError().description.length() > 0;
}

ComPtr<IMetaData> AddItem(IFile* file, const char16_t* type) {
    ComPtr<IMetaData> item;
    Check(file->Add(Bstr(type).get(), item.out()) == S_OK && item, "Add");
    return item;
}

void Items(IFile* file) {
    ComPtr<IMetaData> author = AddItem(file, u"Author");
    if (!author) return;
    Check(author->put_Text(Bstr(u"Jane Doe").get()) == S_OK, "put_Text");
    UniqueBstr text;
    LONG length = 0;
    Check(author->get_Text(text.out()) == S_OK && text.length() == 8, "get_Text");
    Check(author->get_Name(text.out()) == S_OK, "get_Name");
    Check(author->get_Length(&length) == S_OK && length == 16, "get_Length");

    SAFEARRAYBOUND bound{6, 1};  // six zero bytes
    UniqueVariant value;
    V_VT(value.get()) = VT_ARRAY | VT_UI1;
    V_ARRAY(value.get()) = SafeArrayCreate(VT_UI1, 1, &bound);
    Check(author->put_Data(*value) == S_OK, "put_Data");
    Check(author->get_Data(value.out()) == S_OK && value->vt == (VT_ARRAY | VT_UI1), "get_Data");

    // Failures: a value that is not a byte array, a second opener, a closed item.
    UniqueVariant number;
    V_VT(number.get()) = VT_I4;
    Check(Failed(author->put_Data(*number)), "put_Data of a number");
    ComPtr<IMetaData> second;
    Check(Failed(file->Open(Bstr(u"Author").get(), second.out())) && !second, "a second Open");
    Check(author->Close() == S_OK, "Close");
    Check(Failed(author->get_Text(text.out())), "get_Text after Close");

    ComPtr<IMetaData> empty = AddItem(file, u"Empty");  // released without Close: that closes it
    ComPtr<IMetaData> gone = AddItem(file, u"Gone");
    if (gone) Check(gone->Delete() == S_OK, "Delete");

    VARIANT_BOOL exists = VARIANT_FALSE;
    Check(file->get_Exists(&exists) == S_OK && exists == VARIANT_TRUE, "Exists");
    Check(Failed(file->Add(Bstr(u":$DATA").get(), second.out())), "Add of a forbidden type");
    Check(Failed(file->Open(Bstr(u"Missing").get(), second.out())), "Open of a missing item");
}

void Lists(IFile* file) {
    ComPtr<IStrings> types;
    Check(file->get_Types(types.out()) == S_OK && types, "get_Types");
    if (!types) return;
    LONG count = 0;
    Check(types->get_Count(&count) == S_OK && count == 2, "get_Count");
    for (LONG i = 1; i <= count + 1; ++i) types->get_Item(i, UniqueVariant().get());
    ComPtr<IUnknown> unknown;
    Check(types->get__NewEnum(unknown.out()) == S_OK && unknown, "get__NewEnum");
    ComPtr<IEnumVARIANT> walk;
    if (unknown && unknown->QueryInterface(IID_IEnumVARIANT, walk.out_void()) == S_OK) {
        VARIANT batch[3];
        ULONG fetched = 0;
        Check(walk->Next(3, batch, &fetched) == S_FALSE && fetched == 2, "Next");
        for (ULONG i = 0; i < fetched; ++i) VariantClear(&batch[i]);
        walk->Reset();
        walk->Skip(1);
        ComPtr<IEnumVARIANT> clone;
        Check(walk->Clone(clone.out()) == S_OK && clone, "Clone");
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    {
        ComPtr<IClassFactory> factory;
        Check(DllGetClassObject(CLSID_File, IID_IClassFactory, factory.out_void()) == S_OK,
              "DllGetClassObject");
        if (!factory) return 1;
        factory->LockServer(TRUE);
        ComPtr<IFile> file;
        Check(factory->CreateInstance(nullptr, IID_IFile, file.out_void()) == S_OK,
              "CreateInstance");
        factory->LockServer(FALSE);
        factory.reset();
        if (!file) return 1;

        // The test gives an ASCII path, so widening each byte is enough.
        const std::string path(argv[1]);
        const std::u16string units(path.begin(), path.end());
        VARIANT_BOOL streams = VARIANT_FALSE;
        Check(file->SetFile(Bstr(units.c_str()).get(), &streams) == S_OK && streams == VARIANT_TRUE,
              "SetFile");
        Items(file.get());
        Lists(file.get());
        LONG total = 0;
        Check(file->get_Length(&total) == S_OK && total == 6 + 32, "get_Length of the file");
        Check(file->Close() == S_OK, "Close of the file");
        Check(Failed(file->get_Length(&total)), "Length without a path");
    }
    Check(DllCanUnloadNow() == S_OK, "DllCanUnloadNow after the last release");
    std::printf("%d failures\n", g_failures);
    return g_failures ? 1 : 0;
}
