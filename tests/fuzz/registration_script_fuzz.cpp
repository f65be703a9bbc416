// libFuzzer target: the registration-script reader on arbitrary text. It must refuse with a
// line and a reason and leave no keys, or give a tree no deeper than the limit whose names
// and data hold only what a script may carry; the same text always reads the same way.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "server/registration_script.h"

namespace {

using quarrow2::WString;
using quarrow2::server::kMaxScriptDepth;
using quarrow2::server::ParseRegistrationScript;
using quarrow2::server::RegistryKey;
using quarrow2::server::ScriptError;

const WString kModule = {'C', ':', '\\', 'Q', '.', 'd', 'l', 'l'};

void Require(bool condition) {
    if (!condition) std::abort();
}

bool Printable(const WString& s) {
    for (WCHAR c : s)
        if (c < 0x20 || c > 0x7E) return false;
    return true;
}

size_t CheckTree(const std::vector<RegistryKey>& keys, size_t depth) {
    size_t entries = 0;
    for (const RegistryKey& key : keys) {
        Require(!key.name.empty() && Printable(key.name) && Printable(key.defaultData));
        Require(key.hasDefault || key.defaultData.empty());
        Require(depth + (key.values.empty() ? 0 : 1) <= kMaxScriptDepth);
        for (const auto& value : key.values)
            Require(!value.name.empty() && Printable(value.name) && Printable(value.data));
        entries += 1 + key.values.size() + CheckTree(key.subkeys, depth + 1);
    }
    return entries;
}

bool SameTree(const std::vector<RegistryKey>& a, const std::vector<RegistryKey>& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].name != b[i].name || a[i].hasDefault != b[i].hasDefault ||
            a[i].defaultData != b[i].defaultData || a[i].removal != b[i].removal ||
            a[i].values.size() != b[i].values.size() || !SameTree(a[i].subkeys, b[i].subkeys))
            return false;
        for (size_t v = 0; v < a[i].values.size(); ++v)
            if (a[i].values[v].name != b[i].values[v].name ||
                a[i].values[v].data != b[i].values[v].data)
                return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    size_t lines = 1;
    for (char c : text) lines += c == '\n';

    std::vector<RegistryKey> keys;
    ScriptError error;
    const bool read = ParseRegistrationScript(text, kModule, keys, error);
    if (!read) {
        Require(keys.empty() && !error.reason.empty());
        Require(error.line >= 1 && error.line <= lines);
    } else {
        Require(error.reason.empty());
        CheckTree(keys, 1);
    }

    std::vector<RegistryKey> again;
    ScriptError secondError;
    Require(ParseRegistrationScript(text, kModule, again, secondError) == read);
    Require(SameTree(keys, again) && secondError.line == error.line &&
            secondError.reason == error.reason);
    return 0;
}
