// The groups of timed benchmarks; each registers its benchmarks for one volume.
#pragma once

#include "bench/support/volumes.h"

namespace quarrow2::bench {

// Text and Data get and put, and Length, on an open item, for every value size.
void RegisterItemBenchmarks(const Volume& volume);

// Open + Text get + Close; Add + Text put + Delete; SetFile + Types + release.
void RegisterCycleBenchmarks(const Volume& volume);

// Types and Length of files with 1 to 1,000 items, values of every size, and a main stream
// of 0 bytes or 100 MiB.
void RegisterWalkBenchmarks(const Volume& volume);

}  // namespace quarrow2::bench
