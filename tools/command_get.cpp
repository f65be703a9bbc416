// quarrow2 get [--bytes|--hex] [--json] PATH TYPE
#include "commands.h"
#include "console.h"
#include "failure.h"
#include "metadata_client.h"

namespace quarrow2::tool {

int run_get(const Library& library, const GetOptions& options) {
    MetadataFile file(library, options.path);
    // Open, never Add: reading must not create the file or the item.
    MetadataItem item = file.open(name_utf16(options.type), options.type);

    if (options.json) {
        Json document{{"path", options.path}, {"type", options.type}};
        if (options.form == ValueForm::kText)
            document["text"] = item.text_utf8();
        else
            document["hex"] = hex_from_bytes(item.bytes());
        print_json(document);
        return kSuccess;
    }
    switch (options.form) {
        case ValueForm::kText:
            print_raw(item.text_utf8() + "\n");
            break;
        case ValueForm::kBytes: {
            Bytes bytes = item.bytes();
            print_raw(std::string(bytes.begin(), bytes.end()));
            break;
        }
        case ValueForm::kHex:
            print_raw(hex_from_bytes(item.bytes()) + "\n");
            break;
    }
    return kSuccess;
}

}  // namespace quarrow2::tool
