// The Strings collection: reading by 1-based index, counting, the enumeration protocol
// (Next, Skip, Reset, Clone) and the library lock count its objects hold. (Its interface
// table: server_objects_test.cpp.)
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <limits>
#include <thread>
#include <vector>

#include "server/module_lock.h"
#include "file_properties_fixture.h"

namespace quarrow2::test {
namespace {

constexpr LONG kMin = std::numeric_limits<LONG>::min();
constexpr LONG kMax = std::numeric_limits<LONG>::max();

// Item's text at each index, "refused" where it failed and left the receiving variant as it
// was; joined by blanks.
std::string Items(const std::vector<std::string>& entries, const std::vector<LONG>& indexes) {
    ComPtr<IStrings> strings = MakeStrings(entries);
    LONG count = -1;
    EXPECT_EQ(strings->get_Count(&count), S_OK);
    EXPECT_EQ(count, static_cast<LONG>(entries.size()));
    std::string texts;
    for (LONG index : indexes) {
        UniqueVariant v;
        V_VT(v.get()) = VT_I4;
        V_I4(v.get()) = 42;
        const HRESULT hr = strings->get_Item(index, v.get());
        const bool kept = V_VT(v.get()) == VT_I4 && V_I4(v.get()) == 42;
        texts += (texts.empty() ? "" : " ") + (hr == S_OK             ? TextOf(*v)
                                               : hr == E_FAIL && kept ? "refused"
                                                                      : "<failed>");
    }
    return texts;
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

TEST(StringsCollection, ItemCountsFromOneClampsLowIndexesToTheFirstAndRefusesTheRest) {
    EXPECT_EQ(Items({}, {1, 0, -1, 2, kMin, kMax}),
              "refused refused refused refused refused refused");
    EXPECT_EQ(NextText(EnumeratorOf(MakeStrings({}).get()).get()), "<end>");
    // Past the end, and the smallest index, whose predecessor wraps to the largest.
    EXPECT_EQ(Items({"Author", "Keywords", "Title"}, {1, 2, 3, 0, -1, kMin + 1, 4, kMax, kMin}),
              "Author Keywords Title Author Author Author refused refused refused");

    // A fresh copy each time; whatever the variant held is cleared first (the sanitizers
    // see a leak otherwise).
    ComPtr<IStrings> strings = MakeStrings({"Author"});
    UniqueVariant first, second;
    V_VT(first.get()) = VT_BSTR;
    V_BSTR(first.get()) = SysAllocString(OLESTR("previous"));
    ASSERT_EQ(strings->get_Item(1, first.get()), S_OK);
    ASSERT_EQ(strings->get_Item(1, second.get()), S_OK);
    EXPECT_NE(V_BSTR(first.get()), V_BSTR(second.get()));
    V_BSTR(first.get())[0] = OLESTR('X');
    EXPECT_EQ(ItemText(strings.get(), 1), "Author") << "the receiver owns its copy";
}

// Each entry is a copy of its own; an absent string is the empty one.
TEST(StringsCollection, AppendKeepsEachStringWhole) {
    const std::string withZero("a\0b", 3);
    EXPECT_EQ(Items({withZero, "Größe \xF0\x9F\x93\x84"}, {1, 2}),
              withZero + " Größe \xF0\x9F\x93\x84");
    ComPtr<discovery::Strings> made = New<discovery::Strings>();
    ASSERT_EQ(made->Append(nullptr), S_OK);
    ComPtr<IStrings> strings;
    ASSERT_EQ(made->QueryInterface(IID_IStrings, strings.out_void()), S_OK);
    UniqueVariant v;
    ASSERT_EQ(strings->get_Item(1, v.get()), S_OK);
    EXPECT_TRUE(V_VT(v.get()) == VT_BSTR && V_BSTR(v.get()) && !SysStringLen(V_BSTR(v.get())));
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
    UniqueVariant v;
    EXPECT_EQ(walk->Next(1, v.get(), nullptr), S_OK);
    EXPECT_EQ(TextOf(*v), "Author");
    // More than one needs the count; nothing moves when it is missing.
    EXPECT_EQ(walk->Next(2, batch, nullptr), E_POINTER);
    EXPECT_EQ(walk->Next(0, batch, nullptr), E_POINTER);
    EXPECT_EQ(walk->Next(1, nullptr, &fetched), E_POINTER);
    // The array is an out-argument: garbage in it is overwritten, never freed.
    std::memset(batch, 0xA5, sizeof batch);
    EXPECT_EQ(walk->Next(3, batch, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 2u);
    EXPECT_EQ(TextOf(batch[0]) + "," + TextOf(batch[1]), "Keywords,Title");
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
    ComPtr<IEnumVARIANT> walk = EnumeratorOf(strings.get());
    ASSERT_TRUE(walk);
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
        EXPECT_EQ(server::ModuleLockCount(), start + 1);
    }
    EXPECT_EQ(server::ModuleLockCount(), start);
}

TEST(StringsCollection, ReadsOnManyThreadsAtOnce) {
    const LONG start = server::ModuleLockCount();
    ComPtr<IStrings> strings = MakeStrings({"Author", "Keywords", "Title"});
    std::vector<std::thread> readers;
    std::atomic<int> mismatches{0};
    for (int t = 0; t < 4; ++t) {
        readers.emplace_back([&strings, &mismatches] {
            for (int round = 0; round < 500; ++round) {
                ComPtr<IStrings> mine = strings;  // shares the atomic reference count
                ComPtr<IEnumVARIANT> walk = EnumeratorOf(mine.get());
                VARIANT batch[3];
                ULONG fetched = 0;
                if (!walk || walk->Next(3, batch, &fetched) != S_OK || fetched != 3) ++mismatches;
                for (ULONG i = 0; i < fetched; ++i) VariantClear(&batch[i]);
                if (ItemText(mine.get(), 2) != "Keywords") ++mismatches;
            }
        });
    }
    for (std::thread& reader : readers) reader.join();
    EXPECT_EQ(mismatches.load(), 0);
    EXPECT_EQ(server::ModuleLockCount(), start + 1);
    strings.reset();
    EXPECT_EQ(server::ModuleLockCount(), start);
}

}  // namespace
}  // namespace quarrow2::test
