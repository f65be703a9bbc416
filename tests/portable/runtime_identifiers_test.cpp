// Identifiers, their registry form, ProgIDs and the (absent) type-library registry.
#include <gtest/gtest.h>

#include "portable/runtime_test_objects.h"
#include "quarrow2/quarrow2.h"

namespace quarrow2::test {
namespace {

TEST(RuntimeIdentifiers, StandardInterfaceIdentifiers) {
    // Against the Windows runtime these are the system's own values, so this pins ours.
    EXPECT_EQ(GuidText(IID_NULL), "{00000000-0000-0000-0000-000000000000}");
    EXPECT_EQ(GuidText(IID_IUnknown), "{00000000-0000-0000-C000-000000000046}");
    EXPECT_EQ(GuidText(IID_IClassFactory), "{00000001-0000-0000-C000-000000000046}");
    EXPECT_EQ(GuidText(IID_IDispatch), "{00020400-0000-0000-C000-000000000046}");
    EXPECT_EQ(GuidText(IID_ITypeInfo), "{00020401-0000-0000-C000-000000000046}");
    EXPECT_EQ(GuidText(IID_ITypeLib), "{00020402-0000-0000-C000-000000000046}");
    EXPECT_EQ(GuidText(IID_IEnumVARIANT), "{00020404-0000-0000-C000-000000000046}");
    EXPECT_EQ(GuidText(IID_ITypeInfo2), "{00020412-0000-0000-C000-000000000046}");
    EXPECT_EQ(GuidText(IID_IErrorInfo), "{1CF2B120-547D-101B-8E65-08002B2BD119}");
    EXPECT_EQ(GuidText(IID_ICreateErrorInfo), "{22F03340-547D-101B-8E65-08002B2BD119}");
    EXPECT_EQ(GuidText(IID_ISupportErrorInfo), "{DF0B3D60-548F-101B-8E65-08002B2BD119}");
}

TEST(RuntimeIdentifiers, RegistryFormRoundTrip) {
    OLECHAR text[39];
    EXPECT_EQ(StringFromGUID2(CLSID_File, text, 39), 39);
    EXPECT_EQ(Narrow(text, 38), "{A89DAC1F-6D90-4460-90D4-B50DA2C488F8}");
    EXPECT_EQ(text[38], OLECHAR(0));
    EXPECT_EQ(StringFromGUID2(CLSID_File, text, 38), 0) << "no room for the terminator";

    CLSID parsed{};
    ASSERT_EQ(CLSIDFromString(text, &parsed), S_OK);
    EXPECT_TRUE(IsEqualGUID(parsed, CLSID_File));

    WString lower = W("{a89dac1f-6d90-4460-90d4-b50da2c488f8}");
    parsed = IID_NULL;
    ASSERT_EQ(CLSIDFromString(lower.c_str(), &parsed), S_OK);
    EXPECT_TRUE(IsEqualGUID(parsed, CLSID_File));

    // A null string is the null identifier.
    ASSERT_EQ(CLSIDFromString(nullptr, &parsed), S_OK);
    EXPECT_TRUE(IsEqualGUID(parsed, IID_NULL));

    for (const char* bad :
         {"", "A89DAC1F-6D90-4460-90D4-B50DA2C488F8", "{A89DAC1F-6D90-4460-90D4-B50DA2C488F}",
          "{A89DAC1F-6D90-4460-90D4-B50DA2C488FG}", "{A89DAC1F-6D90-4460-90D4+B50DA2C488F8}",
          "{A89DAC1F-6D90-4460-90D4-B50DA2C488F8}x", "No.Such.Class"}) {
        WString w = W(bad);
        EXPECT_EQ(CLSIDFromString(w.c_str(), &parsed), CO_E_CLASSSTRING) << bad;
    }
    EXPECT_EQ(CLSIDFromString(text, nullptr), E_INVALIDARG);
}

TEST(RuntimeIdentifiers, ProgIdsOfRegisteredClassesOnly) {
    const CLSID unknown = {0x12345678, 0x1234, 0x5678, {1, 2, 3, 4, 5, 6, 7, 8}};
    LPOLESTR progId = reinterpret_cast<LPOLESTR>(1);
    EXPECT_EQ(ProgIDFromCLSID(unknown, &progId), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(progId, nullptr);
    EXPECT_EQ(ProgIDFromCLSID(unknown, nullptr), E_INVALIDARG);

    if (kOwnRuntime) {
        // The library's classes are known without registration: the class table answers.
        ASSERT_EQ(ProgIDFromCLSID(CLSID_File, &progId), S_OK);
        EXPECT_EQ(Narrow(WString(progId)), "Quarrow2.File.1");
        CoTaskMemFree(progId);
        ASSERT_EQ(ProgIDFromCLSID(CLSID_MetaData, &progId), S_OK);
        EXPECT_EQ(Narrow(WString(progId)), "Quarrow2.MetaData.1");
        CoTaskMemFree(progId);

        CLSID parsed{};
        WString name = W("quarrow2.file");
        ASSERT_EQ(CLSIDFromString(name.c_str(), &parsed), S_OK);
        EXPECT_TRUE(IsEqualGUID(parsed, CLSID_File));
    }
}

TEST(RuntimeIdentifiers, UnregisteredTypeLibrariesDoNotLoad) {
    const GUID library = {0x0BADC0DE, 0x1234, 0x5678, {1, 2, 3, 4, 5, 6, 7, 8}};
    ITypeLib* typeLib = reinterpret_cast<ITypeLib*>(1);
    EXPECT_EQ(LoadRegTypeLib(library, 1, 0, 0, &typeLib), TYPE_E_LIBNOTREGISTERED);
    EXPECT_EQ(typeLib, nullptr);

    typeLib = reinterpret_cast<ITypeLib*>(1);
    WString missing = W("no-such-library.tlb");
    EXPECT_TRUE(FAILED(LoadTypeLib(missing.c_str(), &typeLib)));
    EXPECT_EQ(typeLib, nullptr);
}

}  // namespace
}  // namespace quarrow2::test
