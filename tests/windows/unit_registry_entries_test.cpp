// Registry entries written and removed under a key of the test's own, with the rules the
// registration scripts rely on: replace, keep, foreign subkeys, and a failed write.
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
    std::wstring Value(const wchar_t* path, const wchar_t* name = nullptr) const {
        wchar_t data[512] = {};
        DWORD size = sizeof(data);
        if (RegGetValueW(key_, path, name, RRF_RT_REG_SZ, nullptr, data, &size) != ERROR_SUCCESS)
            return L"<none>";
        return data;
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

const char kClassScript[] =
    "key Prog.1 = \"Class\"\n"
    "  key CLSID = \"{id}\"\n"
    "key CLSID keep\n"
    "  key {id} = \"Class\" replace\n"
    "    key Programmable replace\n"
    "    key InprocServer32 = \"%MODULE%\"\n"
    "      value ThreadingModel = \"Both\"\n";

TEST(RegistryEntriesTest, WriteReplaceAndRemove) {
    ScratchKey root;
    std::vector<RegistryKey> keys = Script(kClassScript);
    ASSERT_EQ(server::WriteRegistryEntries(root.get(), keys), S_OK);
    EXPECT_EQ(root.Value(L"Prog.1"), L"Class");
    EXPECT_EQ(root.Value(L"Prog.1\\CLSID"), L"{id}");
    EXPECT_EQ(root.Value(L"CLSID\\{id}\\InprocServer32"), L"C:\\dir\\Quarrow2.dll");
    EXPECT_EQ(root.Value(L"CLSID\\{id}\\InprocServer32", L"ThreadingModel"), L"Both");
    EXPECT_TRUE(root.Has(L"CLSID\\{id}\\Programmable"));

    // A key marked replace loses what others put under it; an ordinary one keeps it.
    root.Add(L"CLSID\\{id}\\Stale");
    root.Add(L"Prog.1\\Foreign");
    root.Add(L"CLSID\\Other");
    ASSERT_EQ(server::WriteRegistryEntries(root.get(), keys), S_OK);
    EXPECT_FALSE(root.Has(L"CLSID\\{id}\\Stale"));
    EXPECT_TRUE(root.Has(L"Prog.1\\Foreign"));
    EXPECT_TRUE(root.Has(L"CLSID\\Other"));

    // Removal: a foreign subkey holds its key; a key marked keep always stays.
    ASSERT_EQ(server::RemoveRegistryEntries(root.get(), keys), S_OK);
    EXPECT_TRUE(root.Has(L"Prog.1\\Foreign"));
    EXPECT_FALSE(root.Has(L"Prog.1\\CLSID"));
    EXPECT_FALSE(root.Has(L"CLSID\\{id}"));
    EXPECT_TRUE(root.Has(L"CLSID\\Other"));
    ASSERT_EQ(RegDeleteKeyW(root.get(), L"CLSID\\Other"), ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteKeyW(root.get(), L"Prog.1\\Foreign"), ERROR_SUCCESS);
    ASSERT_EQ(server::RemoveRegistryEntries(root.get(), keys), S_OK);
    EXPECT_FALSE(root.Has(L"Prog.1"));
    EXPECT_TRUE(root.Has(L"CLSID")) << "a key marked keep is never deleted";

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
