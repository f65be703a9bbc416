// Collections made the way the library makes them, their entries read back as UTF-8, and
// Types and Length of a file as the File object gets them.
#pragma once

#include <gtest/gtest.h>

#include "discovery/file_properties.h"
#include "discovery/strings.h"
#include "support/test_support.h"

namespace quarrow2::test {

// A collection holding the strings, handed out with one reference as a client gets it.
inline ComPtr<IStrings> MakeStrings(const std::vector<std::string>& texts) {
    ComPtr<discovery::Strings> made = platform::New<discovery::Strings>();
    ComPtr<IStrings> handed;
    for (const std::string& text : texts) EXPECT_EQ(made->Append(Bstr(text).get()), S_OK);
    EXPECT_EQ(made->QueryInterface(IID_IStrings, handed.out_void()), S_OK);
    return handed;
}

// The text of a VT_BSTR variant; anything else reads as a description of its type.
inline std::string TextOf(const VARIANT& v) {
    if (V_VT(&v) != VT_BSTR) return "<vt " + std::to_string(V_VT(&v)) + ">";
    return Narrow(V_BSTR(&v));
}

// The collection's enumerator, through _NewEnum as a client walks it.
inline ComPtr<IEnumVARIANT> EnumeratorOf(IStrings* strings) {
    ComPtr<IUnknown> unknown;
    EXPECT_EQ(strings->get__NewEnum(unknown.out()), S_OK);
    ComPtr<IEnumVARIANT> walk;
    if (unknown) {
        EXPECT_EQ(unknown->QueryInterface(IID_IEnumVARIANT, walk.out_void()), S_OK);
    }
    return walk;
}

inline std::string ItemText(IStrings* strings, LONG index) {
    UniqueVariant v;
    HRESULT hr = strings->get_Item(index, v.get());
    if (hr != S_OK) return "<hr " + std::to_string(hr) + ">";
    return TextOf(*v);
}

// The type names FileTypes hands out, or a note of its failure.
inline std::vector<std::string> TypesOf(const WString& path) {
    ComPtr<IStrings> strings;
    HRESULT hr = discovery::FileTypes(path.c_str(), VARIANT_TRUE, strings.out());
    if (hr != S_OK) return {"<hr " + std::to_string(hr) + ">"};
    LONG count = 0;
    strings->get_Count(&count);
    std::vector<std::string> names;
    for (LONG i = 1; i <= count; ++i) names.push_back(ItemText(strings.get(), i));
    return names;
}

// The total FileLength gives; it always succeeds.
inline LONG LengthOf(const WString& path) {
    LONG total = -1;
    EXPECT_EQ(discovery::FileLength(path.c_str(), &total), S_OK);
    return total;
}

}  // namespace quarrow2::test
