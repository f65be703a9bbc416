// Counts the heap blocks the process asks for while counting is on: malloc, calloc, realloc
// and the aligned forms are replaced in this program (operator new ends in malloc), so the
// library's own requests are counted too.
#pragma once

#include <cstdint>

namespace quarrow2::bench {

struct AllocationCount {
    uint64_t blocks = 0;
    uint64_t bytes = 0;
};

void StartCountingAllocations();
AllocationCount StopCountingAllocations();

}  // namespace quarrow2::bench
