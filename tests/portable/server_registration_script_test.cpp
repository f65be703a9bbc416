// Registration scripts: the tree they describe, and every way a script is refused.
#include <gtest/gtest.h>

#include <random>
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

TEST(RegistrationScriptTest, TheClassScriptDescribesEveryEntry) {
    std::vector<RegistryKey> keys = Parse(kFileScript, "C:\\Program Files\\Q\\Quarrow2.dll");
    ASSERT_EQ(keys.size(), 3u);

    EXPECT_EQ(Narrow(keys[0].name), "Quarrow2.File.1");
    EXPECT_TRUE(keys[0].hasDefault);
    EXPECT_EQ(Narrow(keys[0].defaultData), "File Class");
    EXPECT_EQ(keys[0].removal, RemovalRule::Ordinary);
    ASSERT_EQ(keys[0].subkeys.size(), 1u);
    EXPECT_EQ(Narrow(keys[0].subkeys[0].defaultData), "{A89DAC1F-6D90-4460-90D4-B50DA2C488F8}");

    ASSERT_EQ(keys[1].subkeys.size(), 2u);
    EXPECT_EQ(Narrow(keys[1].subkeys[1].name), "CurVer");
    EXPECT_EQ(Narrow(keys[1].subkeys[1].defaultData), "Quarrow2.File.1");

    const RegistryKey& clsid = keys[2];
    EXPECT_EQ(Narrow(clsid.name), "CLSID");
    EXPECT_FALSE(clsid.hasDefault);
    EXPECT_EQ(clsid.removal, RemovalRule::Keep);
    ASSERT_EQ(clsid.subkeys.size(), 1u);
    const RegistryKey& classKey = clsid.subkeys[0];
    EXPECT_EQ(Narrow(classKey.name), "{A89DAC1F-6D90-4460-90D4-B50DA2C488F8}");
    EXPECT_EQ(classKey.removal, RemovalRule::Replace);
    ASSERT_EQ(classKey.subkeys.size(), 5u);
    EXPECT_EQ(Narrow(classKey.subkeys[2].name), "Programmable");
    EXPECT_FALSE(classKey.subkeys[2].hasDefault);
    EXPECT_EQ(classKey.subkeys[2].removal, RemovalRule::Replace);
    const RegistryKey& server = classKey.subkeys[3];
    EXPECT_EQ(Narrow(server.defaultData), "C:\\Program Files\\Q\\Quarrow2.dll");
    ASSERT_EQ(server.values.size(), 1u);
    EXPECT_EQ(Narrow(server.values[0].name), "ThreadingModel");
    EXPECT_EQ(Narrow(server.values[0].data), "Both");
    EXPECT_TRUE(server.subkeys.empty());
    EXPECT_EQ(Narrow(classKey.subkeys[4].defaultData), "{80ABC801-2A25-4A88-9AAF-5B89790248DB}");
}

TEST(RegistrationScriptTest, DataAndNamesAreTakenLiterally) {
    // The module path is put in after parsing: its backslashes, quotes and percent signs
    // stay as they are, and it may stand anywhere in the data, more than once.
    std::vector<RegistryKey> keys = Parse(
        "key \"A Key\" = \"say \"\"%MODULE%\"\" twice: %MODULE%\"\r\n"
        "  value \"Name = x\" = \"\"\r\n"
        "  key %MODULE% = \"%module%\"\r\n",
        "D:\\a\"b%MODULE%\\é");
    ASSERT_EQ(keys.size(), 1u);
    EXPECT_EQ(Narrow(keys[0].name), "A Key");
    EXPECT_EQ(Narrow(keys[0].defaultData),
              "say \"D:\\a\"b%MODULE%\\é\" twice: D:\\a\"b%MODULE%\\é");
    ASSERT_EQ(keys[0].values.size(), 1u);
    EXPECT_EQ(Narrow(keys[0].values[0].name), "Name = x");
    EXPECT_EQ(Narrow(keys[0].values[0].data), "");
    ASSERT_EQ(keys[0].subkeys.size(), 1u);
    EXPECT_EQ(Narrow(keys[0].subkeys[0].name), "%MODULE%") << "names are never expanded";
    EXPECT_EQ(Narrow(keys[0].subkeys[0].defaultData), "%module%") << "the token is case-sensitive";

    EXPECT_TRUE(Parse("").empty());
    EXPECT_TRUE(Parse("\n   \n  # indented comment\n#\n").empty());
    EXPECT_EQ(Parse("key   A   =   \"x\"   keep   ").at(0).removal, RemovalRule::Keep);
    EXPECT_EQ(Parse("key A").size(), 1u) << "the last line needs no line end";
}

TEST(RegistrationScriptTest, NestingFollowsTheIndentation) {
    std::vector<RegistryKey> keys = Parse(
        "key A\n"
        "  key B\n"
        "    key C\n"
        "  key D\n"
        "    value V = \"1\"\n"
        "  value W = \"2\"\n"
        "key E\n");
    ASSERT_EQ(keys.size(), 2u);
    ASSERT_EQ(keys[0].subkeys.size(), 2u);
    EXPECT_EQ(Narrow(keys[0].subkeys[0].subkeys.at(0).name), "C");
    EXPECT_EQ(Narrow(keys[0].subkeys[1].values.at(0).name), "V");
    EXPECT_EQ(Narrow(keys[0].values.at(0).name), "W");
    EXPECT_EQ(Narrow(keys[1].name), "E");

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
}

// Whatever bytes a script holds, reading it ends with a tree or a refusal.
TEST(RegistrationScriptTest, DamagedScriptsNeverBreakTheReader) {
    const std::string original = kFileScript;
    for (size_t cut = 0; cut <= original.size(); ++cut) {
        std::vector<RegistryKey> keys;
        ScriptError error;
        ParseRegistrationScript(original.substr(0, cut), W("M"), keys, error);
    }
    std::mt19937 random(20240601);
    for (int round = 0; round < 2000; ++round) {
        std::string damaged = original;
        int changes = 1 + static_cast<int>(random() % 4);
        for (int i = 0; i < changes; ++i) {
            size_t at = random() % damaged.size();
            switch (random() % 3) {
                case 0:
                    damaged[at] = static_cast<char>(random() % 256);
                    break;
                case 1:
                    damaged.erase(at, 1);
                    break;
                default:
                    damaged.insert(at, 1, "\" =\n #\\"[random() % 7]);
                    break;
            }
        }
        std::vector<RegistryKey> keys;
        ScriptError error;
        if (!ParseRegistrationScript(damaged, W("M"), keys, error)) {
            EXPECT_GT(error.line, 0u);
            EXPECT_TRUE(keys.empty());
        }
    }
}

}  // namespace
}  // namespace quarrow2::test
