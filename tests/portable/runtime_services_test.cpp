// Error information, identifiers, type libraries, system message texts, critical sections and
// interlocked counts. Runtimes word message texts differently (Wine's are shorter), so portable
// checks compare their structure; the exact English only against this project's runtime.
#include <cstdio>
#include <thread>

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

// The registry form, upper-case.
std::string GuidText(REFGUID g) {
    char text[39];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1],
                  g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return text;
}

ULONG References(IUnknown* object) {
    object->AddRef();
    return object->Release();
}

std::string Failed(DWORD error) { return "failed " + std::to_string(error); }

// Every field of an error object, as "description|source|help file|guid|help context".
std::string Fields(IErrorInfo* info) {
    UniqueBstr description, source, helpFile;
    GUID guid{};
    DWORD context = 99;
    if (info->GetDescription(description.out()) || info->GetSource(source.out()) ||
        info->GetHelpFile(helpFile.out()) || info->GetGUID(&guid) || info->GetHelpContext(&context))
        return "unreadable";
    auto text = [](const UniqueBstr& s) { return s.get() ? Narrow(s.get()) : "null"; };
    return text(description) + "|" + text(source) + "|" + text(helpFile) + "|" + GuidText(guid) +
           "|" + std::to_string(context);
}

TEST(RuntimeErrorInfo, FieldsSetThroughOneViewReadThroughTheOther) {
    ComPtr<IErrorInfo> info = NewErrorInfo();
    ComPtr<ICreateErrorInfo> create;
    ComPtr<IUnknown> fromCreate, fromInfo;
    ASSERT_TRUE(info && info->QueryInterface(IID_ICreateErrorInfo, create.out_void()) == S_OK);
    ASSERT_EQ(create->QueryInterface(IID_IUnknown, fromCreate.out_void()), S_OK);
    ASSERT_EQ(info->QueryInterface(IID_IUnknown, fromInfo.out_void()), S_OK);
    EXPECT_EQ(fromCreate.get(), fromInfo.get()) << "one identity behind every view";
    void* other = reinterpret_cast<void*>(1);
    EXPECT_EQ(create->QueryInterface(IID_IDispatch, &other), E_NOINTERFACE);
    EXPECT_EQ(other, nullptr);
    EXPECT_EQ(Fields(info.get()), "null|null|null|{00000000-0000-0000-0000-000000000000}|0");
    OLECHAR description[] = OLESTR("Unable to get text. Access is denied.\r\n");
    EXPECT_EQ(Results({create->SetDescription(description),
                       create->SetSource(Bstr("Quarrow2.File.1").get()),
                       create->SetGUID(IID_ISupportErrorInfo), create->SetHelpContext(7)}),
              Results(4, S_OK));
    description[0] = 'X';  // the object keeps its own copy
    EXPECT_EQ(Fields(info.get()),
              "Unable to get text. Access is denied.\r\n|Quarrow2.File.1|null|"
              "{DF0B3D60-548F-101B-8E65-08002B2BD119}|7");
    ASSERT_EQ(create->SetDescription(nullptr), S_OK);
    EXPECT_EQ(Fields(info.get()).substr(0, 5), "null|");
    IErrorInfo* taken = nullptr;
    EXPECT_EQ(
        Results({info->GetDescription(nullptr), info->GetGUID(nullptr), CreateErrorInfo(nullptr),
                 SetErrorInfo(1, info.get()), GetErrorInfo(1, &taken), GetErrorInfo(0, nullptr)}),
        Results(6, E_INVALIDARG));
    EXPECT_EQ(References(info.get()), 4u) << "refused calls keep no reference";
}

