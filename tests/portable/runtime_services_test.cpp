// Error information, identifiers, type libraries, system message texts, critical sections and
// interlocked counts. Runtimes word message texts differently (Wine's are shorter), so portable
// checks compare their structure; the exact English only against this project's runtime.
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

std::string GuidText(REFGUID g) {
    OLECHAR text[64] = {};
    int n = StringFromGUID2(g, text, 64);
    return n > 0 ? Narrow(text, static_cast<size_t>(n - 1)) : std::string();
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
    // Either case parses; a null string is the null identifier.
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
    ITypeLib* typeLib = reinterpret_cast<ITypeLib*>(1);
    EXPECT_EQ(Results({ProgIDFromCLSID(unknown, &progId), ProgIDFromCLSID(unknown, nullptr),
                       LoadRegTypeLib(unknown, 1, 0, 0, &typeLib)}),
              Results({REGDB_E_CLASSNOTREG, E_INVALIDARG, TYPE_E_LIBNOTREGISTERED}));
    EXPECT_TRUE(!progId && !typeLib);
    typeLib = reinterpret_cast<ITypeLib*>(1);
    EXPECT_TRUE(FAILED(LoadTypeLib(OLESTR("no-such-library.tlb"), &typeLib)) && !typeLib);
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
    UniqueHandle file(CreateFileW(PathW(dir.path()).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
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
                CriticalSectionGuard guard(section);
                CriticalSectionGuard again(section);  // the owner enters again without blocking
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
    {13, "The data is invalid."},
    {14, "Not enough storage is available to complete this operation."},
    {19, "The media is write protected."},
    {21, "The device is not ready."},
    {25, "The drive cannot locate a specific area or track on the disk."},
    {29, "The system cannot write to the specified device."},
    {30, "The system cannot read from the specified device."},
    {31, "A device attached to the system is not functioning."},
    {32, "The process cannot access the file because it is being used by another process."},
    {33,
     "The process cannot access the file because another process has locked a portion of the "
     "file."},
    {38, "Reached the end of the file."},
    {39, "The disk is full."},
    {50, "The request is not supported."},
    {80, "The file exists."},
    {87, "The parameter is incorrect."},
    {112, "There is not enough space on the disk."},
    {120, "This function is not supported on this system."},
    {122, "The data area passed to a system call is too small."},
    {123, "The filename, directory name, or volume label syntax is incorrect."},
    {126, "The specified module could not be found."},
    {127, "The specified procedure could not be found."},
    {131, "An attempt was made to move the file pointer before the beginning of the file."},
    {145, "The directory is not empty."},
    {158, "The segment is already unlocked."},
    {161, "The specified path is invalid."},
    {183, "Cannot create a file when that file already exists."},
    {206, "The filename or extension is too long."},
    {223, "The file size exceeds the limit allowed and cannot be saved."},
    {234, "More data is available."},
    {255, "The extended attributes are inconsistent."},
    {259, "No more data is available."},
    {267, "The directory name is invalid."},
    {275, "The extended attributes did not fit in the buffer."},
    {282, "The mounted file system does not support extended attributes."},
    {317,
     "The system cannot find message text for message number 0x%1 in the message file for %2."},
    {998, "Invalid access to memory location."},
    {1004, "Invalid flags."},
    {1011, "The configuration registry key could not be opened."},
    {1012, "The configuration registry key could not be read."},
    {1013, "The configuration registry key could not be written."},
    {1117, "The request could not be performed because of an I/O device error."},
    {1815, "The specified resource language ID cannot be found in the image file."},
    {1920, "The file cannot be accessed by the system."},
    {1921, "The name of the file cannot be resolved by the system."},
    {4390, "The file or directory is not a reparse point."},
};

// FormatMessageW's count and text, "failed <error>" where it fails; `size` 0 allocates.
std::string Format(DWORD code, DWORD flags = kSystemText, DWORD language = 0, DWORD size = 0) {
    std::basic_string<WCHAR> buffer(size + 1, WCHAR('#'));
    LPWSTR allocated = nullptr;
    const bool allocate = flags & FORMAT_MESSAGE_ALLOCATE_BUFFER;
    SetLastError(0);
    const DWORD n =
        FormatMessageW(flags, nullptr, code, language,
                       allocate ? reinterpret_cast<LPWSTR>(&allocated) : &buffer[0], size, nullptr);
    if (!n) return Failed(GetLastError());
    const WCHAR* text = allocate ? allocated : buffer.c_str();
    std::string out = std::to_string(n) + " " + Narrow(WString(text));
    EXPECT_TRUE(!allocated || LocalFree(allocated) == nullptr);
    return out;
}

TEST(RuntimeSystemMessages, OneLineTextsBuffersThatHoldThemAndThePlatformCodesPublishedTexts) {
    for (DWORD code : {2u, 3u, 5u, 32u, 33u, 87u, 183u}) {
        const std::string text = Narrow(SystemText(code));
        ASSERT_GT(text.size(), 2u) << code;
        EXPECT_EQ(text.find('\n'), text.size() - 1) << "one line, ending in CR LF";
        EXPECT_EQ(text[text.size() - 2], '\r');
        EXPECT_EQ(Format(code), std::to_string(text.size()) + " " + text) << "0 is neutral";
        // Without the line end, at the maximum width a blank stands in for it.
        EXPECT_EQ(Format(code, kSystemText | FORMAT_MESSAGE_MAX_WIDTH_MASK),
                  std::to_string(text.size() - 1) + " " + text.substr(0, text.size() - 2) + " ");
    }
    EXPECT_NE(SystemText(5), SystemText(32));
    // An HRESULT that carries a system code has that code's text.
    EXPECT_EQ(SystemText(static_cast<DWORD>(HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED))),
              SystemText(5));

    // A caller's buffer must hold the text and its terminator.
    const DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
    const std::string text = Narrow(SystemText(ERROR_SHARING_VIOLATION));
    const DWORD size = static_cast<DWORD>(text.size());
    EXPECT_EQ(Format(ERROR_SHARING_VIOLATION, flags, 0, size + 1),
              std::to_string(size) + " " + text);
    EXPECT_EQ(Format(ERROR_SHARING_VIOLATION, flags, 0, size), Failed(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(Format(ERROR_SHARING_VIOLATION, flags, 0, 0), Failed(ERROR_INSUFFICIENT_BUFFER));
    SetLastError(0);
    EXPECT_EQ(FormatMessageW(flags, nullptr, ERROR_SHARING_VIOLATION, 0, nullptr, 100, nullptr),
              0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

    EXPECT_EQ(Format(0x12345, kSystemText, kNeutralLanguage), Failed(ERROR_MR_MID_NOT_FOUND));
    // The text for a missing message has inserts, which need arguments unless ignored.
    EXPECT_EQ(Format(ERROR_MR_MID_NOT_FOUND, kSystemText & ~FORMAT_MESSAGE_IGNORE_INSERTS),
              Failed(ERROR_INVALID_PARAMETER));
    EXPECT_NE(SystemText(ERROR_MR_MID_NOT_FOUND).find('%'), WString::npos);
    if (!kOwnRuntime) return;  // the texts of the Windows runtime under test are its own
    for (const auto& [code, text] : kPublished)
        EXPECT_EQ(Narrow(SystemText(code)), std::string(text) + "\r\n") << code;
    // English sublanguages are served; a language without texts is refused.
    EXPECT_EQ(Format(5, kSystemText, 0x0409), "19 Access is denied.\r\n");
    EXPECT_EQ(Format(5, kSystemText, 0x0407), Failed(ERROR_RESOURCE_LANG_NOT_FOUND));
}

}  // namespace
}  // namespace quarrow2::test
