// The Strings collection: 1-based Item, Count, the enumeration (Next, Skip, Reset, Clone) and
// the library lock its objects hold. (Its interface table: server_objects_test.cpp.)
#include <atomic>
#include <cstring>
#include <limits>
#include <sstream>
#include <thread>

#include "file_properties_fixture.h"

namespace quarrow2::test {
namespace {

constexpr LONG kMin = std::numeric_limits<LONG>::min();
constexpr LONG kMax = std::numeric_limits<LONG>::max();

// Item's text at each index, "refused" where it failed leaving the variant as it was.
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

// Runs the steps "n<k>" (Next of k), "s<k>" (Skip of k) and "r" (Reset) in turn; each gives
// the texts it fetched, then "+" for S_OK or "-" for S_FALSE.
std::string Steps(IEnumVARIANT* walk, const std::string& steps) {
    std::istringstream in(steps);
    std::string step, out;
    while (in >> step) {
        const ULONG k = step.size() > 1 ? std::stoul(step.substr(1)) : 0;
        VARIANT batch[4];
        std::memset(batch, 0xA5, sizeof batch);  // an out-argument: overwritten, never freed
        ULONG fetched = 99;
        const HRESULT hr = step[0] == 'n'   ? walk->Next(k, batch, &fetched)
                           : step[0] == 's' ? walk->Skip(k)
                                            : walk->Reset();
        for (ULONG i = 0; step[0] == 'n' && i < fetched && i < k && i < 4; ++i) {
            out += TextOf(batch[i]) + ",";
            VariantClear(&batch[i]);
        }
        if (step[0] == 'n' && fetched > k) out += "<fetched " + std::to_string(fetched) + ">";
        out += hr == S_OK ? "+ " : hr == S_FALSE ? "- " : "<hr " + std::to_string(hr) + "> ";
    }
    return out;
}

std::string NextText(IEnumVARIANT* walk) { return Steps(walk, "n1"); }

TEST(StringsCollection, ItemCountsFromOneClampsLowIndexesToTheFirstAndRefusesTheRest) {
    EXPECT_EQ(Items({}, {1, 0, -1, 2, kMin, kMax}),
              "refused refused refused refused refused refused");
    // Past the end, and the smallest index, whose predecessor wraps to the largest.
    EXPECT_EQ(Items({"Author", "Keywords", "Title"}, {1, 2, 3, 0, -1, kMin + 1, 4, kMax, kMin}),
              "Author Keywords Title Author Author Author refused refused refused");
    // Each entry is a copy of its own, kept whole.
    const std::string withZero("a\0b", 3);
    EXPECT_EQ(Items({withZero, "Größe \xF0\x9F\x93\x84"}, {1, 2}),
              withZero + " Größe \xF0\x9F\x93\x84");

    // Whatever the variant held is cleared first (a leak otherwise); each copy is the
    // receiver's own (a double free otherwise): the sanitizers tell.
    ComPtr<discovery::Strings> made = platform::New<discovery::Strings>();
    UniqueVariant v;
    V_VT(v.get()) = VT_BSTR;
    V_BSTR(v.get()) = SysAllocString(OLESTR("previous"));
    ASSERT_EQ(made->Append(nullptr), S_OK);
    ASSERT_EQ(made->get_Item(1, v.get()), S_OK);
    // An absent string is the empty one.
    EXPECT_TRUE(V_VT(v.get()) == VT_BSTR && V_BSTR(v.get()) && !SysStringLen(V_BSTR(v.get())));
}

TEST(StringsCollection, NextFetchesWhatIsLeftAndSkipAndResetMove) {
    EXPECT_EQ(Steps(EnumeratorOf(MakeStrings({}).get()).get(), "n1 n3 s1 r n1"), "- - - + - ");
    ComPtr<IEnumVARIANT> walk = EnumeratorOf(MakeStrings({"Author", "Keywords", "Title"}).get());
    ASSERT_TRUE(walk);
    // Skip of exactly the entries left succeeds; of one more, or of the most, does not.
    EXPECT_EQ(Steps(walk.get(), "n0 n1 n3 n3 r s0 s1 s2 n1 r n1 s3 n1 s4294967295 r n4"),
              "+ Author,+ Keywords,Title,- - + + + + - + Author,+ - - - + "
              "Author,Keywords,Title,- ");
    // Only a fetch of one may omit the count; nothing moves when it is missing.
    UniqueVariant v;
    VARIANT batch[2];
    EXPECT_EQ(walk->Reset(), S_OK);
    EXPECT_EQ(walk->Next(1, v.get(), nullptr), S_OK);
    EXPECT_EQ(TextOf(*v), "Author");
    EXPECT_EQ(walk->Next(2, batch, nullptr), E_POINTER);
    EXPECT_EQ(walk->Next(0, batch, nullptr), E_POINTER);
    ULONG fetched = 0;
    EXPECT_EQ(walk->Next(1, nullptr, &fetched), E_POINTER);
    EXPECT_EQ(NextText(walk.get()), "Keywords,+ ");
}

// A clone walks on from the same place independently; every live collection and enumerator
// holds the library, also once the client released the collection and while threads read.
TEST(StringsCollection, ClonesEnumeratorsAndReadersOnManyThreadsHoldTheLibrary) {
    const LONG start = store::ModuleLockCount();
    ComPtr<IStrings> strings = MakeStrings({"Author", "Keywords", "Title"});
    ComPtr<IEnumVARIANT> walk = EnumeratorOf(strings.get());
    ASSERT_TRUE(walk);
    EXPECT_EQ(NextText(walk.get()), "Author,+ ");
    ComPtr<IEnumVARIANT> clone, late;
    ASSERT_EQ(walk->Clone(clone.out()), S_OK);
    EXPECT_EQ(store::ModuleLockCount(), start + 3);
    EXPECT_NE(clone.get(), walk.get());
    EXPECT_EQ(walk->Clone(nullptr), E_POINTER);

    strings.reset();  // the client's only reference to the collection
    EXPECT_EQ(Steps(clone.get(), "n1 n1"), "Keywords,+ Title,+ ");
    EXPECT_EQ(NextText(walk.get()), "Keywords,+ ") << "the original did not move with its clone";
    EXPECT_EQ(Steps(clone.get(), "r"), "+ ");
    EXPECT_EQ(NextText(walk.get()), "Title,+ ");
    EXPECT_EQ(NextText(clone.get()), "Author,+ ");
    // A clone of an enumerator at its end is at its end too.
    ASSERT_EQ(walk->Clone(late.out()), S_OK);
    EXPECT_EQ(NextText(late.get()), "- ");
    late.reset();
    walk.reset();
    EXPECT_EQ(store::ModuleLockCount(), start + 2) << "the clone keeps its collection alive";
    EXPECT_EQ(NextText(clone.get()), "Keywords,+ ");
    clone.reset();
    EXPECT_EQ(store::ModuleLockCount(), start);

    // A collection destroyed by its maker before any reference went out gives its lock back.
    platform::New<discovery::Strings>();
    EXPECT_EQ(store::ModuleLockCount(), start);

    strings = MakeStrings({"Author", "Keywords", "Title"});
    std::vector<std::thread> readers;
    std::atomic<int> mismatches{0};
    for (int t = 0; t < 4; ++t)
        readers.emplace_back([&strings, &mismatches] {
            for (int round = 0; round < 500; ++round) {
                ComPtr<IStrings> mine = strings;  // shares the atomic reference count
                ComPtr<IEnumVARIANT> walk = EnumeratorOf(mine.get());
                if (!walk || Steps(walk.get(), "n3") != "Author,Keywords,Title,+ ") ++mismatches;
                if (ItemText(mine.get(), 2) != "Keywords") ++mismatches;
            }
        });
    for (std::thread& reader : readers) reader.join();
    EXPECT_EQ(mismatches.load(), 0);
    EXPECT_EQ(store::ModuleLockCount(), start + 1);
    strings.reset();
    EXPECT_EQ(store::ModuleLockCount(), start);
}

}  // namespace
}  // namespace quarrow2::test
