// Registry entries written and removed under a key of the test's own: what the real
// registry cannot show (an empty key marked keep, a failed write, the removal's result).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "server/registration_script.h"
#include "server/registry_entries_win.h"
#include "support/test_support.h"

namespace quarrow2::test {
namespace {

const wchar_t kRoot[] = L"Software\\Quarrow2Tests";

class RegistryEntriesTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kRoot, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                  &root_, nullptr),
                  ERROR_SUCCESS);
    }
    void TearDown() override {
        RegCloseKey(root_);
        RegDeleteTreeW(HKEY_CURRENT_USER, kRoot);
    }
    bool Has(const wchar_t* path) const {
        HKEY key = nullptr;
        if (RegOpenKeyExW(root_, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
        RegCloseKey(key);
        return true;
    }
    static std::vector<server::RegistryKey> Script(const std::string& text) {
        std::vector<server::RegistryKey> keys;
        server::ScriptError error;
        EXPECT_TRUE(server::ParseRegistrationScript(text, W("C:\\dir\\Quarrow2.dll"), keys, error))
            << error.line << ": " << error.reason;
        return keys;
    }

    HKEY root_ = nullptr;
};

TEST_F(RegistryEntriesTest, RemovalLeavesKeysMarkedKeepAndThoseHeldByOthers) {
    const auto keys = Script("key CLSID keep\n  key {id} = \"Class\"\n");
    ASSERT_EQ(server::WriteRegistryEntries(root_, keys), S_OK);
    ASSERT_EQ(RegSetKeyValueW(root_, L"CLSID\\{id}\\Foreign", nullptr, REG_SZ, L"", 2),
              ERROR_SUCCESS);
    ASSERT_EQ(server::RemoveRegistryEntries(root_, keys), S_OK);
    EXPECT_TRUE(Has(L"CLSID\\{id}\\Foreign"));
    ASSERT_EQ(RegDeleteKeyW(root_, L"CLSID\\{id}\\Foreign"), ERROR_SUCCESS);
    ASSERT_EQ(server::RemoveRegistryEntries(root_, keys), S_OK);
    EXPECT_FALSE(Has(L"CLSID\\{id}"));
    EXPECT_TRUE(Has(L"CLSID"));
    EXPECT_EQ(server::RemoveRegistryEntries(root_, keys), S_OK) << "nothing left to remove";
}

TEST_F(RegistryEntriesTest, AFailedWriteStopsAndIsUndoneByRemoval) {
    // Key names are limited to 255 characters; the third key cannot be made.
    const auto keys = Script("key First = \"1\"\nkey Second\n  value V = \"2\"\nkey " +
                             std::string(300, 'x') + "\nkey Fourth\n");
    const HRESULT hr = server::WriteRegistryEntries(root_, keys);
    EXPECT_TRUE(FAILED(hr));
    EXPECT_EQ(HRESULT_FACILITY(hr), FACILITY_WIN32) << std::hex << hr;
    EXPECT_TRUE(Has(L"Second"));
    EXPECT_FALSE(Has(L"Fourth")) << "writing stops at the failure";
    // Removal goes as far as the key that could not be made, which it cannot open either.
    EXPECT_EQ(server::RemoveRegistryEntries(root_, keys), hr);
    EXPECT_FALSE(Has(L"First"));
    EXPECT_FALSE(Has(L"Second"));
}

}  // namespace
}  // namespace quarrow2::test
