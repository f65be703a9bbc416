// Registration scripts: the tree they describe, and every way a script is refused.
#include <gtest/gtest.h>

#include <cctype>

#include "server/registration_script.h"
#include "support/test_support.h"

namespace quarrow2::test {
namespace {

// Put in for %MODULE% after parsing: its backslashes, quotes and percent signs stay.
const char kModule[] = "D:\\a\"b%MODULE%\\é";

// Per key: name, "=data", rule, " value:data" and the subkeys in braces.
std::string Describe(const std::vector<server::RegistryKey>& keys) {
    std::string out;
    for (const server::RegistryKey& key : keys) {
        out += Narrow(key.name);
        if (key.hasDefault) out += "=" + Narrow(key.defaultData);
        if (key.removal == server::RemovalRule::Keep) out += " keep";
        if (key.removal == server::RemovalRule::Replace) out += " replace";
        for (const auto& value : key.values)
            out += " " + Narrow(value.name) + ":" + Narrow(value.data);
        if (!key.subkeys.empty()) out += "{" + Describe(key.subkeys) + "}";
        out += ";";
    }
    return out;
}

// The tree a script describes, or "refused at <line>"; a refusal says why and builds nothing.
std::string Parse(const std::string& text) {
    std::vector<server::RegistryKey> keys;
    server::ScriptError error;
    if (server::ParseRegistrationScript(text, W(kModule), keys, error)) return Describe(keys);
    EXPECT_TRUE(keys.empty());
    EXPECT_FALSE(error.reason.empty());
    return "refused at " + std::to_string(error.line);
}

TEST(RegistrationScriptTest, ScriptsDescribeTheirTreesOrAreRefusedWithTheLine) {
    const std::pair<std::string, std::string> cases[] = {
        {"# the entries of one class\n"
         "key A keep\n"
         "  key B = \"%MODULE%\" replace\n"
         "    key C replace\n"
         "\n"
         "  key D\n"
         "    value V = \"1\"\n"
         "  value W = \"2\"\n"
         "key E\n",
         "A keep W:2{B=D:\\a\"b%MODULE%\\é replace{C replace;};D V:1;};E;"},
        // Data may hold the module anywhere, twice; names are never expanded; case matters.
        {"key \"A Key\" = \"say \"\"%MODULE%\"\" twice: %MODULE%\"\r\n"
         "  value \"Name = x\" = \"\"\r\n"
         "  key %MODULE% = \"%module%\"\r\n",
         "A Key=say \"D:\\a\"b%MODULE%\\é\" twice: D:\\a\"b%MODULE%\\é Name = x:"
         "{%MODULE%=%module%;};"},
        {"", ""},
        {"\n   \n  # indented comment\n#\n", ""},
        {"key   A   =   \"x\"   keep   ", "A=x keep;"},
        {"key A", "A;"},                                 // the last line needs no line end
        {"key A\n\tkey B\n", "2"},                       // tab
        {"key A\n   key B\n", "2"},                      // odd indentation
        {"key A\n    key B\n", "2"},                     // skips a level
        {"  key A\n", "1"},                              // nothing to nest under
        {"value V = \"x\"\n", "1"},                      // a value needs a key
        {"key A\n  value V = \"x\"\n    key B\n", "3"},  // nothing nests under a value
        {"Key A\n", "1"},                                // keywords are lower case
        {"keys A\n", "1"},
        {"key\n", "1"},       // no name
        {"key \"\"\n", "1"},  // empty name
        {"key A\\B\n", "1"},  // a backslash separates keys
        {"key \"A\\B\"\n", "1"},
        {"key A = x\n", "1"},    // data must be quoted
        {"key A = \"x\n", "1"},  // unterminated
        {"key A = \n", "1"},
        {"key A \"x\"\n", "1"},                        // '=' missing
        {"key A = \"x\" remove\n", "1"},               // unknown rule
        {"key A = \"x\" keep keep\n", "1"},            // trailing text
        {"key A replace = \"x\"\n", "1"},              // rule before data
        {"key A\n  value V\n", "2"},                   // a value needs data
        {"key A\n  value V = \"x\" keep\n", "2"},      // values have no rule
        {"key A\n  value = \"x\"\n", "2"},             // a value needs a name
        {"key A = \"caf\xc3\xa9\"\n", "1"},            // not ASCII
        {std::string("key A = \"x\0y\"\n", 14), "1"},  // zero byte
        {"key A\rkey B\n", "1"},                       // a lone carriage return
        {"key A\n\x7f\n", "2"},
    };
    for (const auto& [text, tree] : cases) {
        const bool refused = !tree.empty() && std::isdigit(static_cast<unsigned char>(tree[0]));
        EXPECT_EQ(Parse(text), refused ? "refused at " + tree : tree) << text;
        // Every cut of a script ends with a tree or a refusal, never a read past its end.
        for (size_t cut = 0; cut < text.size(); ++cut) Parse(text.substr(0, cut));
    }
    std::string deepest;
    for (size_t depth = 0; depth < server::kMaxScriptDepth; ++depth)
        deepest += std::string(2 * depth, ' ') + "key K\n";
    EXPECT_EQ(Parse(deepest).substr(0, 3), "K{K");
    EXPECT_EQ(Parse(deepest + std::string(2 * server::kMaxScriptDepth, ' ') + "key K\n"),
              "refused at " + std::to_string(server::kMaxScriptDepth + 1));
}

}  // namespace
}  // namespace quarrow2::test
