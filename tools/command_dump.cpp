// quarrow2 dump [-r] [--output F] PATH...
#include <filesystem>
#include <fstream>

#include "commands.h"
#include "console.h"
#include "dump_input.h"
#include "failure.h"
#include "file_walk.h"
#include "readable_file.h"

namespace quarrow2::tool {
namespace {

// The value as the text it holds, or as base64 when its bytes are not whole text. The
// empty-value marker reads back as no bytes, hence as the empty text.
Json item_json(const std::string& type, const Bytes& value) {
    Json item{{"type", type}};
    if (std::optional<std::string> text = text_of_value(value))
        item["text"] = std::move(*text);
    else
        item["bytes"] = base64_from_bytes(value);
    return item;
}

// The file's items, or nothing when none could be read; each failure is reported.
std::optional<Json> file_json(const Library& library, const std::string& path, bool& failed) {
    Json items = Json::array();
    try {
        auto [file, types] = bind_readable_file_types(library, path);
        for (const WString& type : types) {
            std::string shown = displayable_utf8(type);
            try {
                std::optional<std::string> name = utf8_from_utf16(type.data(), type.size());
                if (!name) throw Failure("The type name is not valid UTF-16 text.", path, shown);
                items.push_back(item_json(*name, file.open(type, shown).bytes()));
            } catch (const Failure& failure) {
                report_failure(failure.what());
                failed = true;
            }
        }
    } catch (const Failure& failure) {
        report_failure(failure.what());
        failed = true;
        return std::nullopt;
    }
    return Json{{"path", path}, {"items", std::move(items)}};
}

}  // namespace

int run_dump(const Library& library, const DumpOptions& options) {
    // Opened first, so a place that cannot be written fails before the walk.
    std::ofstream output;
    if (options.output) {
        output.open(std::filesystem::u8path(*options.output), std::ios::binary | std::ios::trunc);
        if (!output) throw Failure("Unable to create the output file.", *options.output);
    }
    bool failed = false;
    Json files = Json::array();
    visit_paths(
        options.paths, options.recursive, "dump",
        [&](const std::string& path, bool in_folder) {
            std::optional<Json> file = file_json(library, path, failed);
            // A tree's files without items carry nothing to restore.
            if (file && !(in_folder && (*file)["items"].empty())) files.push_back(std::move(*file));
        },
        [&](const std::string& path, const std::string& description) {
            report_failure(Failure(description, path).what());
            failed = true;
        });
    Json document{{"format", kDumpFormat}, {"version", kDumpVersion}, {"files", std::move(files)}};
    if (!options.output) {
        print_json(document);
    } else {
        output << document.dump(2, ' ', false, Json::error_handler_t::replace) << "\n";
        output.close();
        if (!output) throw Failure("Unable to write the output file.", *options.output);
    }
    return failed ? kFailure : kSuccess;
}

}  // namespace quarrow2::tool
