// The five operations on an open item, each beside the system calls a program would make on
// a descriptor of its own: getxattr for the size then the value (gets), setxattr (puts),
// getxattr for the size (Length). Text get and put are also timed beside the same calls
// with the byte-range lock protocol the library must follow, so that what is left of the
// ratio is the library's own work.
#include <functional>
#include <memory>
#include <vector>

#include "bench/support/item_fixture.h"
#include "bench/support/paired_timing.h"
#include "bench/support/raw_xattr.h"
#include "bench/support/scratch_files.h"
#include "bench/timing/registration.h"

namespace quarrow2::bench {
namespace {

using Step = std::function<bool(ItemFixture&, std::string&)>;

// Runs `library` and its raw counterpart on an item of `valueBytes` bytes.
void OnOpenItem(const Volume& volume, const std::string& operation, size_t valueBytes, Step library,
                Step raw) {
    RegisterOn(volume, operation, SizeName(valueBytes), [=, &volume](benchmark::State& state) {
        ItemFixture fixture;
        std::string why;
        if (!fixture.Make(volume, "item-" + std::to_string(valueBytes), valueBytes, true, why))
            return Skip(state, why);
        RunPaired(
            state, [&](std::string& w) { return library(fixture, w); },
            [&](std::string& w) { return raw(fixture, w); });
    });
}

bool Succeeded(HRESULT hr, const char* operation, std::string& why) {
    if (FAILED(hr)) why = Failure(operation, hr);
    return SUCCEEDED(hr);
}

Step TextGet(size_t size) {
    return [size](ItemFixture& fixture, std::string& why) {
        UniqueBstr text;
        if (!Succeeded(fixture.item->get_Text(text.out()), "Text get", why)) return false;
        if (text.byte_length() != size) why = "Text get returned another length";
        return text.byte_length() == size;
    };
}

Step TextPut(size_t size) {
    auto text = std::make_shared<UniqueBstr>(TextOfBytes(PatternBytes(size)));
    return [text](ItemFixture& fixture, std::string& why) {
        return Succeeded(fixture.item->put_Text(text->get()), "Text put", why);
    };
}

Step DataGet() {
    return [](ItemFixture& fixture, std::string& why) {
        UniqueVariant data;
        return Succeeded(fixture.item->get_Data(data.out()), "Data get", why);
    };
}

Step DataPut(size_t size) {
    auto bytes = std::make_shared<UniqueVariant>();
    ByteArrayOf(PatternBytes(size), *bytes);
    return [bytes](ItemFixture& fixture, std::string& why) {
        return Succeeded(fixture.item->put_Data(*bytes->get()), "Data put", why);
    };
}

Step ItemLength(size_t size) {
    return [size](ItemFixture& fixture, std::string& why) {
        LONG length = 0;
        if (!Succeeded(fixture.item->get_Length(&length), "Length", why)) return false;
        if (static_cast<size_t>(length) != size) why = "Length returned another size";
        return static_cast<size_t>(length) == size;
    };
}

bool RawGet(ItemFixture& fixture, std::string& why) {
    static std::vector<unsigned char> buffer;
    return raw::GetValue(fixture.fd.get(), fixture.attribute, buffer, why);
}

bool RawPut(ItemFixture& fixture, std::string& why) {
    return raw::PutValue(fixture.fd.get(), fixture.attribute, fixture.value, why);
}

bool RawSize(ItemFixture& fixture, std::string& why) {
    long size = 0;
    return raw::ValueSize(fixture.fd.get(), fixture.attribute, size, why);
}

bool RawGetWithLockCheck(ItemFixture& fixture, std::string& why) {
    static std::vector<unsigned char> buffer;
    return raw::GetValueWithLockCheck(fixture.fd.get(), fixture.attribute, buffer, why);
}

bool RawPutLocked(ItemFixture& fixture, std::string& why) {
    return raw::PutValueLocked(fixture.fd.get(), fixture.attribute, fixture.value, why);
}

}  // namespace

void RegisterItemBenchmarks(const Volume& volume) {
    for (size_t size : kValueSizes) {
        OnOpenItem(volume, "Text get", size, TextGet(size), RawGet);
        OnOpenItem(volume, "Text put", size, TextPut(size), RawPut);
        OnOpenItem(volume, "Data get", size, DataGet(), RawGet);
        OnOpenItem(volume, "Data put", size, DataPut(size), RawPut);
        OnOpenItem(volume, "Length", size, ItemLength(size), RawSize);
        OnOpenItem(volume, "Text get (raw: with lock check)", size, TextGet(size),
                   RawGetWithLockCheck);
        OnOpenItem(volume, "Text put (raw: with byte-range lock)", size, TextPut(size),
                   RawPutLocked);
    }
}

}  // namespace quarrow2::bench
