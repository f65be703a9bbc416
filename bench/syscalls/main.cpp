// The driver bench/syscalls/count.py runs under `strace -f`: each item operation of the
// table the timings use (item_operations.h), library side and raw side, called CALLS times
// in a row between two marks that the trace shows, so that the calls between them, divided
// by CALLS, are the system calls of one operation. Everything else (making the file, binding
// it, opening the item, one untimed call that warms caches up) happens outside the marks.
//
// Usage: quarrow2_syscall_counts CALLS
// Prints, at the end, one JSON object per measured stretch: mark, volume, operation, size,
// side ("Quarrow2" or "raw"), calls; or the volume and size with the reason they were
// skipped. A mark is an access() of "/quarrow2-mark/N/begin" (or "end"), a path that does
// not exist, which the library never asks about.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/support/item_operations.h"
#include "bench/support/scratch_files.h"
#include "bench/support/volumes.h"

namespace quarrow2::bench {
namespace {

// What is counted: the cycle, and a get and a put on an open item, for a small value and for
// one that is larger than any guess of a small buffer.
constexpr size_t kCountedSizes[] = {16, 4096};
const char* const kCountedOperations[] = {"Open + Close",
                                          "Open + Text get + Close",
                                          "Add + Text put + Delete",
                                          "One-shot read (Text)",
                                          "Text get",
                                          "Text put",
                                          "Text get (raw: with lock check)",
                                          "Text put (raw: with byte-range lock)"};

void Mark(int stretch, const char* edge) {
    const std::string path = "/quarrow2-mark/" + std::to_string(stretch) + "/" + edge;
    (void)::access(path.c_str(), F_OK);
}

std::string Quoted(const std::string& text) {
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') quoted += '\\';
        quoted += c;
    }
    return quoted + "\"";
}

class Counter {
public:
    explicit Counter(long calls) : calls_(calls) {}

    void CountOn(const Volume& volume) {
        if (!volume.skipReason.empty()) return Skipped(volume.name, "*", "*", volume.skipReason);
        for (size_t size : kCountedSizes) {
            std::vector<ItemOperation> operations = OpenItemOperations(size);
            operations.push_back(OpenTextGetClose());
            operations.push_back(OpenClose());
            operations.push_back(OneShotRead());
            operations.push_back(AddTextPutDelete(size));
            for (const ItemOperation& operation : operations)
                if (Counted(operation.name)) CountOperation(volume, operation, size);
        }
    }

    // Printed at the end, so that nothing the driver writes falls between marks.
    void Print() const {
        for (const std::string& line : lines_) std::printf("%s\n", line.c_str());
    }

private:
    static bool Counted(const std::string& name) {
        for (const char* counted : kCountedOperations)
            if (name == counted) return true;
        return false;
    }

    void CountOperation(const Volume& volume, const ItemOperation& operation, size_t size) {
        ItemFixture fixture;
        std::string why;
        const std::string name = "count-" + std::to_string(size);
        if (!fixture.Make(volume, name, size, operation.openItem, why))
            return Skipped(volume.name, operation.name, SizeName(size), why);
        Stretch(volume, operation.name, size, "Quarrow2", operation.library, fixture);
        Stretch(volume, operation.name, size, "raw", operation.raw, fixture);
    }

    void Stretch(const Volume& volume, const std::string& operation, size_t size,
                 const std::string& side, const ItemStep& step, ItemFixture& fixture) {
        std::string why;
        const int stretch = static_cast<int>(lines_.size());
        bool done = step(fixture, why);  // warms up, outside the marks
        Mark(stretch, "begin");
        for (long i = 0; done && i < calls_; ++i) done = step(fixture, why);
        Mark(stretch, "end");
        std::string line =
            "{\"mark\": " + std::to_string(stretch) + ", \"volume\": " + Quoted(volume.name) +
            ", \"operation\": " + Quoted(operation) + ", \"size\": " + Quoted(SizeName(size)) +
            ", \"side\": " + Quoted(side) + ", \"calls\": " + std::to_string(calls_);
        if (!done) line += ", \"failed\": " + Quoted(why);
        lines_.push_back(line + "}");
    }

    void Skipped(const std::string& volume, const std::string& operation, const std::string& size,
                 const std::string& why) {
        lines_.push_back("{\"mark\": -1, \"volume\": " + Quoted(volume) +
                         ", \"operation\": " + Quoted(operation) + ", \"size\": " + Quoted(size) +
                         ", \"skipped\": " + Quoted(why) + "}");
    }

    long calls_;
    std::vector<std::string> lines_;
};

}  // namespace
}  // namespace quarrow2::bench

int main(int argc, char** argv) {
    const long calls = argc > 1 ? std::atol(argv[1]) : 0;
    if (calls <= 0) {
        std::fprintf(stderr, "usage: %s CALLS\n", argv[0]);
        return 2;
    }
    // First, while the process has one thread: the tmpfs needs a mount namespace of its own.
    quarrow2::bench::ScratchVolumes volumes;
    quarrow2::bench::Counter counter(calls);
    for (const quarrow2::bench::Volume& volume : volumes.All()) counter.CountOn(volume);
    counter.Print();
    return 0;
}
