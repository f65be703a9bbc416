// Error information, identifiers, type libraries, critical sections and interlocked counts.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "portable/runtime_test_objects.h"
#include "quarrow2/quarrow2.h"

namespace quarrow2::test {
namespace {

ComPtr<IErrorInfo> NewErrorInfo() {
    ComPtr<ICreateErrorInfo> create;
    ComPtr<IErrorInfo> info;
    EXPECT_EQ(CreateErrorInfo(create.out()), S_OK);
    EXPECT_TRUE(create && create->QueryInterface(IID_IErrorInfo, info.out_void()) == S_OK);
    return info;
}

std::string GuidText(REFGUID g) {
    OLECHAR text[64] = {};
    int n = StringFromGUID2(g, text, 64);
    return n > 0 ? Narrow(text, static_cast<size_t>(n - 1)) : std::string();
}

ULONG References(IUnknown* object) {
    object->AddRef();
    return object->Release();
}

// Every field of an error object, as "description|source|help file|guid|help context".
std::string Fields(IErrorInfo* info) {
    UniqueBstr description, source, helpFile;
    GUID guid{};
    DWORD context = 99;
    const bool read = info->GetDescription(description.out()) == S_OK &&
                      info->GetSource(source.out()) == S_OK &&
                      info->GetHelpFile(helpFile.out()) == S_OK && info->GetGUID(&guid) == S_OK &&
                      info->GetHelpContext(&context) == S_OK;
    auto text = [](const UniqueBstr& s) { return s.get() ? Narrow(s.get()) : "null"; };
    return read ? text(description) + "|" + text(source) + "|" + text(helpFile) + "|" +
                      GuidText(guid) + "|" + std::to_string(context)
                : "unreadable";
}

TEST(RuntimeErrorInfo, FieldsSetThroughOneViewReadThroughTheOther) {
    ComPtr<IErrorInfo> info = NewErrorInfo();
    ASSERT_TRUE(info);
    ComPtr<ICreateErrorInfo> create;
    ComPtr<IUnknown> fromCreate, fromInfo;
    ASSERT_EQ(info->QueryInterface(IID_ICreateErrorInfo, create.out_void()), S_OK);
    ASSERT_EQ(create->QueryInterface(IID_IUnknown, fromCreate.out_void()), S_OK);
    ASSERT_EQ(info->QueryInterface(IID_IUnknown, fromInfo.out_void()), S_OK);
    EXPECT_EQ(fromCreate.get(), fromInfo.get()) << "one identity behind every view";
    void* other = reinterpret_cast<void*>(1);
    EXPECT_EQ(create->QueryInterface(IID_IDispatch, &other), E_NOINTERFACE);
    EXPECT_EQ(other, nullptr);
    const std::string unset = "null|null|null|{00000000-0000-0000-0000-000000000000}|";
    EXPECT_EQ(Fields(info.get()), unset + "0");

    OLECHAR description[] = OLESTR("Unable to get text. Access is denied.\r\n");
    ASSERT_EQ(create->SetDescription(description), S_OK);
    ASSERT_EQ(create->SetSource(Bstr("Quarrow2.File.1").get()), S_OK);
    ASSERT_EQ(create->SetGUID(IID_ISupportErrorInfo), S_OK);
    ASSERT_EQ(create->SetHelpContext(7), S_OK);
    description[0] = 'X';  // the object keeps its own copy
    EXPECT_EQ(Fields(info.get()),
              "Unable to get text. Access is denied.\r\n|Quarrow2.File.1|null|"
              "{DF0B3D60-548F-101B-8E65-08002B2BD119}|7");
    ASSERT_EQ(create->SetDescription(nullptr), S_OK);
    EXPECT_EQ(Fields(info.get()).substr(0, 5), "null|");
    IErrorInfo* taken = nullptr;
    EXPECT_EQ(std::vector<HRESULT>({info->GetDescription(nullptr), info->GetGUID(nullptr),
                                    CreateErrorInfo(nullptr), SetErrorInfo(1, info.get()),
                                    GetErrorInfo(1, &taken), GetErrorInfo(0, nullptr)}),
              std::vector<HRESULT>(6, E_INVALIDARG));
    EXPECT_EQ(References(info.get()), 4u) << "refused calls keep no reference";
}

TEST(RuntimeErrorInfo, GetErrorInfoHandsTheCurrentErrorOverAndClearsIt) {
    SetErrorInfo(0, nullptr);
    ComPtr<IErrorInfo> error = NewErrorInfo(), second = NewErrorInfo();
    ASSERT_TRUE(error && second);
    ASSERT_EQ(SetErrorInfo(0, error.get()), S_OK);
    EXPECT_EQ(References(error.get()), 2u);
    IErrorInfo* taken = nullptr;
    ASSERT_EQ(GetErrorInfo(0, &taken), S_OK);
    EXPECT_EQ(taken, error.get());
    EXPECT_EQ(References(error.get()), 2u) << "the thread's reference went to the caller";
    taken->Release();
    taken = reinterpret_cast<IErrorInfo*>(1);
    EXPECT_EQ(GetErrorInfo(0, &taken), S_FALSE);
    EXPECT_EQ(taken, nullptr);

    // A new report replaces the old one, and SetErrorInfo(0, null) clears.
    ASSERT_EQ(SetErrorInfo(0, error.get()), S_OK);
    ASSERT_EQ(SetErrorInfo(0, second.get()), S_OK);
    EXPECT_EQ(References(error.get()), 1u);
    EXPECT_EQ(References(second.get()), 2u);
    ASSERT_EQ(SetErrorInfo(0, nullptr), S_OK);
    EXPECT_EQ(References(second.get()), 1u);
    EXPECT_EQ(GetErrorInfo(0, &taken), S_FALSE);

    // Each thread has its own current error, released when the thread ends.
    ASSERT_EQ(SetErrorInfo(0, error.get()), S_OK);
    HRESULT seenByWorker = E_FAIL;
    std::thread([&] {
        seenByWorker = GetErrorInfo(0, &taken);
        SetErrorInfo(0, second.get());
    }).join();
    EXPECT_EQ(seenByWorker, S_FALSE);
    EXPECT_EQ(taken, nullptr);
    EXPECT_EQ(References(second.get()), 1u) << "a thread's error is released when it ends";
    ComPtr<IErrorInfo> mine;
    ASSERT_EQ(GetErrorInfo(0, mine.out()), S_OK);
    EXPECT_EQ(mine.get(), error.get()) << "the worker's report did not replace this thread's";
}

TEST(RuntimeIdentifiers, RegistryFormOfIdentifiers) {
    // Against the Windows runtime these are the system's own values, so this pins ours.
    const std::pair<const GUID*, const char*> known[] = {
        {&IID_NULL, "{00000000-0000-0000-0000-000000000000}"},
        {&IID_IUnknown, "{00000000-0000-0000-C000-000000000046}"},
        {&IID_IClassFactory, "{00000001-0000-0000-C000-000000000046}"},
        {&IID_IDispatch, "{00020400-0000-0000-C000-000000000046}"},
        {&IID_ITypeInfo, "{00020401-0000-0000-C000-000000000046}"},
        {&IID_ITypeLib, "{00020402-0000-0000-C000-000000000046}"},
        {&IID_IEnumVARIANT, "{00020404-0000-0000-C000-000000000046}"},
        {&IID_ITypeInfo2, "{00020412-0000-0000-C000-000000000046}"},
        {&IID_IErrorInfo, "{1CF2B120-547D-101B-8E65-08002B2BD119}"},
        {&IID_ICreateErrorInfo, "{22F03340-547D-101B-8E65-08002B2BD119}"},
        {&IID_ISupportErrorInfo, "{DF0B3D60-548F-101B-8E65-08002B2BD119}"},
        {&CLSID_File, "{A89DAC1F-6D90-4460-90D4-B50DA2C488F8}"}};
    for (const auto& [iid, text] : known) EXPECT_EQ(GuidText(*iid), text);

    OLECHAR text[39];
    EXPECT_EQ(StringFromGUID2(CLSID_File, text, 39), 39);
    EXPECT_EQ(text[38], OLECHAR(0));
    EXPECT_EQ(StringFromGUID2(CLSID_File, text, 38), 0) << "no room for the terminator";
    CLSID parsed{};
    for (const char* good :
         {"{A89DAC1F-6D90-4460-90D4-B50DA2C488F8}", "{a89dac1f-6d90-4460-90d4-b50da2c488f8}"}) {
        parsed = IID_NULL;
        EXPECT_EQ(CLSIDFromString(W(good).c_str(), &parsed), S_OK);
        EXPECT_TRUE(IsEqualGUID(parsed, CLSID_File)) << good;
    }
    ASSERT_EQ(CLSIDFromString(nullptr, &parsed), S_OK);
    EXPECT_TRUE(IsEqualGUID(parsed, IID_NULL)) << "a null string is the null identifier";
    for (const char* bad :
         {"", "A89DAC1F-6D90-4460-90D4-B50DA2C488F8", "{A89DAC1F-6D90-4460-90D4-B50DA2C488F}",
          "{A89DAC1F-6D90-4460-90D4-B50DA2C488FG}", "{A89DAC1F-6D90-4460-90D4+B50DA2C488F8}",
          "{A89DAC1F-6D90-4460-90D4-B50DA2C488F8}x", "No.Such.Class"})
        EXPECT_EQ(CLSIDFromString(W(bad).c_str(), &parsed), CO_E_CLASSSTRING) << bad;
    EXPECT_EQ(CLSIDFromString(text, nullptr), E_INVALIDARG);
}

TEST(RuntimeIdentifiers, ProgIdsOfRegisteredClassesAndNoUnregisteredTypeLibraries) {
    const CLSID unknown = {0x12345678, 0x1234, 0x5678, {1, 2, 3, 4, 5, 6, 7, 8}};
    LPOLESTR progId = reinterpret_cast<LPOLESTR>(1);
    EXPECT_EQ(ProgIDFromCLSID(unknown, &progId), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(progId, nullptr);
    EXPECT_EQ(ProgIDFromCLSID(unknown, nullptr), E_INVALIDARG);
    ITypeLib* typeLib = reinterpret_cast<ITypeLib*>(1);
    EXPECT_EQ(LoadRegTypeLib(unknown, 1, 0, 0, &typeLib), TYPE_E_LIBNOTREGISTERED);
    EXPECT_EQ(typeLib, nullptr);
    typeLib = reinterpret_cast<ITypeLib*>(1);
    EXPECT_TRUE(FAILED(LoadTypeLib(W("no-such-library.tlb").c_str(), &typeLib)));
    EXPECT_EQ(typeLib, nullptr);
    if (!kOwnRuntime) return;
    // The library's classes are known without registration: the class table answers.
    for (const auto& [clsid, name] : {std::pair{&CLSID_File, "Quarrow2.File.1"},
                                      std::pair{&CLSID_MetaData, "Quarrow2.MetaData.1"}}) {
        ASSERT_EQ(ProgIDFromCLSID(*clsid, &progId), S_OK);
        EXPECT_EQ(Narrow(WString(progId)), name);
        CoTaskMemFree(progId);
    }
    CLSID parsed{};
    ASSERT_EQ(CLSIDFromString(W("quarrow2.file").c_str(), &parsed), S_OK);
    EXPECT_TRUE(IsEqualGUID(parsed, CLSID_File));
}

template <class Body>
void OnFourThreads(Body body) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 20000; ++i) body();
        });
    for (std::thread& t : threads) t.join();
}

