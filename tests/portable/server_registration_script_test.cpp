// Registration scripts: the tree they describe, and every way a script is refused.
#include <gtest/gtest.h>

#include <string>

#include "server/registration_script.h"
#include "support/test_support.h"

namespace quarrow2::test {
namespace {

using server::ParseRegistrationScript;
using server::RegistryKey;
using server::RemovalRule;
using server::ScriptError;

const char kFileScript[] =
    "# Registry entries of the File class\n"
    "key Quarrow2.File.1 = \"File Class\"\n"
    "  key CLSID = \"{A89DAC1F-6D90-4460-90D4-B50DA2C488F8}\"\n"
    "key Quarrow2.File = \"File Class\"\n"
    "  key CLSID = \"{A89DAC1F-6D90-4460-90D4-B50DA2C488F8}\"\n"
    "  key CurVer = \"Quarrow2.File.1\"\n"
    "\n"
    "key CLSID keep\n"
    "  key {A89DAC1F-6D90-4460-90D4-B50DA2C488F8} = \"File Class\" replace\n"
    "    key ProgID = \"Quarrow2.File.1\"\n"
    "    key VersionIndependentProgID = \"Quarrow2.File\"\n"
    "    key Programmable replace\n"
    "    key InprocServer32 = \"%MODULE%\"\n"
    "      value ThreadingModel = \"Both\"\n"
    "    key TypeLib = \"{80ABC801-2A25-4A88-9AAF-5B89790248DB}\"\n";

std::vector<RegistryKey> Parse(const std::string& text, const std::string& module = "M") {
    std::vector<RegistryKey> keys;
    ScriptError error;
    EXPECT_TRUE(ParseRegistrationScript(text, W(module), keys, error))
        << "line " << error.line << ": " << error.reason;
    return keys;
}

ScriptError Refuse(const std::string& text) {
    std::vector<RegistryKey> keys;
    ScriptError error;
    EXPECT_FALSE(ParseRegistrationScript(text, W("M"), keys, error)) << text;
    EXPECT_TRUE(keys.empty());
    EXPECT_FALSE(error.reason.empty());
    return error;
}

// The tree in one line per key: its name, "=data" where it has a default, its rule
// ("keep", "replace"), its values and its subkeys in braces.
std::string Describe(const std::vector<RegistryKey>& keys) {
    std::string out;
    for (const RegistryKey& key : keys) {
        out += Narrow(key.name);
        if (key.hasDefault) out += "=" + Narrow(key.defaultData);
        if (key.removal == RemovalRule::Keep) out += " keep";
        if (key.removal == RemovalRule::Replace) out += " replace";
        for (const auto& value : key.values)
            out += " " + Narrow(value.name) + ":" + Narrow(value.data);
        if (!key.subkeys.empty()) out += "{" + Describe(key.subkeys) + "}";
        out += ";";
    }
    return out;
}

TEST(RegistrationScriptTest, TheClassScriptDescribesEveryEntry) {
    EXPECT_EQ(Describe(Parse(kFileScript, "C:\\Program Files\\Q\\Quarrow2.dll")),
              "Quarrow2.File.1=File Class{CLSID={A89DAC1F-6D90-4460-90D4-B50DA2C488F8};};"
              "Quarrow2.File=File Class{CLSID={A89DAC1F-6D90-4460-90D4-B50DA2C488F8};"
              "CurVer=Quarrow2.File.1;};"
              "CLSID keep{{A89DAC1F-6D90-4460-90D4-B50DA2C488F8}=File Class replace{"
              "ProgID=Quarrow2.File.1;VersionIndependentProgID=Quarrow2.File;Programmable replace;"
              "InprocServer32=C:\\Program Files\\Q\\Quarrow2.dll ThreadingModel:Both;"
              "TypeLib={80ABC801-2A25-4A88-9AAF-5B89790248DB};};};");
}

TEST(RegistrationScriptTest, DataAndNamesAreTakenLiterally) {
    // The module path is put in after parsing: its backslashes, quotes and percent signs
    // stay as they are, and it may stand anywhere in the data, more than once.
    // Names are never expanded, and the token is case-sensitive.
    EXPECT_EQ(Describe(Parse("key \"A Key\" = \"say \"\"%MODULE%\"\" twice: %MODULE%\"\r\n"
                             "  value \"Name = x\" = \"\"\r\n"
                             "  key %MODULE% = \"%module%\"\r\n",
                             "D:\\a\"b%MODULE%\\é")),
              "A Key=say \"D:\\a\"b%MODULE%\\é\" twice: D:\\a\"b%MODULE%\\é Name = x:"
              "{%MODULE%=%module%;};");
    EXPECT_TRUE(Parse("").empty());
    EXPECT_TRUE(Parse("\n   \n  # indented comment\n#\n").empty());
    EXPECT_EQ(Parse("key   A   =   \"x\"   keep   ").at(0).removal, RemovalRule::Keep);
    EXPECT_EQ(Parse("key A").size(), 1u) << "the last line needs no line end";
}

TEST(RegistrationScriptTest, NestingFollowsTheIndentation) {
    EXPECT_EQ(Describe(Parse("key A\n"
                             "  key B\n"
                             "    key C\n"
                             "  key D\n"
                             "    value V = \"1\"\n"
                             "  value W = \"2\"\n"
                             "key E\n")),
              "A W:2{B{C;};D V:1;};E;");
    std::string deepest;
    for (size_t depth = 0; depth < server::kMaxScriptDepth; ++depth)
        deepest += std::string(2 * depth, ' ') + "key K\n";
    EXPECT_EQ(Parse(deepest).size(), 1u);
    ScriptError tooDeep =
        Refuse(deepest + std::string(2 * server::kMaxScriptDepth, ' ') + "key K\n");
    EXPECT_EQ(tooDeep.line, server::kMaxScriptDepth + 1);
}

TEST(RegistrationScriptTest, EveryMalformedLineIsRefusedWithItsNumber) {
    struct Case {
        std::string text;
        size_t line;
    };
    const Case cases[] = {
        {"key A\n\tkey B\n", 2},                       // tab
        {"key A\n   key B\n", 2},                      // odd indentation
        {"key A\n    key B\n", 2},                     // skips a level
        {"  key A\n", 1},                              // nothing to nest under
        {"value V = \"x\"\n", 1},                      // a value needs a key
        {"key A\n  value V = \"x\"\n    key B\n", 3},  // nothing nests under a value
        {"Key A\n", 1},                                // keywords are lower case
        {"keys A\n", 1},
        {"key\n", 1},       // no name
        {"key \"\"\n", 1},  // empty name
        {"key A\\B\n", 1},  // a backslash separates keys
        {"key \"A\\B\"\n", 1},
        {"key A = x\n", 1},    // data must be quoted
        {"key A = \"x\n", 1},  // unterminated
        {"key A = \n", 1},
        {"key A \"x\"\n", 1},                        // '=' missing
        {"key A = \"x\" remove\n", 1},               // unknown rule
        {"key A = \"x\" keep keep\n", 1},            // trailing text
        {"key A replace = \"x\"\n", 1},              // rule before data
        {"key A\n  value V\n", 2},                   // a value needs data
        {"key A\n  value V = \"x\" keep\n", 2},      // values have no rule
        {"key A\n  value = \"x\"\n", 2},             // a value needs a name
        {"key A = \"caf\xc3\xa9\"\n", 1},            // not ASCII
        {std::string("key A = \"x\0y\"\n", 14), 1},  // zero byte
        {"key A\rkey B\n", 1},                       // a lone carriage return
        {"key A\n\x7f\n", 2},
    };
    for (const Case& c : cases) {
        ScriptError error = Refuse(c.text);
        EXPECT_EQ(error.line, c.line) << c.text << ": " << error.reason;
    }
    // Every cut of a whole script ends with a tree or a refusal, never a read past its end.
    const std::string whole = kFileScript;
    for (size_t cut = 0; cut <= whole.size(); ++cut) {
        std::vector<RegistryKey> keys;
        ScriptError error;
        ParseRegistrationScript(whole.substr(0, cut), W("M"), keys, error);
    }
}

}  // namespace
}  // namespace quarrow2::test
