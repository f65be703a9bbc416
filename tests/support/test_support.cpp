#include "support/test_support.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <iterator>

#include <utf8.h>

namespace quarrow2::test {

// Lenient both ways, as diagnostics need: a lone surrogate (which a test may pass on purpose)
// goes through as its own three bytes and back, instead of stopping the test.
WString W(const std::string& utf8) {
    WString out;
    utf8::unchecked::utf8to16(utf8.begin(), utf8.end(), std::back_inserter(out));
    return out;
}

std::string Narrow(const WCHAR* s, size_t n) {
    const auto unit = [s](size_t k) { return static_cast<uint32_t>(static_cast<uint16_t>(s[k])); };
    std::string out;
    for (size_t i = 0; i < n; ++i) {
        uint32_t cp = unit(i);
        if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < n && unit(i + 1) >= 0xDC00 &&
            unit(i + 1) < 0xE000)
            cp = 0x10000 + ((cp - 0xD800) << 10) + (unit(++i) - 0xDC00);
        utf8::unchecked::append(cp, std::back_inserter(out));
    }
    return out;
}

std::string Narrow(const WString& s) { return Narrow(s.data(), s.size()); }
std::string Narrow(BSTR s) { return s ? Narrow(s, SysStringLen(s)) : std::string(); }

UniqueBstr Bstr(const std::string& utf8) {
    WString w = W(utf8);
    return UniqueBstr(SysAllocStringLen(w.data(), static_cast<UINT>(w.size())));
}

WString PathW(const std::filesystem::path& p) {
    const std::u16string u = p.u16string();
    return WString(u.begin(), u.end());
}

WString SystemText(DWORD code) {
    LPWSTR buffer = nullptr;
    DWORD n = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM,
        nullptr, code, 0x0400, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
    const WString text = n && buffer ? WString(buffer, n) : WString();
    LocalFree(buffer);
    return text;
}

TempDir::TempDir() {
    static std::atomic<unsigned> counter{0};
    auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    do {
        path_ = std::filesystem::temp_directory_path() /
                ("quarrow2-test-" + std::to_string(stamp) + "-" + std::to_string(counter++));
    } while (!std::filesystem::create_directory(path_));
}

TempDir::~TempDir() {
    // One pass, deepest entries first, ignoring what cannot go: under Wine a file whose
    // name holds a colon (the named-stream form "F:T") cannot be removed by the name the
    // folder listing gives, and remove_all would retry it for ever.
    std::error_code ec;
    std::vector<std::filesystem::path> entries;
    for (std::filesystem::recursive_directory_iterator it(path_, ec), end; !ec && it != end;
         it.increment(ec))
        entries.push_back(it->path());
    for (auto e = entries.rbegin(); e != entries.rend(); ++e) {
        std::filesystem::remove(*e, ec);
        if (ec) DeleteFileW(PathW(*e).c_str());
    }
    std::filesystem::remove(path_, ec);
}

std::string ProgIdOf(REFCLSID clsid) {
    LPOLESTR progId = nullptr;
    const std::string text =
        SUCCEEDED(ProgIDFromCLSID(clsid, &progId)) && progId ? Narrow(WString(progId)) : "";
    CoTaskMemFree(progId);
    return text;
}

RichError TakeRichError() {
    quarrow2::RichError taken = quarrow2::TakeRichError();
    return {taken.present, Narrow(taken.description.get()), Narrow(taken.source.get()), taken.guid,
            taken.code};
}

std::string WithSystemText(const std::string& message, DWORD code) {
    const WString text = code ? SystemText(code) : WString();
    return text.empty() ? message : message + " " + Narrow(text);
}

Bytes Utf16Bytes(const WString& text) {
    Bytes out;
    for (WCHAR unit : text)
        out.insert(out.end(), {static_cast<unsigned char>(unit & 0xFF),
                               static_cast<unsigned char>(unit >> 8)});
    return out;
}

const Bytes& EmptyValueMarker() {
    static const Bytes marker = Utf16Bytes(W("---***NULL***---"));
    return marker;
}

void MakeFile(const std::filesystem::path& file, const std::string& content) {
    std::ofstream(file, std::ios::binary | std::ios::trunc) << content;
}

std::string FileContent(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace quarrow2::test
