#include "bench/support/item_operations.h"

#include <sys/xattr.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "bench/support/raw_xattr.h"
#include "bench/support/scratch_files.h"

namespace quarrow2::bench {
namespace {

bool Succeeded(HRESULT hr, const char* operation, std::string& why) {
    if (FAILED(hr)) why = Failure(operation, hr);
    return SUCCEEDED(hr);
}

ItemStep TextGet(size_t size) {
    return [size](ItemFixture& fixture, std::string& why) {
        UniqueBstr text;
        if (!Succeeded(fixture.item->get_Text(text.out()), "Text get", why)) return false;
        if (text.byte_length() != size) why = "Text get returned another length";
        return text.byte_length() == size;
    };
}

ItemStep TextPut(size_t size) {
    auto text = std::make_shared<UniqueBstr>(TextOfBytes(PatternBytes(size)));
    return [text](ItemFixture& fixture, std::string& why) {
        return Succeeded(fixture.item->put_Text(text->get()), "Text put", why);
    };
}

ItemStep DataGet() {
    return [](ItemFixture& fixture, std::string& why) {
        UniqueVariant data;
        return Succeeded(fixture.item->get_Data(data.out()), "Data get", why);
    };
}

ItemStep DataPut(size_t size) {
    auto bytes = std::make_shared<UniqueVariant>();
    const std::string pattern = PatternBytes(size);
    PutByteArray(pattern.data(), pattern.size(), *bytes);
    return [bytes](ItemFixture& fixture, std::string& why) {
        return Succeeded(fixture.item->put_Data(*bytes->get()), "Data put", why);
    };
}

ItemStep ItemLength(size_t size) {
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
    return raw::GetValueWithLockCheck(fixture.fd.get(), fixture.lockFd.get(), fixture.attribute,
                                      buffer, why);
}

bool RawPutLocked(ItemFixture& fixture, std::string& why) {
    return raw::PutValueLocked(fixture.fd.get(), fixture.lockFd.get(), fixture.attribute,
                               fixture.value, why);
}

}  // namespace

std::vector<ItemOperation> OpenItemOperations(size_t size) {
    return {{"Text get", true, TextGet(size), RawGet},
            {"Text put", true, TextPut(size), RawPut},
            {"Data get", true, DataGet(), RawGet},
            {"Data put", true, DataPut(size), RawPut},
            {"Length", true, ItemLength(size), RawSize},
            {"Text get (raw: with lock check)", true, TextGet(size), RawGetWithLockCheck},
            {"Text put (raw: with byte-range lock)", true, TextPut(size), RawPutLocked}};
}

ItemOperation OpenTextGetClose() {
    auto buffer = std::make_shared<std::vector<unsigned char>>();
    return {"Open + Text get + Close", false,
            [](ItemFixture& fixture, std::string& why) {
                ComPtr<IMetaData> item;
                if (!Succeeded(fixture.file->Open(fixture.wideType.get(), item.out()), "Open", why))
                    return false;
                UniqueBstr text;
                if (!Succeeded(item->get_Text(text.out()), "Text get", why)) return false;
                item->Close();
                return true;
            },
            [buffer](ItemFixture& fixture, std::string& why) {
                return raw::GetValueByPath(fixture.path, fixture.attribute, *buffer, why);
            }};
}

ItemOperation OneShotRead() {
    auto buffer = std::make_shared<std::vector<unsigned char>>();
    return {"One-shot read (Text)", false,
            [](ItemFixture& fixture, std::string& why) {
                ComPtr<IFile2> file;
                if (!Succeeded(fixture.file->QueryInterface(IID_IFile2, file.out_void()),
                               "QueryInterface", why))
                    return false;
                UniqueBstr text;
                return Succeeded(file->ReadText(fixture.wideType.get(), text.out()), "ReadText",
                                 why);
            },
            [buffer](ItemFixture& fixture, std::string& why) {
                return raw::ReadValueOnce(fixture.path, fixture.attribute, *buffer, why);
            }};
}

// The stored form of an empty value, which every new item holds from its creation.
const std::string& EmptyValueMarker() {
    static const std::string marker = [] {
        std::string bytes;
        for (char c : std::string("---***NULL***---")) bytes += {c, '\0'};
        return bytes;
    }();
    return marker;
}

ItemOperation AddTextPutDelete(size_t size) {
    auto text = std::make_shared<UniqueBstr>(TextOfBytes(PatternBytes(size)));
    auto type = std::make_shared<UniqueBstr>(Utf16("Cycle"));
    return {"Add + Text put + Delete", false,
            [text, type](ItemFixture& fixture, std::string& why) {
                ComPtr<IMetaData> item;
                return Succeeded(fixture.file->Add(type->get(), item.out()), "Add", why) &&
                       Succeeded(item->put_Text(text->get()), "Text put", why) &&
                       Succeeded(item->Delete(), "Delete", why);
            },
            [attribute = AttributeOf("Cycle")](ItemFixture& fixture, std::string& why) {
                return raw::CreatePutRemove(fixture.path, attribute, EmptyValueMarker(),
                                            fixture.value, why);
            }};
}

ItemOperation OpenClose() {
    return {"Open + Close", false,
            [](ItemFixture& fixture, std::string& why) {
                ComPtr<IMetaData> item;
                if (!Succeeded(fixture.file->Open(fixture.wideType.get(), item.out()), "Open", why))
                    return false;
                item->Close();
                return true;
            },
            [](ItemFixture& fixture, std::string& why) {
                if (::getxattr(fixture.path.c_str(), fixture.attribute.c_str(), nullptr, 0) >= 0)
                    return true;
                why = std::string("getxattr (size): ") + std::strerror(errno);
                return false;
            }};
}

}  // namespace quarrow2::bench