TEST(RuntimeSync, CriticalSectionsAndInterlockedCounts) {
    CRITICAL_SECTION section;
    InitializeCriticalSection(&section);
    EnterCriticalSection(&section);
    EnterCriticalSection(&section);  // the owner enters again without blocking
    LeaveCriticalSection(&section);
    LeaveCriticalSection(&section);
    // Fully left, other threads can take it (a section still held would hang this test).
    long unguarded = 0;
    volatile LONG count = 0;
    OnFourThreads([&] {
        InterlockedIncrement(&count);
        InterlockedIncrement(&count);
        InterlockedDecrement(&count);
        CriticalSectionGuard guard(section);
        CriticalSectionGuard again(section);
        unguarded = unguarded + 1;
    });
    EXPECT_EQ(unguarded, 80000);
    EXPECT_EQ(count, 80000);
    DeleteCriticalSection(&section);
    volatile LONG value = 5;
    EXPECT_EQ(InterlockedIncrement(&value), 6) << "returns the new value";
    EXPECT_EQ(InterlockedDecrement(&value), 5);
    EXPECT_EQ(InterlockedExchange(&value, 9), 5) << "returns the old value";
    EXPECT_EQ(InterlockedCompareExchange(&value, 1, 8), 9) << "no match: unchanged";
    EXPECT_EQ(value, 9);
    EXPECT_EQ(InterlockedCompareExchange(&value, 1, 9), 9);
    EXPECT_EQ(value, 1);
}

}  // namespace
}  // namespace quarrow2::test
