// Collections made the way the library makes them, and their entries read back as UTF-8.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "discovery/strings.h"
#include "support/test_support.h"

namespace quarrow2::test {

// A collection holding the strings, handed out with one reference as a client gets it.
inline ComPtr<IStrings> MakeStrings(const std::vector<std::string>& texts) {
    ComPtr<discovery::Strings> made = New<discovery::Strings>();
    EXPECT_TRUE(made);
    if (!made) return nullptr;
    for (const std::string& text : texts) {
        UniqueBstr s = Bstr(text);
        EXPECT_EQ(made->Append(s.get()), S_OK);
    }
    ComPtr<IStrings> handed;
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

}  // namespace quarrow2::test
