// quarrow2 get [--utf8|--utf16|--bytes|--hex] [--json] PATH TYPE
#include <memory>

#include <CLI/CLI.hpp>

#include "tools/commands/command.h"
#include "tools/formats/console.h"
#include "tools/formats/failure.h"
#include "tools/client/metadata_client.h"
#include "tools/formats/value_text.h"

namespace quarrow2::tool {
namespace {

struct GetOptions {
    ValueFormFlags flags;
    bool json = false;
    std::string path;
    std::string type;
};

// The value as the text the form asks for: by the name's convention, or UTF-8 or UTF-16
// as told; Failure saying why when its bytes are not that text.
ValueText TextOf(const GetOptions& options, const Bytes& value) {
    ValueText text;
    std::string_view chars(reinterpret_cast<const char*>(value.data()), value.size());
    switch (options.flags.Form()) {
        case ValueForm::kUtf8:
            if (!FindInvalidUtf8(chars)) text = {TextForm::kUtf8, std::string(chars)};
            break;
        case ValueForm::kUtf16:
            if (std::optional<std::string> utf16 = TextOfValue(value))
                text = {TextForm::kUtf16, std::move(*utf16)};
            break;
        default:
            text = ExactText(options.type, value);
    }
    if (text.form == TextForm::kNone)
        throw Failure(
            WhyNotText(value, options.flags.Form() == ValueForm::kUtf8 ? TextForm::kUtf8
                                                                       : TextForm::kUtf16),
            options.path, options.type);
    return text;
}

int RunGet(const Library& library, const GetOptions& options) {
    MetadataFile file(library, options.path);
    // A read alone: it creates nothing, and an item open elsewhere does not stop it.
    ValueForm form = options.flags.Form();
    bool raw = form == ValueForm::kBytes || form == ValueForm::kHex;
    WString type = NameUtf16(options.type);
    Bytes value = raw ? file.ReadBytes(type, options.type) : file.ReadTextBytes(type, options.type);
    if (options.json) {
        Json document{{"path", options.path}, {"type", options.type}};
        if (raw) {
            document["hex"] = HexFromBytes(value);
        } else {
            ValueText text = TextOf(options, value);
            document[text.form == TextForm::kUtf8 ? "utf8" : "text"] = std::move(text.text);
        }
        PrintJson(document);
    } else if (form == ValueForm::kBytes) {
        PrintRaw(std::string(value.begin(), value.end()));
    } else {
        PrintRaw((form == ValueForm::kHex ? HexFromBytes(value) : TextOf(options, value).text) +
                 "\n");
    }
    return kSuccess;
}

CommandRun DefineGet(CLI::App& command) {
    auto options = std::make_shared<GetOptions>();
    AddValueFormFlags(
        command, options->flags,
        {"Read the value as UTF-8 text, the form other programs store theirs in",
         "Read the value as UTF-16 text, the library's own form",
         "Write the stored bytes as they are", "Write the stored bytes as hex digits"});
    command.add_flag("--json", options->json,
                     "Write one JSON document (\"text\", \"utf8\" for UTF-8 text, or \"hex\" with "
                     "--bytes or --hex)");
    command.footer(TextRuleHelp());
    command.add_option("PATH", options->path, "The file")->required();
    command.add_option("TYPE", options->type, "The item's type name")->required();
    return {[options] { RequirePath(options->path); },
            [options](const Library& library) { return RunGet(library, *options); }};
}

}  // namespace

const Command kGetCommand{"get", "Show the value of one item", DefineGet};

}  // namespace quarrow2::tool
