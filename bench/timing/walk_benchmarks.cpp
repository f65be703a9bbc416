// Types and Length of a bound File, beside the system calls that list the same items and
// size them: open, listxattr for the size then the names, one getxattr size query per item,
// close. The walk's cost must grow with the number of items alone: the files differ in the
// number of items, in the size of their values and in the size of their main stream.
#include <memory>

#include "bench/support/client.h"
#include "bench/support/paired_timing.h"
#include "bench/support/raw_xattr.h"
#include "bench/support/scratch_files.h"
#include "bench/timing/registration.h"

namespace quarrow2::bench {
namespace {

constexpr uint64_t kLargeMainStream = uint64_t{100} << 20;

struct WalkShape {
    size_t items;
    size_t valueBytes;
    uint64_t mainStreamBytes;
};

// The shapes walked: the count grows with small values; the values grow at a fixed count;
// the main stream grows at a fixed count.
const WalkShape kShapes[] = {
    {1, 16, 0},
    {10, 16, 0},
    {100, 16, 0},
    {1000, 16, 0},
    {1, 1024, 0},
    {1, 4096, 0},
    {1, 60 * 1024, 0},
    {10, 1024, 0},
    {10, 4096, 0},
    {10, 60 * 1024, 0},
    {10, 16, kLargeMainStream},
};

std::string Describe(const WalkShape& shape) {
    std::string text = std::to_string(shape.items) +
                       (shape.items == 1 ? " item of " : " items of ") + SizeName(shape.valueBytes);
    if (shape.mainStreamBytes) text += ", main stream " + SizeName(shape.mainStreamBytes);
    return text;
}

// One file of a shape, made when the first of its benchmarks runs and shared by both.
class WalkFile {
public:
    WalkFile(const Volume& volume, const WalkShape& shape) : volume_(volume), shape_(shape) {}

    // The path, or empty with `why` when the volume cannot hold the shape.
    const std::string& Path(std::string& why) {
        if (!made_) {
            made_ = true;
            const std::string path = volume_.folder + "/walk-" + std::to_string(shape_.items) +
                                     "-" + std::to_string(shape_.valueBytes) + "-" +
                                     std::to_string(shape_.mainStreamBytes);
            if (MakeFile(path, shape_.mainStreamBytes, why_) &&
                AddNumberedItems(path, shape_.items, shape_.valueBytes, why_)) {
                path_ = path;
            }
        }
        why = why_;
        return path_;
    }

private:
    const Volume& volume_;
    WalkShape shape_;
    bool made_ = false;
    std::string path_;
    std::string why_;
};

// Runs `library(file)` beside the raw listing with sizes, and checks that both see the
// shape's items.
template <class LibraryStep>
void Walk(benchmark::State& state, WalkFile& walkFile, const WalkShape& shape,
          LibraryStep library) {
    std::string why;
    const std::string& path = walkFile.Path(why);
    if (path.empty()) return Skip(state, why);
    ComPtr<IFile> file = BoundFile(path, why);
    if (!file) return Skip(state, why);
    std::vector<char> names;
    RunPaired(
        state, [&](std::string& w) { return library(*file.get(), w); },
        [&](std::string& w) {
            size_t count = 0;
            long total = 0;
            if (!raw::ListWithSizes(path, names, count, total, w)) return false;
            if (count != shape.items) w = "the raw listing found another number of items";
            return count == shape.items;
        });
    state.counters["items"] = static_cast<double>(shape.items);
    if (shape.mainStreamBytes)
        state.counters["main_stream_allocated_MiB"] =
            static_cast<double>(AllocatedBytes(path)) / static_cast<double>(1 << 20);
}

}  // namespace

void RegisterWalkBenchmarks(const Volume& volume) {
    for (const WalkShape& shape : kShapes) {
        auto walkFile = std::make_shared<WalkFile>(volume, shape);
        RegisterOn(volume, "Types", Describe(shape), [walkFile, shape](benchmark::State& state) {
            Walk(state, *walkFile, shape, [&shape](IFile& file, std::string& why) {
                ComPtr<IStrings> types;
                HRESULT hr = file.get_Types(types.out());
                if (FAILED(hr)) return why = Failure("Types", hr), false;
                LONG count = 0;
                types->get_Count(&count);
                if (static_cast<size_t>(count) != shape.items)
                    why = "Types found another number of items";
                return static_cast<size_t>(count) == shape.items;
            });
        });
        RegisterOn(volume, "Length", Describe(shape), [walkFile, shape](benchmark::State& state) {
            Walk(state, *walkFile, shape, [&shape](IFile& file, std::string& why) {
                LONG total = 0;
                HRESULT hr = file.get_Length(&total);
                if (FAILED(hr)) return why = Failure("Length", hr), false;
                if (static_cast<size_t>(total) != shape.items * shape.valueBytes)
                    why = "Length found another total";
                return static_cast<size_t>(total) == shape.items * shape.valueBytes;
            });
        });
    }
}

}  // namespace quarrow2::bench
