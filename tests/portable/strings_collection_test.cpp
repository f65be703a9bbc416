// The Strings collection: reading by 1-based index, counting, the enumeration protocol
// (Next, Skip, Reset, Clone) and the library lock count its objects hold. (Its interface
// table: server_dispatch_test.cpp.)
#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <thread>
#include <vector>

#include "server/module_lock.h"
#include "file_properties_fixture.h"

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

// The next entry's text, "<end>" once there is none.
std::string NextText(IEnumVARIANT* walk) {
    UniqueVariant v;
    ULONG fetched = 0;
    HRESULT hr = walk->Next(1, v.get(), &fetched);
    if (hr == S_FALSE && fetched == 0) return "<end>";
    if (hr != S_OK || fetched != 1) return "<hr " + std::to_string(hr) + ">";
    return TextOf(*v);
}

TEST(StringsCollection, EmptyCollectionHasNothingToHandOut) {
    ComPtr<IStrings> strings = MakeStrings({});
    LONG count = -1;
    ASSERT_EQ(strings->get_Count(&count), S_OK);
    EXPECT_EQ(count, 0);
    ExpectRefused(strings.get(), {1, 0, -1, 2, kMinIndex, kMaxIndex});
    ComPtr<IEnumVARIANT> walk = EnumeratorOf(strings.get());
    ASSERT_TRUE(walk);
    EXPECT_EQ(NextText(walk.get()), "<end>");
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

    // A fresh copy each time; whatever the variant held is cleared first (the sanitizers
    // see a leak otherwise).
    UniqueVariant first, second;
    V_VT(first.get()) = VT_BSTR;
    V_BSTR(first.get()) = SysAllocString(OLESTR("previous"));
    ASSERT_EQ(strings->get_Item(1, first.get()), S_OK);
    ASSERT_EQ(strings->get_Item(1, second.get()), S_OK);
    EXPECT_NE(V_BSTR(first.get()), V_BSTR(second.get()));
    V_BSTR(first.get())[0] = OLESTR('X');
    EXPECT_EQ(ItemText(strings.get(), 1), "Author") << "the receiver owns its copy";
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
    ASSERT_EQ(SysStringLen(V_BSTR(v.get())), 3u);
    EXPECT_EQ(V_BSTR(v.get())[2], OLESTR('b'));
    ASSERT_EQ(strings->get_Item(2, v.get()), S_OK);
    ASSERT_EQ(V_VT(v.get()), VT_BSTR);
    ASSERT_NE(V_BSTR(v.get()), nullptr);
    EXPECT_EQ(SysStringLen(V_BSTR(v.get())), 0u);
    EXPECT_EQ(ItemText(strings.get(), 3), "Größe \xF0\x9F\x93\x84");
}

TEST(StringsCollection, NextFetchesWhatIsLeftAndSkipAndResetMove) {
    ComPtr<IStrings> strings = MakeStrings({"Author", "Keywords", "Title"});
    ComPtr<IEnumVARIANT> walk = EnumeratorOf(strings.get());
    ASSERT_TRUE(walk);
    VARIANT batch[3];
    ULONG fetched = 99;
    EXPECT_EQ(walk->Next(0, batch, &fetched), S_OK);
    EXPECT_EQ(fetched, 0u);
    // One at a time without a place for the count is allowed.
    {
        UniqueVariant v;
        EXPECT_EQ(walk->Next(1, v.get(), nullptr), S_OK);
        EXPECT_EQ(TextOf(*v), "Author");
    }
    // More than one needs the count; nothing moves when it is missing.
    EXPECT_EQ(walk->Next(2, batch, nullptr), E_POINTER);
    EXPECT_EQ(walk->Next(0, batch, nullptr), E_POINTER);
    EXPECT_EQ(walk->Next(1, nullptr, &fetched), E_POINTER);
    // The array is an out-argument: garbage in it is overwritten, never freed.
    std::memset(batch, 0xA5, sizeof batch);
    EXPECT_EQ(walk->Next(3, batch, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 2u);
    EXPECT_EQ(TextOf(batch[0]), "Keywords");
    EXPECT_EQ(TextOf(batch[1]), "Title");
    for (ULONG i = 0; i < fetched; ++i) VariantClear(&batch[i]);
    fetched = 99;
    EXPECT_EQ(walk->Next(3, batch, &fetched), S_FALSE);
    EXPECT_EQ(fetched, 0u);

    EXPECT_EQ(walk->Reset(), S_OK);
    EXPECT_EQ(walk->Skip(0), S_OK);
    EXPECT_EQ(walk->Skip(1), S_OK);
    EXPECT_EQ(walk->Skip(2), S_OK) << "exactly the entries left";
    EXPECT_EQ(NextText(walk.get()), "<end>");
    EXPECT_EQ(walk->Reset(), S_OK);
    EXPECT_EQ(NextText(walk.get()), "Author");
    EXPECT_EQ(walk->Skip(3), S_FALSE) << "one more than the entries left";
    EXPECT_EQ(NextText(walk.get()), "<end>");
    EXPECT_EQ(walk->Skip(0xFFFFFFFFu), S_FALSE);
}

// A clone walks on from the same place independently, and every live collection and
// enumerator holds the library, also after the client released the collection.
TEST(StringsCollection, ClonesAndEnumeratorsOutliveTheClientsCollection) {
    const LONG start = server::ModuleLockCount();
    ComPtr<IStrings> strings = MakeStrings({"Author", "Keywords", "Title"});
    EXPECT_EQ(server::ModuleLockCount(), start + 1);
    ComPtr<IEnumVARIANT> walk = EnumeratorOf(strings.get());
    ASSERT_TRUE(walk);
    EXPECT_EQ(server::ModuleLockCount(), start + 2);
    EXPECT_EQ(NextText(walk.get()), "Author");
    ComPtr<IEnumVARIANT> clone;
    ASSERT_EQ(walk->Clone(clone.out()), S_OK);
    EXPECT_EQ(server::ModuleLockCount(), start + 3);
    EXPECT_NE(clone.get(), walk.get());
    EXPECT_EQ(walk->Clone(nullptr), E_POINTER);

    strings.reset();  // the client's only reference to the collection
    EXPECT_EQ(NextText(clone.get()), "Keywords");
    EXPECT_EQ(NextText(clone.get()), "Title");
    EXPECT_EQ(NextText(walk.get()), "Keywords") << "the original did not move with its clone";
    EXPECT_EQ(clone->Reset(), S_OK);
    EXPECT_EQ(NextText(walk.get()), "Title");
    EXPECT_EQ(NextText(clone.get()), "Author");
    // A clone of an enumerator at its end is at its end too.
    ComPtr<IEnumVARIANT> late;
    ASSERT_EQ(walk->Clone(late.out()), S_OK);
    EXPECT_EQ(NextText(late.get()), "<end>");
    late.reset();
    walk.reset();
    EXPECT_EQ(server::ModuleLockCount(), start + 2) << "the clone keeps its collection alive";
    EXPECT_EQ(NextText(clone.get()), "Keywords");
    clone.reset();
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
                ComPtr<IEnumVARIANT> walk = EnumeratorOf(mine.get());
                VARIANT batch[3];
                ULONG fetched = 0;
                if (!walk || walk->Next(3, batch, &fetched) != S_OK || fetched != 3)
                    ++mismatches[t];
                for (ULONG i = 0; i < fetched; ++i) VariantClear(&batch[i]);
                if (ItemText(mine.get(), 2) != "Keywords") ++mismatches[t];
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
