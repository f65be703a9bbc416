#include "support/test_support.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

namespace quarrow2::test {

WString W(const std::string& utf8) {
    WString out;
    for (size_t i = 0; i < utf8.size();) {
        unsigned char c = static_cast<unsigned char>(utf8[i]);
        uint32_t cp;
        size_t n;
        if (c < 0x80) {
            cp = c;
            n = 1;
        } else if ((c >> 5) == 6) {
            cp = c & 0x1F;
            n = 2;
        } else if ((c >> 4) == 14) {
            cp = c & 0x0F;
            n = 3;
        } else {
            cp = c & 0x07;
            n = 4;
        }
        for (size_t k = 1; k < n && i + k < utf8.size(); ++k)
            cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        i += n;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<WCHAR>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<WCHAR>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<WCHAR>(cp));
        }
    }
    return out;
}

std::string Narrow(const WCHAR* s, size_t n) {
    std::string out;
    for (size_t i = 0; i < n; ++i) {
        uint32_t cp = static_cast<uint16_t>(s[i]);
        if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < n && static_cast<uint16_t>(s[i + 1]) >= 0xDC00 &&
            static_cast<uint16_t>(s[i + 1]) < 0xE000) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (static_cast<uint16_t>(s[i + 1]) - 0xDC00);
            ++i;
        }
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
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
    std::u16string u = p.u16string();
    return WString(u.begin(), u.end());
}

WString SystemText(DWORD code) {
    LPWSTR buffer = nullptr;
    DWORD n = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM,
        nullptr, code, 0x0400, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
    WString text = n && buffer ? WString(buffer, n) : WString();
    if (buffer) LocalFree(buffer);
    return text;
}

TempDir::TempDir() {
    static std::atomic<unsigned> counter{0};
    auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    for (;;) {
        path_ = std::filesystem::temp_directory_path() /
                ("quarrow2-test-" + std::to_string(stamp) + "-" + std::to_string(counter++));
        if (std::filesystem::create_directory(path_)) break;
    }
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
    if (FAILED(ProgIDFromCLSID(clsid, &progId)) || !progId) return std::string();
    std::string text = Narrow(WString(progId));
    CoTaskMemFree(progId);
    return text;
}

RichError TakeRichError() {
    quarrow2::RichError taken = quarrow2::TakeRichError();
    RichError r;
    r.present = taken.present;
    r.description = Narrow(taken.description.get());
    r.source = Narrow(taken.source.get());
    r.guid = taken.guid;
    return r;
}

std::string WithSystemText(const std::string& message, DWORD code) {
    const WString text = code ? SystemText(code) : WString();
    return text.empty() ? message : message + " " + Narrow(text);
}

Bytes Utf16Bytes(const WString& text) {
    Bytes out;
    for (WCHAR unit : text) {
        out.push_back(static_cast<unsigned char>(static_cast<uint16_t>(unit) & 0xFF));
        out.push_back(static_cast<unsigned char>(static_cast<uint16_t>(unit) >> 8));
    }
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
