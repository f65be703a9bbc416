// Registration scripts: the registry entries of one class, as the library file carries
// them (resources of type "REGISTRY"), read into a tree of keys.
//
// The format, one entry per line, two spaces of indentation per level of nesting:
//
//     # a comment
//     key NAME [= "DATA"] [replace | keep]    a key, its default value, its removal rule
//     value NAME = "DATA"                     a named string value of the key above
//
// NAME is a bare word (printable, no blank, '"', '=' or '\') or a quoted string. DATA is a
// quoted string; a doubled quote stands for one quote, and %MODULE% stands for the full
// path of the library file. The rule says what unregistration and registration do with
// the key: none, delete it when nothing foreign is left under it; replace, in addition
// delete it with all beneath before registering afresh; keep, never delete it. Only
// printable ASCII, blanks and line ends are allowed anywhere in a script.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/owners.h"

namespace quarrow2::server {

enum class RemovalRule { Ordinary, Replace, Keep };

struct RegistryValue {
    WString name;
    WString data;
};

struct RegistryKey {
    WString name;
    bool hasDefault = false;
    WString defaultData;
    RemovalRule removal = RemovalRule::Ordinary;
    std::vector<RegistryValue> values;
    std::vector<RegistryKey> subkeys;
};

// Why a script was refused, and on which line (counted from 1).
struct ScriptError {
    size_t line = 0;
    std::string reason;
};

// Deepest nesting a script may have, keys and values together.
constexpr size_t kMaxScriptDepth = 16;

// Reads a whole script; %MODULE% in data becomes modulePath. On failure `keys` is left
// empty and `error` says why.
bool ParseRegistrationScript(std::string_view text, const WString& modulePath,
                             std::vector<RegistryKey>& keys, ScriptError& error);

}  // namespace quarrow2::server
