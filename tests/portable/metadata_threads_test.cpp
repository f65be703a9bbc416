// One item used by several threads at once: values are read and written whole, and a Close
// or Delete from one thread never pulls the handle from under another thread's call.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "metadata_fixture.h"

namespace quarrow2::test::metadata {
namespace {

constexpr int kRounds = 150;

// Two values of different lengths, so a mix of them or a cut one cannot pass for either.
struct TwoValues {
    WString longer = WString(40, OLESTR('a'));
    WString shorter = WString(7, OLESTR('b'));
    Bytes longerBytes = Utf16Bytes(longer);
    Bytes shorterBytes = Utf16Bytes(shorter);

    bool IsOne(const Bytes& bytes) const { return bytes == longerBytes || bytes == shorterBytes; }
};

// Each round of a worker: one put or get, by turns; `whole` tells whether what a get read
// was one of the two values.
HRESULT Round(IMetaData* item, const TwoValues& values, int worker, int round, bool* whole) {
    HRESULT hr = S_OK;
    Bytes read;
    *whole = true;
    switch ((worker + round) % 4) {
        case 0:
            return PutText(item, values.longer);
        case 1:
            return PutData(item, values.shorterBytes);
        case 2: {
            UniqueBstr text;
            hr = item->get_Text(text.out());
            read = BstrBytes(text.get());
            break;
        }
        default: {
            UniqueVariant data;
            hr = item->get_Data(data.get());
            if (data->vt == (VT_ARRAY | VT_UI1)) read = ArrayBytes(*data);
        }
    }
    *whole = FAILED(hr) || values.IsOne(read);
    return hr;
}

TEST(MetaDataThreads, ConcurrentPutsAndGetsSeeOnlyWholeValues) {
    ItemFile file;
    ComPtr<IMetaData> item = file.Item();
    const TwoValues values;
    ASSERT_EQ(PutText(item.get(), values.longer), S_OK);

    std::atomic<int> failed{0};
    std::atomic<int> torn{0};
    std::vector<std::thread> workers;
    for (int worker = 0; worker < 4; ++worker) {
        workers.emplace_back([&, worker] {
            for (int round = 0; round < kRounds; ++round) {
                bool whole = true;
                if (Round(item.get(), values, worker, round, &whole) != S_OK) ++failed;
                if (!whole) ++torn;
                LONG length = 0;
                if (item->get_Length(&length) != S_OK) ++failed;
                if (length != 80 && length != 14) ++torn;
            }
            SetErrorInfo(0, nullptr);
        });
    }
    for (std::thread& t : workers) t.join();
    EXPECT_EQ(failed.load(), 0);
    EXPECT_EQ(torn.load(), 0);
    EXPECT_TRUE(values.IsOne(file.Stored()));
}

TEST(MetaDataThreads, CloseOrDeleteWhileOtherThreadsReadAndWrite) {
    for (bool deleting : {false, true}) {
        SCOPED_TRACE(deleting ? "Delete" : "Close");
        ItemFile file;
        ComPtr<IMetaData> item = file.Item();
        const TwoValues values;
        ASSERT_EQ(PutText(item.get(), values.shorter), S_OK);

        std::atomic<bool> closing{false};
        std::atomic<int> succeeded{0};
        std::atomic<int> failedBeforeClose{0};
        std::atomic<int> torn{0};
        std::vector<std::thread> threads;
        for (int worker = 0; worker < 3; ++worker) {
            threads.emplace_back([&, worker] {
                for (int round = 0; round < kRounds; ++round) {
                    bool whole = true;
                    const HRESULT hr = Round(item.get(), values, worker, round, &whole);
                    if (hr == S_OK) ++succeeded;
                    // A call can only fail once the item is being closed.
                    if (hr != S_OK && !closing.load()) ++failedBeforeClose;
                    if (!whole) ++torn;
                    UniqueBstr name;
                    item->get_Name(name.out());
                    LONG length = 0;
                    item->get_Length(&length);
                }
                SetErrorInfo(0, nullptr);
            });
        }
        threads.emplace_back([&] {
            while (succeeded.load() < 20) std::this_thread::yield();
            closing.store(true);
            EXPECT_EQ(deleting ? item->Delete() : item->Close(), S_OK);
        });
        for (std::thread& t : threads) t.join();

        EXPECT_EQ(failedBeforeClose.load(), 0);
        EXPECT_EQ(torn.load(), 0);
        EXPECT_EQ(Length(item.get()), 0);
        if (deleting) {
            EXPECT_FALSE(file.StreamExists());
        } else {
            EXPECT_TRUE(values.IsOne(file.Stored()));
        }
    }
}

}  // namespace
}  // namespace quarrow2::test::metadata
