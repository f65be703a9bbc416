// The Strings collection: reading by 1-based index, counting, and the library lock count
// it holds. (Its interface table: server_dispatch_test.cpp.)
#include <gtest/gtest.h>

#include <limits>
#include <thread>
#include <vector>

#include "server/module_lock.h"
#include "strings_fixture.h"

namespace quarrow2::test {
namespace {

constexpr LONG kMinIndex = std::numeric_limits<LONG>::min();
constexpr LONG kMaxIndex = std::numeric_limits<LONG>::max();

// Item refuses each index and leaves the receiving variant as it was.
void ExpectRefused(IStrings* strings, const std::vector<LONG>& indexes) {
    for (LONG index : indexes) {
        UniqueVariant v;
        V_VT(v.get()) = VT_I4;
        V_I4(v.get()) = 42;
        EXPECT_EQ(strings->get_Item(index, v.get()), E_FAIL) << "Index " << index;
        EXPECT_EQ(V_VT(v.get()), VT_I4) << "Index " << index;
        EXPECT_EQ(V_I4(v.get()), 42) << "Index " << index;
    }
}

TEST(StringsCollection, EmptyCollectionHasNothingToHandOut) {
    ComPtr<IStrings> strings = MakeStrings({});
    LONG count = -1;
    ASSERT_EQ(strings->get_Count(&count), S_OK);
    EXPECT_EQ(count, 0);

    ExpectRefused(strings.get(), {1, 0, -1, 2, kMinIndex, kMaxIndex});

    ComPtr<IEnumVARIANT> walk = EnumeratorOf(strings.get());
    ASSERT_TRUE(walk);
    UniqueVariant v;
    ULONG fetched = 99;
    EXPECT_EQ(walk->Next(1, v.get(), &fetched), S_FALSE);
    EXPECT_EQ(fetched, 0u);
    EXPECT_EQ(V_VT(v.get()), VT_EMPTY);
}

TEST(StringsCollection, ItemCountsFromOneAndClampsLowIndexesToTheFirst) {
    ComPtr<IStrings> strings = MakeStrings({"Author", "Keywords", "Title"});
    LONG count = 0;
    ASSERT_EQ(strings->get_Count(&count), S_OK);
    ASSERT_EQ(count, 3);

    EXPECT_EQ(ItemText(strings.get(), 1), "Author");
    EXPECT_EQ(ItemText(strings.get(), 2), "Keywords");
    EXPECT_EQ(ItemText(strings.get(), count), "Title");
    EXPECT_EQ(ItemText(strings.get(), 0), "Author");
    EXPECT_EQ(ItemText(strings.get(), -1), "Author");
    EXPECT_EQ(ItemText(strings.get(), kMinIndex + 1), "Author");

    // Past the end, and the smallest index, whose predecessor wraps to the largest.
    ExpectRefused(strings.get(), {count + 1, kMaxIndex, kMinIndex});
}

TEST(StringsCollection, ItemHandsOutAFreshCopyAndClearsWhatTheVariantHeld) {
    ComPtr<IStrings> strings = MakeStrings({"Author"});
    UniqueVariant first, second;
    // Whatever the variant held is cleared first (the sanitizers see a leak otherwise).
    V_VT(first.get()) = VT_BSTR;
    V_BSTR(first.get()) = SysAllocString(OLESTR("previous"));
    ASSERT_EQ(strings->get_Item(1, first.get()), S_OK);
    ASSERT_EQ(strings->get_Item(1, second.get()), S_OK);
    EXPECT_EQ(TextOf(*first), "Author");
    EXPECT_NE(V_BSTR(first.get()), V_BSTR(second.get()));

    // The receiver owns its copy: changing it leaves the collection as it was.
    V_BSTR(first.get())[0] = OLESTR('X');
    EXPECT_EQ(ItemText(strings.get(), 1), "Author");
}

TEST(StringsCollection, AppendKeepsEachStringWhole) {
    ComPtr<discovery::Strings> made = New<discovery::Strings>();
    ASSERT_TRUE(made);

    const OLECHAR withZero[] = {OLESTR('a'), 0, OLESTR('b')};
    {
        UniqueBstr s(SysAllocStringLen(withZero, 3));
        ASSERT_EQ(made->Append(s.get()), S_OK);
    }  // the caller's string is gone; the entry holds its own copy
    ASSERT_EQ(made->Append(nullptr), S_OK);
    UniqueBstr unicode = Bstr("Größe \xF0\x9F\x93\x84");
    ASSERT_EQ(made->Append(unicode.get()), S_OK);

    ComPtr<IStrings> strings;
    ASSERT_EQ(made->QueryInterface(IID_IStrings, strings.out_void()), S_OK);

    UniqueVariant v;
    ASSERT_EQ(strings->get_Item(1, v.get()), S_OK);
    ASSERT_EQ(V_VT(v.get()), VT_BSTR);
    ASSERT_EQ(SysStringLen(V_BSTR(v.get())), 3u);
    EXPECT_EQ(V_BSTR(v.get())[2], OLESTR('b'));

    ASSERT_EQ(strings->get_Item(2, v.get()), S_OK);
    ASSERT_EQ(V_VT(v.get()), VT_BSTR);
    ASSERT_NE(V_BSTR(v.get()), nullptr);
    EXPECT_EQ(SysStringLen(V_BSTR(v.get())), 0u);

    EXPECT_EQ(ItemText(strings.get(), 3), "Größe \xF0\x9F\x93\x84");
}

TEST(StringsCollection, EveryLiveCollectionAndEnumeratorHoldsTheLibrary) {
    const LONG start = server::ModuleLockCount();
    {
        ComPtr<IStrings> strings = MakeStrings({"Author", "Keywords"});
        EXPECT_EQ(server::ModuleLockCount(), start + 1);
        ComPtr<IEnumVARIANT> walk = EnumeratorOf(strings.get());
        ASSERT_TRUE(walk);
        EXPECT_EQ(server::ModuleLockCount(), start + 2);
        ComPtr<IEnumVARIANT> clone;
        ASSERT_EQ(walk->Clone(clone.out()), S_OK);
        EXPECT_EQ(server::ModuleLockCount(), start + 3);

        strings.reset();
        walk.reset();
        EXPECT_EQ(server::ModuleLockCount(), start + 2)
            << "the clone keeps its collection, and so the library, alive";
    }
    EXPECT_EQ(server::ModuleLockCount(), start);

    // A collection destroyed by its maker before any reference went out gives its lock back.
    {
        ComPtr<discovery::Strings> unhanded = New<discovery::Strings>();
        ASSERT_TRUE(unhanded);
        UniqueBstr s = Bstr("Author");
        ASSERT_EQ(unhanded->Append(s.get()), S_OK);
        EXPECT_EQ(server::ModuleLockCount(), start + 1);
    }
    EXPECT_EQ(server::ModuleLockCount(), start);
}

TEST(StringsCollection, ReadsOnManyThreadsAtOnce) {
    const LONG start = server::ModuleLockCount();
    ComPtr<IStrings> strings = MakeStrings({"Author", "Keywords", "Title"});
    std::vector<std::thread> readers;
    std::vector<int> mismatches(4, 0);
    for (size_t t = 0; t < mismatches.size(); ++t) {
        readers.emplace_back([&strings, &mismatches, t] {
            for (int round = 0; round < 500; ++round) {
                ComPtr<IStrings> mine = strings;  // shares the atomic reference count
                ComPtr<IUnknown> unknown;
                if (mine->get__NewEnum(unknown.out()) != S_OK) ++mismatches[t];
                ComPtr<IEnumVARIANT> walk;
                if (!unknown ||
                    unknown->QueryInterface(IID_IEnumVARIANT, walk.out_void()) != S_OK) {
                    ++mismatches[t];
                    continue;
                }
                VARIANT batch[3];
                ULONG fetched = 0;
                if (walk->Next(3, batch, &fetched) != S_OK || fetched != 3) ++mismatches[t];
                for (ULONG i = 0; i < fetched; ++i) VariantClear(&batch[i]);
                VARIANT item;
                VariantInit(&item);
                if (mine->get_Item(2, &item) != S_OK || TextOf(item) != "Keywords") ++mismatches[t];
                VariantClear(&item);
            }
        });
    }
    for (std::thread& reader : readers) reader.join();
    for (size_t t = 0; t < mismatches.size(); ++t) EXPECT_EQ(mismatches[t], 0) << "thread " << t;
    EXPECT_EQ(server::ModuleLockCount(), start + 1);
    strings.reset();
    EXPECT_EQ(server::ModuleLockCount(), start);
}

}  // namespace
}  // namespace quarrow2::test