// The current error is handed over and cleared, replaced by a new one, and per thread.
TEST(RuntimeErrorInfo, GetErrorInfoHandsTheCurrentErrorOverAndClearsIt) {
    ComPtr<IErrorInfo> error = NewErrorInfo(), second = NewErrorInfo();
    ASSERT_TRUE(error && second);
    IErrorInfo* taken = nullptr;
    ASSERT_EQ(SetErrorInfo(0, error.get()), S_OK);
    ASSERT_EQ(GetErrorInfo(0, &taken), S_OK);
    EXPECT_EQ(taken, error.get());
    EXPECT_EQ(References(error.get()), 2u) << "the thread's reference went to the caller";
    taken->Release();
    ASSERT_EQ(SetErrorInfo(0, error.get()), S_OK);
    ASSERT_EQ(SetErrorInfo(0, second.get()), S_OK);
    EXPECT_EQ(Counts({References(error.get()), References(second.get())}), Counts({1, 2}));
    ASSERT_EQ(SetErrorInfo(0, nullptr), S_OK);
    EXPECT_EQ(References(second.get()), 1u);

    ASSERT_EQ(SetErrorInfo(0, error.get()), S_OK);
    HRESULT seenByWorker = E_FAIL;
    std::thread([&] {
        seenByWorker = GetErrorInfo(0, &taken);
        SetErrorInfo(0, second.get());
    }).join();
    EXPECT_EQ(seenByWorker, S_FALSE);
    EXPECT_EQ(References(second.get()), 1u) << "a thread's error is released when it ends";
    ComPtr<IErrorInfo> mine;
    ASSERT_EQ(GetErrorInfo(0, mine.out()), S_OK);
    EXPECT_EQ(mine.get(), error.get()) << "the worker's report did not replace this thread's";
}

TEST(RuntimeIdentifiers, RegistryFormProgIdsAndNoUnregisteredTypeLibraries) {
    // Against the Windows runtime these are the system's own values, so this pins ours.
    const std::pair<const GUID*, const char*> known[] = {
        {&IID_NULL, "{00000000-0000-0000-0000-000000000000}"},
        {&IID_IUnknown, "{00000000-0000-0000-C000-000000000046}"},
        {&IID_IClassFactory, "{00000001-0000-0000-C000-000000000046}"},
        {&IID_IDispatch, "{00020400-0000-0000-C000-000000000046}"},
        {&IID_IEnumVARIANT, "{00020404-0000-0000-C000-000000000046}"},
        {&IID_IErrorInfo, "{1CF2B120-547D-101B-8E65-08002B2BD119}"},
        {&IID_ICreateErrorInfo, "{22F03340-547D-101B-8E65-08002B2BD119}"},
        {&IID_ISupportErrorInfo, "{DF0B3D60-548F-101B-8E65-08002B2BD119}"},
        {&CLSID_File, "{A89DAC1F-6D90-4460-90D4-B50DA2C488F8}"}};
    for (const auto& [iid, text] : known) EXPECT_EQ(GuidText(*iid), text);

    // Either case parses; a null string is the null identifier.
    const OLECHAR* text = OLESTR("{A89DAC1F-6D90-4460-90D4-B50DA2C488F8}");
    const std::pair<const OLECHAR*, const CLSID*> parses[] = {
        {text, &CLSID_File},
        {OLESTR("{a89dac1f-6d90-4460-90d4-b50da2c488f8}"), &CLSID_File},
        {nullptr, &IID_NULL}};
    for (const auto& [good, clsid] : parses) {
        CLSID parsed = CLSID_MetaData;
        EXPECT_EQ(CLSIDFromString(good, &parsed), S_OK);
        EXPECT_TRUE(IsEqualGUID(parsed, *clsid)) << (good ? Narrow(WString(good)) : "null");
    }
    CLSID parsed{};
    for (const char* bad :
         {"", "A89DAC1F-6D90-4460-90D4-B50DA2C488F8", "{A89DAC1F-6D90-4460-90D4-B50DA2C488F}",
          "{A89DAC1F-6D90-4460-90D4-B50DA2C488FG}", "{A89DAC1F-6D90-4460-90D4+B50DA2C488F8}",
          "{A89DAC1F-6D90-4460-90D4-B50DA2C488F8}x", "No.Such.Class"})
        EXPECT_EQ(CLSIDFromString(W(bad).c_str(), &parsed), CO_E_CLASSSTRING) << bad;
    EXPECT_EQ(CLSIDFromString(text, nullptr), E_INVALIDARG);

    const CLSID unknown = {0x12345678, 0x1234, 0x5678, {1, 2, 3, 4, 5, 6, 7, 8}};
    LPOLESTR progId = reinterpret_cast<LPOLESTR>(1);
    EXPECT_EQ(Results({ProgIDFromCLSID(unknown, &progId), ProgIDFromCLSID(unknown, nullptr)}),
              Results({REGDB_E_CLASSNOTREG, E_INVALIDARG}));
    EXPECT_TRUE(!progId);
    if (!kOwnRuntime) return;
    // The library's classes are known without registration: the class table answers.
    for (const auto& [clsid, name] : {std::pair{&CLSID_File, "Quarrow2.File.1"},
                                      std::pair{&CLSID_MetaData, "Quarrow2.MetaData.1"}}) {
        ASSERT_EQ(ProgIDFromCLSID(*clsid, &progId), S_OK);
        EXPECT_EQ(Narrow(WString(progId)), name);
        CoTaskMemFree(progId);
    }
    ASSERT_EQ(CLSIDFromString(OLESTR("quarrow2.file"), &parsed), S_OK);
    EXPECT_TRUE(IsEqualGUID(parsed, CLSID_File));
}

