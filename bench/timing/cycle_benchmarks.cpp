// What a script does per file: open an item, read it and let it go; add an item, write it and
// delete it; bind a File and list its types. Each beside the system calls that do the same
// job by path, as a program without handles would make them.
#include <vector>

#include "bench/timing/registration.h"

#include "bench/support/item_fixture.h"
#include "bench/support/item_operations.h"
#include "bench/support/paired_timing.h"
#include "bench/support/raw_xattr.h"
#include "bench/support/scratch_files.h"

namespace quarrow2::bench {
namespace {

template <class Body>
void OnItemFile(const Volume& volume, const std::string& operation, size_t valueBytes, Body body) {
    RegisterOn(volume, operation, SizeName(valueBytes), [=, &volume](benchmark::State& state) {
        ItemFixture fixture;
        std::string why;
        if (!fixture.Make(volume, "cycle-" + std::to_string(valueBytes), valueBytes, false, why))
            return Skip(state, why);
        body(state, fixture);
    });
}

// Open + Text get + Close: the steps whose system calls bench/syscalls counts.
void OpenGetClose(benchmark::State& state, ItemFixture& fixture) {
    const ItemOperation cycle = OpenTextGetClose();
    RunPaired(
        state, [&](std::string& why) { return cycle.library(fixture, why); },
        [&](std::string& why) { return cycle.raw(fixture, why); });
}

// IFile2's one-shot read, the steps bench/syscalls counts.
void OneShot(benchmark::State& state, ItemFixture& fixture) {
    const ItemOperation read = OneShotRead();
    RunPaired(
        state, [&](std::string& why) { return read.library(fixture, why); },
        [&](std::string& why) { return read.raw(fixture, why); });
}

// Add + Text put + Delete, the steps bench/syscalls counts.
void AddPutDelete(benchmark::State& state, ItemFixture& fixture) {
    const ItemOperation cycle = AddTextPutDelete(fixture.value.size());
    RunPaired(
        state, [&](std::string& why) { return cycle.library(fixture, why); },
        [&](std::string& why) { return cycle.raw(fixture, why); });
}

void SetFileTypesRelease(benchmark::State& state, ItemFixture& fixture) {
    UniqueBstr path = Utf16(fixture.path);
    std::vector<char> names;
    RunPaired(
        state,
        [&](std::string& why) {
            VARIANT_BOOL streams = VARIANT_FALSE;
            HRESULT hr = fixture.file->SetFile(path.get(), &streams);
            if (FAILED(hr)) return why = Failure("SetFile", hr), false;
            ComPtr<IStrings> types;
            hr = fixture.file->get_Types(types.out());
            if (FAILED(hr)) return why = Failure("Types", hr), false;
            return true;
        },
        [&](std::string& why) {
            size_t count = 0;
            long total = 0;
            return raw::ListWithSizes(fixture.path, names, count, total, why);
        });
}

}  // namespace

void RegisterCycleBenchmarks(const Volume& volume) {
    for (size_t size : kValueSizes) {
        OnItemFile(volume, "Open + Text get + Close", size, OpenGetClose);
        OnItemFile(volume, "One-shot read (Text)", size, OneShot);
        OnItemFile(volume, "Add + Text put + Delete", size, AddPutDelete);
        OnItemFile(volume, "SetFile + Types + release", size, SetFileTypesRelease);
    }
}

}  // namespace quarrow2::bench
