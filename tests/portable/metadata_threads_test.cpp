// One item used by several threads at once: values are read and written whole, and a Close
// or Delete from one thread never pulls the handle from under another thread's call.
#include <atomic>
#include <thread>

#include "metadata_fixture.h"

namespace quarrow2::test::metadata {
namespace {

// Two values of different lengths, so a mix of them or a cut one cannot pass for either.
const WString kLonger(40, OLESTR('a'));
const Bytes kShorterBytes = Utf16Bytes(WString(7, OLESTR('b')));

bool IsOne(const Bytes& bytes) { return bytes == Utf16Bytes(kLonger) || bytes == kShorterBytes; }

// One put or get, by turns, and the length; `whole` tells whether they read whole values.
HRESULT Round(IMetaData* item, int turn, const std::atomic<bool>& closing, bool* whole) {
    UniqueBstr text;
    UniqueVariant data;
    const HRESULT hr = turn % 4 == 0   ? PutText(item, kLonger)
                       : turn % 4 == 1 ? PutData(item, kShorterBytes)
                       : turn % 4 == 2 ? item->get_Text(text.out())
                                       : item->get_Data(data.get());
    const Bytes read = turn % 4 == 2                     ? BstrBytes(text.get())
                       : data->vt == (VT_ARRAY | VT_UI1) ? ArrayBytes(*data)
                                                         : kShorterBytes;
    LONG length = 0;
    const HRESULT lengthHr = item->get_Length(&length);
    // Once closed, the length reads 0; before, only one of the two values' lengths.
    *whole = (FAILED(hr) || IsOne(read)) &&
             (FAILED(lengthHr) || length == 80 || length == 14 || (closing.load() && length == 0));
    return FAILED(hr) ? hr : lengthHr;
}

TEST(MetaDataThreads, PutsAndGetsSeeOnlyWholeValuesAndCloseOrDeleteWaitsForThem) {
    for (const char* ending : {"nothing", "Close", "Delete"}) {
        SCOPED_TRACE(ending);
        ItemFile file;
        ComPtr<IMetaData> item = file.Item();
        ASSERT_EQ(PutText(item.get(), kLonger), S_OK);
        std::atomic<bool> closing{false};
        std::atomic<int> succeeded{0}, failedBeforeClose{0}, torn{0};
        std::vector<std::thread> threads;
        for (int worker = 0; worker < 4; ++worker)
            threads.emplace_back([&, worker] {
                for (int round = 0; round < 150; ++round) {
                    bool whole = true;
                    const HRESULT hr = Round(item.get(), worker + round, closing, &whole);
                    if (hr == S_OK) ++succeeded;
                    if (hr != S_OK && !closing.load()) ++failedBeforeClose;
                    if (!whole) ++torn;
                    item->get_Name(UniqueBstr().out());
                }
                SetErrorInfo(0, nullptr);
            });
        if (ending[0] != 'n')
            threads.emplace_back([&] {
                while (succeeded.load() < 20) std::this_thread::yield();
                closing.store(true);
                EXPECT_EQ(ending[0] == 'D' ? item->Delete() : item->Close(), S_OK);
            });
        for (std::thread& t : threads) t.join();
        EXPECT_EQ(failedBeforeClose.load(), 0);
        EXPECT_EQ(torn.load(), 0);
        EXPECT_TRUE(ending[0] == 'D' ? !file.StreamExists() : IsOne(file.Stored()));
        EXPECT_TRUE(ending[0] == 'n' || LengthOf(item.get()) == 0);
    }
}

}  // namespace
}  // namespace quarrow2::test::metadata
