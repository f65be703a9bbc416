// Error information: the object behind CreateErrorInfo and the one current error per thread.
#include <gtest/gtest.h>

#include <thread>

#include "portable/runtime_test_objects.h"

namespace quarrow2::test {
namespace {

ComPtr<IErrorInfo> NewErrorInfo() {
    ComPtr<ICreateErrorInfo> create;
    EXPECT_EQ(CreateErrorInfo(create.out()), S_OK);
    ComPtr<IErrorInfo> info;
    if (create) {
        EXPECT_EQ(create->QueryInterface(IID_IErrorInfo, info.out_void()), S_OK);
    }
    return info;
}

// The object's reference count, as its AddRef reports it.
ULONG References(IUnknown* object) {
    object->AddRef();
    return object->Release();
}

TEST(RuntimeErrorInfo, FieldsSetThroughOneViewReadThroughTheOther) {
    ComPtr<IErrorInfo> info = NewErrorInfo();
    ASSERT_TRUE(info);
    ComPtr<ICreateErrorInfo> create;
    ASSERT_EQ(info->QueryInterface(IID_ICreateErrorInfo, create.out_void()), S_OK);
    // The IUnknown of every view is the same pointer: the object's identity.
    ComPtr<IUnknown> fromCreate, fromInfo;
    ASSERT_EQ(create->QueryInterface(IID_IUnknown, fromCreate.out_void()), S_OK);
    ASSERT_EQ(info->QueryInterface(IID_IUnknown, fromInfo.out_void()), S_OK);
    EXPECT_EQ(fromCreate.get(), fromInfo.get());
    void* other = reinterpret_cast<void*>(1);
    EXPECT_EQ(create->QueryInterface(IID_IDispatch, &other), E_NOINTERFACE);
    EXPECT_EQ(other, nullptr);

    // Unset fields read as null strings and zero.
    UniqueBstr text;
    EXPECT_EQ(info->GetDescription(text.out()), S_OK);
    EXPECT_EQ(text.get(), nullptr);
    DWORD context = 99;
    EXPECT_EQ(info->GetHelpContext(&context), S_OK);
    EXPECT_EQ(context, 0u);

    OLECHAR description[] = OLESTR("Unable to get text. Access is denied.\r\n");
    OLECHAR source[] = OLESTR("Quarrow2.File.1");
    ASSERT_EQ(create->SetDescription(description), S_OK);
    ASSERT_EQ(create->SetSource(source), S_OK);
    ASSERT_EQ(create->SetGUID(IID_ISupportErrorInfo), S_OK);
    ASSERT_EQ(create->SetHelpContext(7), S_OK);
    description[0] = 'X';  // the object keeps its own copy
    EXPECT_EQ(info->GetDescription(text.out()), S_OK);
    EXPECT_EQ(Narrow(text.get()), "Unable to get text. Access is denied.\r\n");
    EXPECT_EQ(info->GetSource(text.out()), S_OK);
    EXPECT_EQ(Narrow(text.get()), "Quarrow2.File.1");
    EXPECT_EQ(info->GetHelpFile(text.out()), S_OK);
    EXPECT_EQ(text.get(), nullptr);
    GUID guid{};
    EXPECT_EQ(info->GetGUID(&guid), S_OK);
    EXPECT_TRUE(IsEqualGUID(guid, IID_ISupportErrorInfo));
    EXPECT_EQ(info->GetHelpContext(&context), S_OK);
    EXPECT_EQ(context, 7u);
    ASSERT_EQ(create->SetDescription(nullptr), S_OK);
    EXPECT_EQ(info->GetDescription(text.out()), S_OK);
    EXPECT_EQ(text.get(), nullptr);

    EXPECT_EQ(info->GetDescription(nullptr), E_INVALIDARG);
    EXPECT_EQ(info->GetGUID(nullptr), E_INVALIDARG);
    EXPECT_EQ(CreateErrorInfo(nullptr), E_INVALIDARG);
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

    EXPECT_EQ(SetErrorInfo(1, error.get()), E_INVALIDARG);
    EXPECT_EQ(GetErrorInfo(1, &taken), E_INVALIDARG);
    EXPECT_EQ(GetErrorInfo(0, nullptr), E_INVALIDARG);
    EXPECT_EQ(References(error.get()), 1u);
}

TEST(RuntimeErrorInfo, EachThreadHasItsOwnCurrentError) {
    ComPtr<IErrorInfo> mainError = NewErrorInfo(), workerError = NewErrorInfo();
    ASSERT_TRUE(mainError && workerError);
    ASSERT_EQ(SetErrorInfo(0, mainError.get()), S_OK);
    HRESULT seenByWorker = E_FAIL;
    IErrorInfo* workerSaw = reinterpret_cast<IErrorInfo*>(1);
    std::thread worker([&] {
        seenByWorker = GetErrorInfo(0, &workerSaw);
        SetErrorInfo(0, workerError.get());  // the thread ends holding its error
    });
    worker.join();
    EXPECT_EQ(seenByWorker, S_FALSE);
    EXPECT_EQ(workerSaw, nullptr);
    EXPECT_EQ(References(workerError.get()), 1u) << "a thread's error is released when it ends";
    IErrorInfo* mine = nullptr;
    ASSERT_EQ(GetErrorInfo(0, &mine), S_OK);
    EXPECT_EQ(mine, mainError.get()) << "the worker's report did not replace this thread's";
    mine->Release();
}

}  // namespace
}  // namespace quarrow2::test
