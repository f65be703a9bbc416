// libFuzzer target: the registration-script reader on any text. It refuses with a line and a
// reason and no keys, or gives a tree within the depth limit of only printable names and
// data; the same text always reads the same way.
#include <algorithm>
#include <string_view>

#include "fuzz/fuzz_target.h"
#include "server/registration_script.h"

namespace {

using quarrow2::WString;
using quarrow2::server::kMaxScriptDepth;
using quarrow2::server::RegistryKey;

bool Printable(const WString& s) {
    return std::all_of(s.begin(), s.end(), [](WCHAR c) { return c >= 0x20 && c <= 0x7E; });
}

// The tree as one line a key or value, each checked on the way.
void Flatten(const std::vector<RegistryKey>& keys, size_t depth, std::vector<WString>& lines) {
    for (const RegistryKey& key : keys) {
        Require(!key.name.empty() && Printable(key.name) && Printable(key.defaultData));
        Require(key.hasDefault || key.defaultData.empty());
        Require(depth + (key.values.empty() ? 0 : 1) <= kMaxScriptDepth);
        lines.push_back(WString(depth, '>') + key.name + WCHAR(key.hasDefault ? '=' : '-') +
                        WCHAR('0' + static_cast<int>(key.removal)) + key.defaultData);
        for (const auto& value : key.values) {
            Require(!value.name.empty() && Printable(value.name) && Printable(value.data));
            lines.push_back(WString(depth, '.') + value.name + WCHAR('=') + value.data);
        }
        Flatten(key.subkeys, depth + 1, lines);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const WString module = {'C', ':', '\\', 'Q', '.', 'd', 'l', 'l'};
    const size_t lines = 1 + std::count(text.begin(), text.end(), '\n');

    std::vector<WString> trees[2];
    quarrow2::server::ScriptError errors[2];
    for (int run = 0; run < 2; ++run) {
        std::vector<RegistryKey> keys;
        const bool read =
            quarrow2::server::ParseRegistrationScript(text, module, keys, errors[run]);
        Require(read ? errors[run].reason.empty()
                     : keys.empty() && !errors[run].reason.empty() && errors[run].line >= 1 &&
                           errors[run].line <= lines);
        Flatten(keys, 1, trees[run]);
    }
    Require(trees[0] == trees[1] && errors[0].line == errors[1].line &&
            errors[0].reason == errors[1].reason);
    return 0;
}
