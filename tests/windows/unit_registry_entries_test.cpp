// Under a key of the test's own, what the real registry round trip of the client tests
// cannot show: a write that fails part way, and an emptied key marked keep.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "server/registration_script.h"
#include "server/registry_entries_win.h"
#include "support/test_support.h"

namespace quarrow2::test {
namespace {

TEST(RegistryEntriesTest, AFailedWriteStopsAndRemovalKeepsWhatIsMarkedKeep) {
    const wchar_t kRoot[] = L"Software\\Quarrow2Tests";
    HKEY root = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kRoot, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &root, nullptr),
              ERROR_SUCCESS);
    auto has = [root](const wchar_t* path) {
        HKEY key = nullptr;
        const bool opened = RegOpenKeyExW(root, path, 0, KEY_READ, &key) == ERROR_SUCCESS;
        if (opened) RegCloseKey(key);
        return opened;
    };
    // Key names are limited to 255 characters; the third key cannot be made.
    std::vector<server::RegistryKey> keys;
    server::ScriptError error;
    ASSERT_TRUE(server::ParseRegistrationScript(
        "key CLSID keep\n  key First = \"1\"\nkey Second\n  value V = \"2\"\nkey " +
            std::string(300, 'x') + "\nkey Fourth\n",
        W("C:\\dir\\Quarrow2.dll"), keys, error));
    const HRESULT hr = server::WriteRegistryEntries(root, keys);
    EXPECT_EQ(HRESULT_FACILITY(hr), FACILITY_WIN32) << std::hex << hr;
    EXPECT_TRUE(FAILED(hr) && has(L"Second"));
    EXPECT_FALSE(has(L"Fourth")) << "writing stops at the failure";
    // Removal goes as far as the key that could not be made, which it cannot open either.
    EXPECT_EQ(server::RemoveRegistryEntries(root, keys), hr);
    EXPECT_FALSE(has(L"CLSID\\First") || has(L"Second"));
    EXPECT_TRUE(has(L"CLSID"));
    RegCloseKey(root);
    RegDeleteTreeW(HKEY_CURRENT_USER, kRoot);
}

}  // namespace
}  // namespace quarrow2::test
