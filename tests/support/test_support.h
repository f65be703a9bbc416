// Helpers shared by the test suites: temporary folders, UTF-16 strings and system texts.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "platform/owners.h"
#include "platform/platform.h"

namespace quarrow2::test {

namespace fs = std::filesystem;

// UTF-16 from UTF-8 (tests spell their strings in UTF-8) and back, for messages and names.
WString W(const std::string& utf8);
std::string Narrow(const WCHAR* s, size_t n);
std::string Narrow(const WString& s);
std::string Narrow(BSTR s);
UniqueBstr Bstr(const std::string& utf8);
// A path as the platform's API takes it.
WString PathW(const fs::path& p);

// The system's text for an error code, as FormatMessageW gives it; a message followed by
// that text, as failure reports compose it.
WString SystemText(DWORD code);
std::string WithSystemText(const std::string& message, DWORD code);

// A text value as stored (its UTF-16LE units), and what an empty value is stored as.
using Bytes = std::vector<unsigned char>;
Bytes Utf16Bytes(const WString& text);
const Bytes& EmptyValueMarker();

void MakeFile(const fs::path& file, const std::string& content = std::string());
std::string FileContent(const fs::path& file);

// A fresh folder, removed with everything in it at the end of the scope.
class TempDir {
public:
    TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir();
    const fs::path& path() const { return path_; }
    fs::path operator/(const std::string& name) const { return path_ / name; }

private:
    fs::path path_;
};

// The ProgID the class registry gives for the class, which rich errors name as their
// source; empty where the class is not registered (Wine before DllRegisterServer).
std::string ProgIdOf(REFCLSID clsid);

// The calling thread's rich error, taken (and so cleared), in UTF-8, with the Windows code
// the failed call left as the thread's last error.
struct RichError {
    bool present = false;
    std::string description;
    std::string source;
    GUID guid{};
    DWORD code = 0;
};
RichError TakeRichError();

}  // namespace quarrow2::test