// An owner's close leaves the thread's last error as the failure before it set it, even
// where the close itself fails: here on a handle the system has closed already.
TEST(RuntimeOwners, ClosingKeepsTheThreadsLastError) {
    TempDir dir;
    platform::UniqueHandle file(CreateFileW(PathW(dir.path()).c_str(), GENERIC_READ,
                                            FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                            FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    ASSERT_TRUE(file.valid()) << GetLastError();
    ASSERT_TRUE(CloseHandle(file.get()));
    SetLastError(ERROR_ACCESS_DENIED);
    file.reset();
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST(RuntimeSync, CriticalSectionsAndInterlockedCounts) {
    CRITICAL_SECTION section;
    InitializeCriticalSection(&section);
    long unguarded = 0;
    volatile LONG count = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 20000; ++i) {
                InterlockedIncrement(&count);
                InterlockedIncrement(&count);
                InterlockedDecrement(&count);
                platform::CriticalSectionGuard guard(section);
                platform::CriticalSectionGuard again(
                    section);  // the owner enters again without blocking
                unguarded = unguarded + 1;
            }
        });
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(unguarded, 80000);
    EXPECT_EQ(count, 80000);
    DeleteCriticalSection(&section);
    // New values from increments, old ones from exchanges; no match leaves the value alone.
    volatile LONG v = 5;
    EXPECT_EQ(std::vector<LONG>({InterlockedIncrement(&v), InterlockedDecrement(&v),
                                 InterlockedExchange(&v, 9), InterlockedCompareExchange(&v, 1, 8),
                                 v, InterlockedCompareExchange(&v, 1, 9), v}),
              std::vector<LONG>({6, 5, 5, 9, 9, 9, 1}));
}

constexpr DWORD kSystemText =
    FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM;
constexpr DWORD kNeutralLanguage = 0x0400;

