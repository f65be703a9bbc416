// What a File refuses before it touches the file system, and in which order.
#include <gtest/gtest.h>

#include "file_fixture.h"
#include "server/module_lock.h"

namespace quarrow2::test {
namespace {

const char kForbidden[] = "Access to this data type forbidden.";
const char kNoPath[] = "No file path assigned.";
const char kNoStreams[] = "Volume does not support streams.";

// Names that reach the file's main stream on NTFS, where stream types ignore case.
const char* const kMainStreamNames[] = {"$DATA", "", ":$DATA", ":", ":$data", ":$Data",
                                         ":$DATA ", "::$DATA", ":Author", ":x:$DATA"};

TEST(FileObject, AnswersItsInterfacesAndClaimsRichErrorsForIFileOnly) {
    const LONG locksBefore = server::ModuleLockCount();
    {
        ComPtr<IFile> file = NewFile();
        ASSERT_TRUE(file);
        EXPECT_EQ(server::ModuleLockCount(), locksBefore + 1);

        ComPtr<IUnknown> unknown;
        ComPtr<IDispatch> dispatch;
        ComPtr<ISupportErrorInfo> errorInfo;
        ASSERT_EQ(file->QueryInterface(IID_IUnknown, unknown.out_void()), S_OK);
        ASSERT_EQ(file->QueryInterface(IID_IDispatch, dispatch.out_void()), S_OK);
        ASSERT_EQ(file->QueryInterface(IID_ISupportErrorInfo, errorInfo.out_void()), S_OK);
        // IUnknown and IDispatch are the IFile view itself: one identity for clients.
        EXPECT_EQ(static_cast<void*>(unknown.get()), static_cast<void*>(file.get()));
        EXPECT_EQ(static_cast<void*>(dispatch.get()), static_cast<void*>(file.get()));
        ComPtr<IUnknown> unknownFromErrorInfo;
        ASSERT_EQ(errorInfo->QueryInterface(IID_IUnknown, unknownFromErrorInfo.out_void()), S_OK);
        EXPECT_EQ(unknownFromErrorInfo.get(), unknown.get());

        void* none = file.get();
        EXPECT_EQ(file->QueryInterface(IID_IMetaData, &none), E_NOINTERFACE);
        EXPECT_EQ(none, nullptr);
        EXPECT_EQ(file->QueryInterface(IID_IFile, nullptr), E_POINTER);

        EXPECT_EQ(errorInfo->InterfaceSupportsErrorInfo(IID_IFile), S_OK);
        EXPECT_EQ(errorInfo->InterfaceSupportsErrorInfo(IID_IDispatch), S_FALSE);
        EXPECT_EQ(errorInfo->InterfaceSupportsErrorInfo(IID_IMetaData), S_FALSE);
        EXPECT_EQ(errorInfo->InterfaceSupportsErrorInfo(IID_IUnknown), S_FALSE);

        UINT count = 0;
        EXPECT_EQ(file->GetTypeInfoCount(&count), S_OK);
        EXPECT_EQ(count, 1u);
    }
    EXPECT_EQ(server::ModuleLockCount(), locksBefore);
}

TEST(FileChecks, ForbiddenNameBeforeNoPathBeforeUnsupportedVolume) {
    ComPtr<IFile> file = NewFile();
    ASSERT_TRUE(file);

    // Unbound: a forbidden name wins over the missing path.
    ExpectFileFailure(Open(file.get(), "$DATA"), kForbidden);
    ExpectFileFailure(Add(file.get(), ""), kForbidden);
    ExpectFileFailure(Open(file.get(), "Author"), kNoPath);
    ExpectFileFailure(Add(file.get(), "Author"), kNoPath);

    // A relative path's root cannot be queried: bound, but without named streams.
    EXPECT_FALSE(Bind(file.get(), W("report.doc")));
    ExpectFileFailure(Add(file.get(), ":$DATA"), kForbidden);
    ExpectFileFailure(Open(file.get(), "Author"), kNoStreams);
    ExpectFileFailure(Add(file.get(), "Author"), kNoStreams);

    // Close returns to the unbound state.
    ASSERT_EQ(file->Close(), S_OK);
    ExpectFileFailure(Add(file.get(), "Author"), kNoPath);
    ExpectFileFailure(Open(file.get(), ":"), kForbidden);
}

TEST(FileChecks, EveryNameOfTheMainStreamIsForbiddenAndLookalikesAreNot) {
    ComPtr<IFile> file = NewFile();
    ASSERT_TRUE(file);
    EXPECT_FALSE(Bind(file.get(), W("report.doc")));
    for (const char* name : kMainStreamNames) {
        SCOPED_TRACE(name);
        ExpectFileFailure(Open(file.get(), name), kForbidden);
        ExpectFileFailure(Add(file.get(), name), kForbidden);
    }
    // An absent name is the empty name; a name is read up to its first zero unit.
    ExpectFileFailure(OpenOrAdd(file.get(), true, nullptr), kForbidden);
    ExpectFileFailure(Add(file.get(), WString{0, 'A', 'u'}), kForbidden);
    ExpectFileFailure(Add(file.get(), WString{':', 0, 'x'}), kForbidden);
    ExpectFileFailure(Add(file.get(), WString{'$', 'D', 'A', 'T', 'A', 0, 'x'}), kForbidden);

    // Case matters without a colon, and so does a trailing blank: these pass the name check
    // and meet the volume check.
    for (const char* name : {"$data", "$DATA ", "$Data", "DATA", "a:b", "Author:$DATA"}) {
        SCOPED_TRACE(name);
        ExpectFileFailure(Add(file.get(), name), kNoStreams);
    }
}

TEST(FileChecks, MissingOutArgumentsGiveEPointerAndNoRichError) {
    ComPtr<IFile> file = NewFile();
    ASSERT_TRUE(file);
    UniqueBstr type = Bstr("Author");
    UniqueBstr path = Bstr("report.doc");
    SetErrorInfo(0, nullptr);
    EXPECT_EQ(file->SetFile(path.get(), nullptr), E_POINTER);
    EXPECT_EQ(file->Open(type.get(), nullptr), E_POINTER);
    EXPECT_EQ(file->Add(type.get(), nullptr), E_POINTER);
    EXPECT_EQ(file->get_Supported(nullptr), E_POINTER);
    EXPECT_EQ(file->get_Exists(nullptr), E_POINTER);
    EXPECT_EQ(file->get_Length(nullptr), E_POINTER);
    EXPECT_EQ(file->get_Types(nullptr), E_POINTER);
    EXPECT_FALSE(TakeRichError().present);

    // SetFile without its out-argument stored nothing: the object is still unbound.
    ExpectFileFailure(Add(file.get(), "Author"), kNoPath);
}

TEST(FileChecks, LengthAndTypesNeedAPath) {
    ComPtr<IFile> file = NewFile();
    ASSERT_TRUE(file);
    SetErrorInfo(0, nullptr);
    LONG length = 77;
    EXPECT_EQ(file->get_Length(&length), E_FAIL);
    EXPECT_EQ(length, 0);
    RichError error = TakeRichError();
    EXPECT_EQ(error.description, kNoPath);
    EXPECT_EQ(error.source, ExpectedFileSource());

    IStrings* untouched = reinterpret_cast<IStrings*>(static_cast<uintptr_t>(0x20));
    EXPECT_EQ(file->get_Types(&untouched), E_FAIL);
    EXPECT_EQ(untouched, reinterpret_cast<IStrings*>(static_cast<uintptr_t>(0x20)));
    EXPECT_EQ(TakeRichError().description, kNoPath);
}

}  // namespace
}  // namespace quarrow2::test
