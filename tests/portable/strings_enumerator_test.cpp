// The enumeration protocol of a Strings collection: Next, Skip, Reset and Clone, and an
// enumerator outliving the client's reference to its collection.
#include <gtest/gtest.h>

#include <cstring>

#include "server/module_lock.h"
#include "strings_fixture.h"

namespace quarrow2::test {
namespace {

// The next entry's text, "<end>" once there is none.
std::string NextText(IEnumVARIANT* walk) {
    UniqueVariant v;
    ULONG fetched = 0;
    HRESULT hr = walk->Next(1, v.get(), &fetched);
    if (hr == S_FALSE && fetched == 0) return "<end>";
    if (hr != S_OK || fetched != 1) return "<hr " + std::to_string(hr) + ">";
    return TextOf(*v);
}

TEST(StringsEnumerator, NextFetchesWhatIsLeftAndSaysWhenItRanShort) {
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
    fetched = 99;
    EXPECT_EQ(walk->Next(3, batch, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 2u);
    EXPECT_EQ(TextOf(batch[0]), "Keywords");
    EXPECT_EQ(TextOf(batch[1]), "Title");
    for (ULONG i = 0; i < fetched; ++i) VariantClear(&batch[i]);

    EXPECT_EQ(NextText(walk.get()), "<end>");
    fetched = 99;
    EXPECT_EQ(walk->Next(3, batch, &fetched), S_FALSE);
    EXPECT_EQ(fetched, 0u);
}

TEST(StringsEnumerator, SkipStopsAtTheEndAndResetStartsAgain) {
    ComPtr<IStrings> strings = MakeStrings({"Author", "Keywords", "Title"});
    ComPtr<IEnumVARIANT> walk = EnumeratorOf(strings.get());
    ASSERT_TRUE(walk);

    EXPECT_EQ(walk->Skip(0), S_OK);
    EXPECT_EQ(walk->Skip(1), S_OK);
    EXPECT_EQ(walk->Skip(2), S_OK) << "exactly the entries left";
    EXPECT_EQ(NextText(walk.get()), "<end>");

    EXPECT_EQ(walk->Reset(), S_OK);
    EXPECT_EQ(NextText(walk.get()), "Author");
    EXPECT_EQ(walk->Skip(3), S_FALSE) << "one more than the entries left";
    EXPECT_EQ(NextText(walk.get()), "<end>");
    EXPECT_EQ(walk->Skip(0xFFFFFFFFu), S_FALSE);

    EXPECT_EQ(walk->Reset(), S_OK);
    EXPECT_EQ(NextText(walk.get()), "Author");
    EXPECT_EQ(NextText(walk.get()), "Keywords");
    EXPECT_EQ(NextText(walk.get()), "Title");
    EXPECT_EQ(NextText(walk.get()), "<end>");
}

TEST(StringsEnumerator, CloneWalksOnFromTheSamePlaceIndependently) {
    ComPtr<IStrings> strings = MakeStrings({"Author", "Keywords", "Title"});
    ComPtr<IEnumVARIANT> walk = EnumeratorOf(strings.get());
    ASSERT_TRUE(walk);
    EXPECT_EQ(NextText(walk.get()), "Author");

    ComPtr<IEnumVARIANT> clone;
    ASSERT_EQ(walk->Clone(clone.out()), S_OK);
    ASSERT_TRUE(clone);
    EXPECT_NE(clone.get(), walk.get());
    EXPECT_EQ(NextText(clone.get()), "Keywords");
    EXPECT_EQ(NextText(clone.get()), "Title");
    EXPECT_EQ(NextText(clone.get()), "<end>");

    EXPECT_EQ(NextText(walk.get()), "Keywords") << "the original did not move with its clone";
    EXPECT_EQ(clone->Reset(), S_OK);
    EXPECT_EQ(NextText(walk.get()), "Title");
    EXPECT_EQ(NextText(clone.get()), "Author");

    // A clone of an enumerator at its end is at its end too.
    ComPtr<IEnumVARIANT> late;
    ASSERT_EQ(walk->Clone(late.out()), S_OK);
    EXPECT_EQ(NextText(late.get()), "<end>");

    EXPECT_EQ(walk->Clone(nullptr), E_POINTER);
}

TEST(StringsEnumerator, FinishesAfterTheClientReleasedTheCollection) {
    const LONG start = server::ModuleLockCount();
    ComPtr<IStrings> strings = MakeStrings({"Author", "Keywords", "Title"});
    ComPtr<IEnumVARIANT> walk = EnumeratorOf(strings.get());
    ASSERT_TRUE(walk);
    EXPECT_EQ(NextText(walk.get()), "Author");
    ComPtr<IEnumVARIANT> clone;
    ASSERT_EQ(walk->Clone(clone.out()), S_OK);

    strings.reset();  // the client's only reference to the collection
    EXPECT_EQ(NextText(walk.get()), "Keywords");
    EXPECT_EQ(NextText(walk.get()), "Title");
    EXPECT_EQ(NextText(walk.get()), "<end>");
    walk.reset();

    // The clone still holds the collection; its entries are intact.
    EXPECT_EQ(server::ModuleLockCount(), start + 2);
    EXPECT_EQ(NextText(clone.get()), "Keywords");
    EXPECT_EQ(clone->Reset(), S_OK);
    EXPECT_EQ(NextText(clone.get()), "Author");
    clone.reset();
    EXPECT_EQ(server::ModuleLockCount(), start);
}

}  // namespace
}  // namespace quarrow2::test