// Every code the platform layer sets, with the text Microsoft publishes for it.
const std::pair<DWORD, const char*> kPublished[] = {
    {0, "The operation completed successfully."},
    {1, "Incorrect function."},
    {2, "The system cannot find the file specified."},
    {3, "The system cannot find the path specified."},
    {4, "The system cannot open the file."},
    {5, "Access is denied."},
    {6, "The handle is invalid."},
    {8, "Not enough memory resources are available to process this command."},
    {19, "The media is write protected."},
    {25, "The drive cannot locate a specific area or track on the disk."},
    {30, "The system cannot read from the specified device."},
    {31, "A device attached to the system is not functioning."},
    {32, "The process cannot access the file because it is being used by another process."},
    {33,
     "The process cannot access the file because another process has locked a portion of the "
     "file."},
    {50, "The request is not supported."},
    {80, "The file exists."},
    {87, "The parameter is incorrect."},
    {112, "There is not enough space on the disk."},
    {123, "The filename, directory name, or volume label syntax is incorrect."},
    {131, "An attempt was made to move the file pointer before the beginning of the file."},
    {158, "The segment is already unlocked."},
    {183, "Cannot create a file when that file already exists."},
    {206, "The filename or extension is too long."},
    {223, "The file size exceeds the limit allowed and cannot be saved."},
    {234, "More data is available."},
    {255, "The extended attributes are inconsistent."},
    {317,
     "The system cannot find message text for message number 0x%1 in the message file for %2."},
    {998, "Invalid access to memory location."},
    {1117, "The request could not be performed because of an I/O device error."},
    {1815, "The specified resource language ID cannot be found in the image file."},
    {1921, "The name of the file cannot be resolved by the system."},
};

// FormatMessageW's count and text, "failed <error>" where it fails; `size` 0 allocates.
// The text of `code` as "length text", or "failed <last error>".
std::string Format(DWORD code, DWORD flags = kSystemText, DWORD language = 0) {
    LPWSTR allocated = nullptr;
    SetLastError(0);
    const DWORD n = FormatMessageW(flags, nullptr, code, language,
                                   reinterpret_cast<LPWSTR>(&allocated), 0, nullptr);
    if (!n) return Failed(GetLastError());
    std::string out = std::to_string(n) + " " + Narrow(WString(allocated));
    EXPECT_EQ(LocalFree(allocated), nullptr);
    return out;
}

TEST(RuntimeSystemMessages, OneLineTextsInAllocatedBlocksAndThePlatformCodesPublishedTexts) {
    for (DWORD code : {2u, 3u, 5u, 32u, 33u, 87u, 183u}) {
        const std::string text = Narrow(SystemText(code));
        ASSERT_GT(text.size(), 2u) << code;
        EXPECT_EQ(text.find('\n'), text.size() - 1) << "one line, ending in CR LF";
        EXPECT_EQ(text[text.size() - 2], '\r');
        EXPECT_EQ(Format(code), std::to_string(text.size()) + " " + text) << "0 is neutral";
    }
    EXPECT_NE(SystemText(5), SystemText(32));
    // An HRESULT that carries a system code has that code's text.
    EXPECT_EQ(SystemText(static_cast<DWORD>(HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED))),
              SystemText(5));
    EXPECT_EQ(Format(0x12345, kSystemText, kNeutralLanguage), Failed(ERROR_MR_MID_NOT_FOUND));
    // The text for a missing message has inserts, left as they are.
    EXPECT_NE(SystemText(ERROR_MR_MID_NOT_FOUND).find('%'), WString::npos);
    if (!kOwnRuntime) return;  // the texts of the Windows runtime under test are its own
    for (const auto& [code, text] : kPublished)
        EXPECT_EQ(Narrow(SystemText(code)), std::string(text) + "\r\n") << code;
    // English sublanguages are served; a language without texts is refused, and so is any
    // other way of asking (a caller's buffer, expanded inserts, a line width).
    EXPECT_EQ(Format(5, kSystemText, 0x0409), "19 Access is denied.\r\n");
    EXPECT_EQ(Format(5, kSystemText, 0x0407), Failed(ERROR_RESOURCE_LANG_NOT_FOUND));
    for (DWORD refused : {kSystemText & ~FORMAT_MESSAGE_ALLOCATE_BUFFER,
                          kSystemText & ~FORMAT_MESSAGE_IGNORE_INSERTS, kSystemText | 0xFFu})
        EXPECT_EQ(Format(5, refused), Failed(ERROR_INVALID_PARAMETER)) << std::hex << refused;
    SetLastError(0);
    EXPECT_EQ(FormatMessageW(kSystemText, nullptr, 5, 0, nullptr, 0, nullptr), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

}  // namespace
}  // namespace quarrow2::test
