// Registry entries written and removed under a key of the test's own: what the real
// registry cannot show (an empty key marked keep, a failed write).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "server/registration_script.h"
#include "server/registry_entries_win.h"
#include "support/test_support.h"

namespace quarrow2::test {
namespace {

using server::RegistryKey;

// A key under HKEY_CURRENT_USER that exists for one test and is deleted afterwards.
class ScratchKey {
public:
    ScratchKey() {
        name_ = L"Software\\Quarrow2Tests\\" + std::to_wstring(GetCurrentProcessId());
        EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, name_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, &key_, nullptr),
                  ERROR_SUCCESS);
    }
    ScratchKey(const ScratchKey&) = delete;
    ScratchKey& operator=(const ScratchKey&) = delete;
    ~ScratchKey() {
        RegCloseKey(key_);
        RegDeleteTreeW(HKEY_CURRENT_USER, name_.c_str());
    }
    HKEY get() const { return key_; }

    bool Has(const wchar_t* path) const {
        HKEY k = nullptr;
        if (RegOpenKeyExW(key_, path, 0, KEY_READ, &k) != ERROR_SUCCESS) return false;
        RegCloseKey(k);
        return true;
    }
    void Add(const wchar_t* path) const {
        HKEY k = nullptr;
        ASSERT_EQ(RegCreateKeyExW(key_, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr),
                  ERROR_SUCCESS);
        RegCloseKey(k);
    }

private:
    std::wstring name_;
    HKEY key_ = nullptr;
};

std::vector<RegistryKey> Script(const std::string& text) {
    std::vector<RegistryKey> keys;
    server::ScriptError error;
    EXPECT_TRUE(server::ParseRegistrationScript(text, W("C:\\dir\\Quarrow2.dll"), keys, error))
        << error.line << ": " << error.reason;
    return keys;
}

// Replacing and keeping what others put beside the entries: registration_test.sh shows it
// on the real registry. Here, what it cannot show there: an empty key marked keep, and a
// removal that succeeds while a foreign subkey holds its key.
TEST(RegistryEntriesTest, RemovalLeavesKeysMarkedKeepAndThoseHeldByOthers) {
    ScratchKey root;
    std::vector<RegistryKey> keys = Script("key CLSID keep\n  key {id} = \"Class\"\n");
    ASSERT_EQ(server::WriteRegistryEntries(root.get(), keys), S_OK);
    root.Add(L"CLSID\\{id}\\Foreign");
    ASSERT_EQ(server::RemoveRegistryEntries(root.get(), keys), S_OK);
    EXPECT_TRUE(root.Has(L"CLSID\\{id}\\Foreign"));
    ASSERT_EQ(RegDeleteKeyW(root.get(), L"CLSID\\{id}\\Foreign"), ERROR_SUCCESS);
    ASSERT_EQ(server::RemoveRegistryEntries(root.get(), keys), S_OK);
    EXPECT_FALSE(root.Has(L"CLSID\\{id}"));
    EXPECT_TRUE(root.Has(L"CLSID"));
    // Removing what is not there changes nothing and succeeds.
    EXPECT_EQ(server::RemoveRegistryEntries(root.get(), keys), S_OK);
}

TEST(RegistryEntriesTest, AFailedWriteStopsAndIsUndoneByRemoval) {
    ScratchKey root;
    // Key names are limited to 255 characters; the third key cannot be made.
    std::string tooLong(300, 'x');
    std::vector<RegistryKey> keys = Script(
        "key First = \"1\"\n"
        "key Second\n"
        "  value V = \"2\"\n"
        "key " +
        tooLong +
        "\n"
        "key Fourth\n");
    HRESULT hr = server::WriteRegistryEntries(root.get(), keys);
    EXPECT_TRUE(FAILED(hr));
    EXPECT_EQ(HRESULT_FACILITY(hr), FACILITY_WIN32) << std::hex << hr;
    EXPECT_TRUE(root.Has(L"Second"));
    EXPECT_FALSE(root.Has(L"Fourth")) << "writing stops at the failure";
    // Removal goes as far as the key that could not be made, which it cannot open either.
    EXPECT_EQ(server::RemoveRegistryEntries(root.get(), keys), hr);
    EXPECT_FALSE(root.Has(L"First"));
    EXPECT_FALSE(root.Has(L"Second"));
}

}  // namespace
}  // namespace quarrow2::test
