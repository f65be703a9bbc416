// The five operations on an open item, each beside the system calls a program would make on
// a descriptor of its own: getxattr for the size then the value (gets), setxattr (puts),
// getxattr for the size (Length). Text get and put are also timed beside the same calls
// with the byte-range lock calls a lock held among processes needs, so that what is left
// of the ratio is the library's own work.
#include "bench/support/item_operations.h"
#include "bench/support/paired_timing.h"
#include "bench/support/scratch_files.h"
#include "bench/timing/registration.h"

namespace quarrow2::bench {
namespace {

// Runs the operation's library step and its raw counterpart on an item of `valueBytes` bytes.
void OnOpenItem(const Volume& volume, const ItemOperation& operation, size_t valueBytes) {
    RegisterOn(volume, operation.name, SizeName(valueBytes), [=, &volume](benchmark::State& state) {
        ItemFixture fixture;
        std::string why;
        if (!fixture.Make(volume, "item-" + std::to_string(valueBytes), valueBytes,
                          operation.openItem, why))
            return Skip(state, why);
        RunPaired(
            state, [&](std::string& w) { return operation.library(fixture, w); },
            [&](std::string& w) { return operation.raw(fixture, w); });
    });
}

}  // namespace

void RegisterItemBenchmarks(const Volume& volume) {
    for (size_t size : kValueSizes)
        for (const ItemOperation& operation : OpenItemOperations(size))
            OnOpenItem(volume, operation, size);
}

}  // namespace quarrow2::bench
