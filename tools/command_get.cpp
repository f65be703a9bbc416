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
    // Open, never Add: reading must not create the file or the item.
    MetadataItem item = file.Open(NameUtf16(options.type), options.type);

    if (options.json) {
        Json document{{"path", options.path}, {"type", options.type}};
        if (options.flags.Form() == ValueForm::kText)
            document["text"] = item.TextUtf8();
        else
            document["hex"] = HexFromBytes(item.ValueBytes());
        PrintJson(document);
        return kSuccess;
    }
    switch (options.flags.Form()) {
        case ValueForm::kText:
            PrintRaw(item.TextUtf8() + "\n");
            break;
        case ValueForm::kBytes: {
            Bytes bytes = item.ValueBytes();
            PrintRaw(std::string(bytes.begin(), bytes.end()));
            break;
        }
        case ValueForm::kHex:
            PrintRaw(HexFromBytes(item.ValueBytes()) + "\n");
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
