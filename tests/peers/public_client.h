// Quarrow2's side of the peer tests, as any client sees it: a File from the class object
// that DllGetClassObject hands out, items through IMetaData, type names through IStrings.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "peer_programs.h"
#include "quarrow2/client.h"
#include "support/test_support.h"

namespace quarrow2::test::peers {

inline ComPtr<IFile> NewClientFile() {
    ComPtr<IClassFactory> factory;
    ComPtr<IFile> file;
    EXPECT_EQ(DllGetClassObject(CLSID_File, IID_IClassFactory, factory.out_void()), S_OK);
    if (factory) {
        EXPECT_EQ(factory->CreateInstance(nullptr, IID_IFile, file.out_void()), S_OK);
    }
    return file;
}

// A File bound to a path on a volume with named streams.
inline ComPtr<IFile> BoundFile(const std::filesystem::path& path) {
    ComPtr<IFile> file = NewClientFile();
    if (!file) return file;
    UniqueBstr p = Bstr(path.string());
    VARIANT_BOOL supported = VARIANT_FALSE;
    EXPECT_EQ(file->SetFile(p.get(), &supported), S_OK);
    EXPECT_EQ(supported, VARIANT_TRUE) << path << " is not on a volume with named streams";
    return file;
}

// The type names Types lists, in its order.
inline std::vector<std::string> ClientTypes(IFile* file) {
    std::vector<std::string> names;
    ComPtr<IStrings> strings;
    EXPECT_EQ(file->get_Types(strings.out()), S_OK);
    if (!strings) return names;
    LONG count = 0;
    EXPECT_EQ(strings->get_Count(&count), S_OK);
    for (LONG i = 1; i <= count; ++i) {
        UniqueVariant v;
        EXPECT_EQ(strings->get_Item(i, v.get()), S_OK);
        names.push_back(V_VT(v.get()) == VT_BSTR ? Narrow(V_BSTR(v.get())) : "<not a string>");
    }
    return names;
}

inline std::vector<std::string> Sorted(std::vector<std::string> names) {
    std::sort(names.begin(), names.end());
    return names;
}

// What one item reads as: its Data bytes, its Text's bytes and its Length.
struct ClientRead {
    HRESULT open = E_FAIL;
    std::string failure;  // the rich error of a failed open or get
    Bytes data;
    Bytes textBytes;
    LONG length = -1;
};

inline Bytes ByteArrayContents(const VARIANT& v) {
    LONG lower = 0, upper = -1;
    if (V_VT(&v) != (VT_ARRAY | VT_UI1) || SafeArrayGetDim(V_ARRAY(&v)) != 1 ||
        FAILED(SafeArrayGetLBound(V_ARRAY(&v), 1, &lower)) ||
        FAILED(SafeArrayGetUBound(V_ARRAY(&v), 1, &upper)) || upper < lower)
        return Bytes();
    ArrayAccess access(V_ARRAY(&v));
    const auto* p = static_cast<const unsigned char*>(access.data());
    return access.granted() && p ? Bytes(p, p + (upper - lower + 1)) : Bytes();
}

inline ClientRead ReadItem(IFile* file, const std::string& type) {
    ClientRead read;
    UniqueBstr t = Bstr(type);
    ComPtr<IMetaData> item;
    read.open = file->Open(t.get(), item.out());
    if (read.open != S_OK) {
        read.failure = TakeRichError().description;
        return read;
    }
    UniqueVariant data;
    if (item->get_Data(data.get()) == S_OK) {
        read.data = ByteArrayContents(*data);
    } else {
        read.failure = "Data: " + TakeRichError().description;
    }
    UniqueBstr text;
    if (item->get_Text(text.out()) == S_OK) {
        const unsigned char* p = reinterpret_cast<const unsigned char*>(text.get());
        read.textBytes.assign(p, p + SysStringByteLen(text.get()));
    } else {
        read.failure += "Text: " + TakeRichError().description;
    }
    EXPECT_EQ(item->get_Length(&read.length), S_OK);
    EXPECT_EQ(item->Close(), S_OK);
    return read;
}

// Adds the item and puts the bytes through Data, the text through Text, or nothing. The rich
// error's description on failure, empty on success.
inline std::string WriteItem(IFile* file, const std::string& type, const Bytes* value,
                             const std::string* text = nullptr) {
    UniqueBstr t = Bstr(type);
    ComPtr<IMetaData> item;
    if (file->Add(t.get(), item.out()) != S_OK) return "Add: " + TakeRichError().description;
    HRESULT hr = S_OK;
    if (text) {
        UniqueBstr v = Bstr(*text);
        hr = item->put_Text(v.get());
    } else if (value) {
        SAFEARRAYBOUND bound{static_cast<ULONG>(value->size()), 0};
        UniqueVariant v;
        V_VT(v.get()) = VT_ARRAY | VT_UI1;
        V_ARRAY(v.get()) = SafeArrayCreate(VT_UI1, 1, &bound);
        if (!value->empty()) {
            ArrayAccess access(V_ARRAY(v.get()));
            if (access.granted() && access.data())
                std::copy(value->begin(), value->end(), static_cast<unsigned char*>(access.data()));
        }
        hr = item->put_Data(*v);
    }
    return hr == S_OK ? std::string() : "Put: " + TakeRichError().description;
}

inline std::string WriteText(IFile* file, const std::string& type, const std::string& text) {
    return WriteItem(file, type, nullptr, &text);
}

}  // namespace quarrow2::test::peers
