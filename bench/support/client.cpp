#include "bench/support/client.h"

#include <cstdio>

#include "quarrow2/names.h"

namespace quarrow2::bench {

ComPtr<IFile> BoundFile(const std::string& path, std::string& why) {
    ComPtr<IFile> file;
    MakeStep failed;
    HRESULT hr = MakeFile(DllGetClassObject, IID_IFile, file, &failed);
    if (FAILED(hr)) {
        why =
            Failure(failed == MakeStep::kClassObject ? "DllGetClassObject" : "CreateInstance", hr);
        return ComPtr<IFile>();
    }
    UniqueBstr widePath = Utf16(path);
    VARIANT_BOOL streams = VARIANT_FALSE;
    hr = file->SetFile(widePath.get(), &streams);
    if (FAILED(hr)) {
        why = Failure("SetFile", hr);
        return ComPtr<IFile>();
    }
    if (streams != VARIANT_TRUE) {
        why = "the library finds no named streams on the volume of " + path;
        return ComPtr<IFile>();
    }
    return file;
}

UniqueBstr Utf16(const std::string& bytes) {
    const WString units = NameUtf16FromBytes(bytes.data(), bytes.size());
    return UniqueBstr(SysAllocStringLen(units.data(), static_cast<UINT>(units.size())));
}

UniqueBstr TextOfBytes(const std::string& bytes) {
    return UniqueBstr(SysAllocStringByteLen(bytes.data(), static_cast<UINT>(bytes.size())));
}

std::string Failure(const std::string& what, HRESULT hr) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(hr));
    std::string message = what + " failed with " + code;
    const RichError error = TakeRichError();
    if (error.present && error.description.get()) {
        const OLECHAR* description = error.description.get();
        std::string text;
        message += NameBytesFromUtf16(description, error.description.length(), text)
                       ? ": " + text
                       : ": (a description that is not valid UTF-16)";
    }
    return message;
}

}  // namespace quarrow2::bench
