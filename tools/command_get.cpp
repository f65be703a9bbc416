// quarrow2 get [--bytes|--hex] [--json] PATH TYPE
#include <memory>

#include <CLI/CLI.hpp>

#include "tools/command.h"
#include "tools/console.h"
#include "tools/failure.h"
#include "tools/metadata_client.h"

namespace quarrow2::tool {
namespace {

struct GetOptions {
    ValueFormFlags flags;
    bool json = false;
    std::string path;
    std::string type;
};

int RunGet(const Library& library, const GetOptions& options) {
    MetadataFile file(library, options.path);
    // A read alone: it creates nothing, and an item open elsewhere does not stop it.
    const WString type = NameUtf16(options.type);
    const bool text = options.flags.Form() == ValueForm::kText;
    std::string utf8;
    Bytes bytes;
    if (text)
        utf8 = file.ReadTextUtf8(type, options.type);
    else
        bytes = file.ReadBytes(type, options.type);

    if (options.json) {
        Json document{{"path", options.path}, {"type", options.type}};
        if (text)
            document["text"] = std::move(utf8);
        else
            document["hex"] = HexFromBytes(bytes);
        PrintJson(document);
        return kSuccess;
    }
    switch (options.flags.Form()) {
        case ValueForm::kText:
            PrintRaw(utf8 + "\n");
            break;
        case ValueForm::kBytes:
            PrintRaw(std::string(bytes.begin(), bytes.end()));
            break;
        case ValueForm::kHex:
            PrintRaw(HexFromBytes(bytes) + "\n");
            break;
    }
    return kSuccess;
}

CommandRun DefineGet(CLI::App& command) {
    auto options = std::make_shared<GetOptions>();
    AddValueFormFlags(command, options->flags, "Write the stored bytes as they are",
                      "Write the stored bytes as hex digits");
    command.add_flag("--json", options->json,
                     "Write one JSON document (text, or hex with --bytes or --hex)");
    command.add_option("PATH", options->path, "The file")->required();
    command.add_option("TYPE", options->type, "The item's type name")->required();
    return {[options] { RequirePath(options->path); },
            [options](const Library& library) { return RunGet(library, *options); }};
}

}  // namespace

const Command kGetCommand{"get", "Show the value of one item", DefineGet};

}  // namespace quarrow2::tool
