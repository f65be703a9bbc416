// quarrow2 dump [-r] [--output F|-] PATH...
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>

#include "commands.h"
#include "console.h"
#include "dump_input.h"
#include "failure.h"
#include "file_system.h"
#include "file_walk.h"
#include "readable_file.h"

namespace quarrow2::tool {
namespace {

namespace fs = std::filesystem;

// A name as the file system's bytes: as text when they are UTF-8, else as base64 under
// `key`_bytes, so that restore gets back the very same bytes.
void put_name(Json& object, const std::string& key, const std::string& name) {
    if (find_invalid_utf8(name))
        object[key + "_bytes"] = base64_from_bytes(Bytes(name.begin(), name.end()));
    else
        object[key] = name;
}

// The value as the text it holds, or as base64 when its bytes are not whole text. The
// empty-value marker reads back as no bytes and is written as the empty text; an item of 0
// bytes (made by another program) as empty bytes, so restore can say what becomes of it.
Json item_json(const std::string& type, MetadataItem& item) {
    Json json = Json::object();
    put_name(json, "type", type);
    Bytes value = item.bytes();
    std::optional<std::string> text = text_of_value(value);
    if (text && !(value.empty() && item.length() == 0))
        json["text"] = std::move(*text);
    else
        json["bytes"] = base64_from_bytes(value);
    return json;
}

// The file's items, or nothing when none could be read; each failure is reported.
std::optional<Json> file_json(const Library& library, const std::string& path, bool& failed) {
    Json file = Json::object();
    put_name(file, "path", path);
    if (path_state(path).kind == PathKind::kFolder) file["folder"] = true;
    Json items = Json::array();
    try {
        auto [bound, types] = bind_readable_file_types(library, path);
        for (const WString& type : types) {
            std::string shown = name_for_display(type);
            try {
                std::optional<std::string> name = name_bytes(type);
                if (!name)
                    throw Failure(
                        "The type name holds an unpaired surrogate, which no name on "
                        "this system can carry.",
                        path, shown);
                MetadataItem item = bound.open(type, shown);
                items.push_back(item_json(*name, item));
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
    file["items"] = std::move(items);
    return file;
}

// The document's next home, written beside it and put in its place only once complete, so a
// dump that fails leaves the file that was there as it was.
class PendingOutput {
public:
    explicit PendingOutput(const std::string& path) : path_(path), target_(fs::u8path(path)) {
        fs::path folder = target_.parent_path();
        std::error_code error;
        if (!folder.empty() && !fs::is_directory(folder, error))
            throw Failure("Unable to create the output file: its folder does not exist.", path);
        std::random_device random;
        do {
            temporary_ = folder / fs::u8path("." + target_.filename().u8string() + "." +
                                             std::to_string(random()) + ".partial");
        } while (fs::exists(temporary_, error));
        errno = 0;
        stream_.open(temporary_, std::ios::binary | std::ios::trunc);
        if (!stream_)
            throw Failure(std::string("Unable to create the output file: ") +
                              (errno ? std::strerror(errno) : "unknown reason") + ".",
                          path);
    }
    PendingOutput(const PendingOutput&) = delete;
    PendingOutput& operator=(const PendingOutput&) = delete;
    ~PendingOutput() {
        if (committed_) return;
        stream_.close();
        std::error_code error;
        fs::remove(temporary_, error);
    }

    void commit(const Json& document) {
        stream_ << document.dump(2, ' ', false, Json::error_handler_t::replace) << "\n";
        stream_.close();
        if (!stream_) throw Failure("Unable to write the output file.", path_);
        std::error_code error;
        fs::rename(temporary_, target_, error);
        if (error)
            throw Failure("Unable to replace the output file: " + error.message() + ".", path_);
        committed_ = true;
    }

private:
    std::string path_;
    fs::path target_;
    fs::path temporary_;
    std::ofstream stream_;
    bool committed_ = false;
};

}  // namespace

int run_dump(const Library& library, const DumpOptions& options) {
    // Opened first, so a place that cannot be written fails before the walk.
    std::optional<PendingOutput> output;
    if (options.output && *options.output != "-") output.emplace(*options.output);
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
    if (!output) {
        print_json(document);
    } else if (failed) {
        report_failure(Failure("The dump is incomplete, so it was not saved; the file is left as "
                               "it was.",
                               *options.output)
                           .what());
    } else {
        output->commit(document);
    }
    return failed ? kFailure : kSuccess;
}

}  // namespace quarrow2::tool
