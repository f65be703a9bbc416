// Times an operation of the library and the raw system calls that do the same job in turns,
// within one run, so that both meet the same machine: the same caches, the same load from
// other processes at the same moment.
//
// The iterations run in blocks of K calls of the library's step (K chosen so that a block
// takes some 20 µs or more; 1 for slow steps), and each block is paired with K calls of the
// raw step, run just before or just after it, in alternating order. Each block is timed as a
// whole, twice: with the calling thread's CPU clock (user and kernel time, every system call
// included, but not the time spent waiting for a core that other processes hold) and with
// the steady wall clock. The clock reads cost about 0.2 µs per block, under 1 % of it.
//
// The benchmark's time (manual time) is the library's CPU time per call. Counters, from the
// very same blocks:
//   raw_ns        the raw step's CPU time per call,
//   ratio_vs_raw  the library's total CPU time / the raw step's total CPU time,
//   wall_ns, raw_wall_ns  the same two by the wall clock, which on a loaded machine mostly
//                 measure the wait for a core.
// The CPU column that Google Benchmark prints covers both steps and is not used.
#pragma once

#include <benchmark/benchmark.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>

#include "bench/support/volumes.h"

namespace quarrow2::bench {

struct Clocks {
    double cpu = 0;   // ns of the thread's CPU time
    double wall = 0;  // ns of steady wall time

    static Clocks Now() {
        timespec cpuTime;
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpuTime);
        return Clocks{
            static_cast<double>(cpuTime.tv_sec) * 1e9 + static_cast<double>(cpuTime.tv_nsec),
            std::chrono::duration<double, std::nano>(
                std::chrono::steady_clock::now().time_since_epoch())
                .count()};
    }
    Clocks operator-(const Clocks& o) const { return Clocks{cpu - o.cpu, wall - o.wall}; }
    Clocks& operator+=(const Clocks& o) {
        cpu += o.cpu;
        wall += o.wall;
        return *this;
    }
};

// Each step is called as `bool step(std::string& why)` and returns false, saying why, when
// it failed; the benchmark then stops with that error.
template <class LibraryStep, class RawStep>
void RunPaired(benchmark::State& state, LibraryStep library, RawStep raw) {
    constexpr double kBlockNanoseconds = 20000;
    constexpr int64_t kLongestBlock = 64;
    std::string why;

    // One untimed call of each warms both up and sizes the blocks.
    const Clocks start = Clocks::Now();
    if (!library(why) || !raw(why)) return state.SkipWithError(why.c_str());
    const double onePair = std::max((Clocks::Now() - start).cpu / 2, 1.0);
    const int64_t blockCalls =
        std::clamp<int64_t>(static_cast<int64_t>(kBlockNanoseconds / onePair), 1, kLongestBlock);

    Clocks libraryTotal;
    Clocks rawTotal;
    int64_t done = 0;
    int64_t inBlock = 0;
    int64_t blockSize = 0;
    bool rawFirst = false;
    Clocks blockStart;
    auto rawBlock = [&](int64_t calls) {
        const Clocks rawStart = Clocks::Now();
        for (int64_t i = 0; i < calls; ++i)
            if (!raw(why)) return false;
        rawTotal += Clocks::Now() - rawStart;
        return true;
    };
    for (auto _ : state) {
        if (inBlock == 0) {
            blockSize = std::min<int64_t>(blockCalls, state.max_iterations - done);
            if (rawFirst && !rawBlock(blockSize)) break;
            blockStart = Clocks::Now();
        }
        if (!library(why)) break;
        ++done;
        if (++inBlock < blockSize) continue;
        const Clocks block = Clocks::Now() - blockStart;
        libraryTotal += block;
        state.SetIterationTime(block.cpu * 1e-9);
        if (!rawFirst && !rawBlock(blockSize)) break;
        rawFirst = !rawFirst;
        inBlock = 0;
    }
    if (done < state.max_iterations) return state.SkipWithError(why.c_str());
    if (done == 0 || rawTotal.cpu <= 0) return;
    const double calls = static_cast<double>(done);
    state.counters["raw_ns"] = rawTotal.cpu / calls;
    state.counters["ratio_vs_raw"] = libraryTotal.cpu / rawTotal.cpu;
    state.counters["wall_ns"] = libraryTotal.wall / calls;
    state.counters["raw_wall_ns"] = rawTotal.wall / calls;
}

// Registers `body(state)` as "<volume>/<operation>/<detail>", timed by hand in nanoseconds.
// On a volume that cannot be used, the benchmark reports the reason as its error instead.
template <class Body>
void RegisterOn(const Volume& volume, const std::string& operation, const std::string& detail,
                Body body) {
    const std::string name = volume.name + "/" + operation + "/" + detail;
    const std::string skipped =
        volume.skipReason.empty() ? std::string() : "skipped: " + volume.skipReason;
    benchmark::RegisterBenchmark(name.c_str(),
                                 [skipped, body](benchmark::State& state) {
                                     if (!skipped.empty()) {
                                         state.SkipWithError(skipped.c_str());
                                         return;
                                     }
                                     body(state);
                                 })
        ->UseManualTime()
        ->Unit(benchmark::kNanosecond);
}

// Stops `state` with "skipped: <why>": for what the volume cannot hold.
inline void Skip(benchmark::State& state, const std::string& why) {
    state.SkipWithError(("skipped: " + why).c_str());
}

}  // namespace quarrow2::bench
