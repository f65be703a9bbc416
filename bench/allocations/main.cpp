// Heap blocks per call of each operation on an open item, counted by the allocator this
// program installs. Counting is on around the library's call alone; the client's own
// freeing of what it was handed is outside it and allocates nothing anyway.
#include <benchmark/benchmark.h>

#include <cstdio>

#include <memory>
#include <vector>

#include "bench/allocations/counting_allocator.h"
#include "bench/support/item_fixture.h"
#include "bench/support/paired_timing.h"
#include "bench/support/scratch_files.h"

namespace quarrow2::bench {
namespace {

// The first volume that works: the tmpfs holds every value size.
const Volume* UsableVolume(const ScratchVolumes& volumes) {
    for (const Volume& volume : volumes.All())
        if (volume.skipReason.empty()) return &volume;
    return nullptr;
}

// Counts what `call(item)` allocates, per call, as counters of the benchmark.
template <class Call>
void CountOn(const Volume& volume, const std::string& operation, size_t valueBytes, Call call) {
    const std::string name = volume.name + "/" + operation + "/" + SizeName(valueBytes);
    benchmark::RegisterBenchmark(name.c_str(), [=, &volume](benchmark::State& state) {
        ItemFixture fixture;
        std::string why;
        if (!fixture.Make(volume, "allocations-" + std::to_string(valueBytes), valueBytes, true,
                          why))
            return Skip(state, why);
        uint64_t blocks = 0;
        uint64_t bytes = 0;
        for (auto _ : state) {
            StartCountingAllocations();
            const HRESULT hr = call(*fixture.item.get());
            const AllocationCount count = StopCountingAllocations();
            if (FAILED(hr)) {
                state.SkipWithError(Failure(operation, hr).c_str());
                break;
            }
            blocks += count.blocks;
            bytes += count.bytes;
        }
        const double calls = static_cast<double>(state.iterations());
        if (calls == 0 || state.error_occurred()) return;
        state.counters["allocations_per_call"] = static_cast<double>(blocks) / calls;
        state.counters["allocated_bytes_per_call"] = static_cast<double>(bytes) / calls;
    })->Iterations(1000);
}

void RegisterAllocationCounts(const Volume& volume) {
    for (size_t size : kValueSizes) {
        CountOn(volume, "Text get", size, [](IMetaData& item) {
            UniqueBstr text;
            BSTR* out = text.out();
            return item.get_Text(out);
        });
        CountOn(volume, "Data get", size, [](IMetaData& item) {
            UniqueVariant data;
            VARIANT* out = data.out();
            return item.get_Data(out);
        });
        auto text = std::make_shared<UniqueBstr>(TextOfBytes(PatternBytes(size)));
        CountOn(volume, "Text put", size,
                [text](IMetaData& item) { return item.put_Text(text->get()); });
        auto bytes = std::make_shared<UniqueVariant>();
        const std::string pattern = PatternBytes(size);
        PutByteArray(pattern.data(), pattern.size(), *bytes);
        CountOn(volume, "Data put", size,
                [bytes](IMetaData& item) { return item.put_Data(*bytes->get()); });
        CountOn(volume, "Length", size, [](IMetaData& item) {
            LONG length = 0;
            return item.get_Length(&length);
        });
    }
}

}  // namespace
}  // namespace quarrow2::bench

int main(int argc, char** argv) {
    quarrow2::bench::ScratchVolumes volumes;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    const quarrow2::bench::Volume* volume = quarrow2::bench::UsableVolume(volumes);
    if (!volume) {
        std::fprintf(stderr, "no volume to count on: %s\n",
                     volumes.All().front().skipReason.c_str());
        return 1;
    }
    quarrow2::bench::RegisterAllocationCounts(*volume);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
