// The timed benchmarks: every operation of the library beside the raw system calls that do
// the same job, on a private tmpfs and on the machine's ext4.
#include <benchmark/benchmark.h>

#include <cstdio>

#include "bench/support/volumes.h"
#include "bench/timing/registration.h"

int main(int argc, char** argv) {
    // First, while the process has one thread: the tmpfs needs a mount namespace of its own.
    quarrow2::bench::ScratchVolumes volumes;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    for (const quarrow2::bench::Volume& volume : volumes.All()) {
        if (!volume.skipReason.empty())
            std::fprintf(stderr, "%s: skipped, %s\n", volume.name.c_str(),
                         volume.skipReason.c_str());
        quarrow2::bench::RegisterItemBenchmarks(volume);
        quarrow2::bench::RegisterCycleBenchmarks(volume);
        quarrow2::bench::RegisterWalkBenchmarks(volume);
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
