// Helpers shared by the test suites: temporary folders, UTF-16 strings and system texts.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "platform/owners.h"
#include "platform/platform.h"

namespace quarrow2::test {

namespace fs = std::filesystem;

// UTF-16 from UTF-8 (tests spell their strings in UTF-8).
WString W(const std::string& utf8);
// UTF-8 from UTF-16, for messages and file names.
std::string Narrow(const WCHAR* s, size_t n);
std::string Narrow(const WString& s);
std::string Narrow(BSTR s);

// A new automation string holding the UTF-8 text.
UniqueBstr Bstr(const std::string& utf8);

// A path as the platform's API takes it.
WString PathW(const std::filesystem::path& p);

// The system's message text for an error code, exactly as FormatMessageW gives it.
WString SystemText(DWORD code);
// A message followed by the system's text for `code`, as failure reports compose it.
std::string WithSystemText(const std::string& message, DWORD code);

using Bytes = std::vector<unsigned char>;
// The stored form of a text value: its UTF-16LE units; and what an empty value is stored as.
Bytes Utf16Bytes(const WString& text);
const Bytes& EmptyValueMarker();

// A file's whole content, written and read back.
void MakeFile(const std::filesystem::path& file, const std::string& content = std::string());
std::string FileContent(const std::filesystem::path& file);

// A fresh folder, removed with everything in it at the end of the scope.
class TempDir {
public:
    TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir();
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

// The ProgID the class registry gives for the class, which rich errors name as their
// source; empty where the class is not registered (Wine before DllRegisterServer).
std::string ProgIdOf(REFCLSID clsid);

// The calling thread's rich error, taken (and so cleared), in UTF-8.
struct RichError {
    bool present = false;
    std::string description;
    std::string source;
    GUID guid{};
};
RichError TakeRichError();

}  // namespace quarrow2::test
