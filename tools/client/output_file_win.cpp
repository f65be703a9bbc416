// Windows: the partial file is written with std::filesystem beside F, which a rename then
// replaces; links are followed first, so the file a link names is the one replaced.
#include "tools/client/output_file.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>

#include "tools/formats/failure.h"

namespace quarrow2::tool {

namespace fs = std::filesystem;

struct OutputFile::State {
    std::string shown;
    fs::path target;
    fs::path partial;
    std::ofstream stream;
    bool committed = false;
};

OutputFile::OutputFile(const std::string& path) : state_(std::make_unique<State>()) {
    State& state = *state_;
    state.shown = path;
    state.target = fs::u8path(path);
    std::error_code error;
    for (int hops = 0; fs::is_symlink(fs::symlink_status(state.target, error)); ++hops) {
        fs::path link = fs::read_symlink(state.target, error);
        if (error || hops == 40)
            throw Failure("Unable to create the output file: a link that leads nowhere.", path);
        state.target = link.is_absolute() ? link : state.target.parent_path() / link;
    }
    fs::path folder = state.target.parent_path();
    if (!folder.empty() && !fs::is_directory(folder, error))
        throw Failure("Unable to create the output file: its folder does not exist.", path);
    if (fs::is_directory(state.target, error))
        throw Failure("Unable to create the output file: it is a folder.", path);
    std::random_device random;
    do {
        state.partial = folder / fs::u8path("." + state.target.filename().u8string() + "." +
                                            std::to_string(random()) + ".partial");
    } while (fs::exists(state.partial, error));
    errno = 0;
    state.stream.open(state.partial, std::ios::binary | std::ios::trunc);
    if (!state.stream)
        throw Failure(std::string("Unable to create the output file: ") +
                          (errno ? std::strerror(errno) : "unknown reason") + ".",
                      path);
}

OutputFile::~OutputFile() {
    if (state_->committed) return;
    state_->stream.close();
    std::error_code error;
    fs::remove(state_->partial, error);
}

void OutputFile::Write(const std::string& text) { state_->stream << text; }

void OutputFile::Commit() {
    State& state = *state_;
    state.stream.close();
    if (!state.stream) throw Failure("Unable to write the output file.", state.shown);
    std::error_code error;
    fs::rename(state.partial, state.target, error);
    if (error)
        throw Failure("Unable to replace the output file: " + error.message() + ".", state.shown);
    state.committed = true;
}

}  // namespace quarrow2::tool
