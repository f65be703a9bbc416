// quarrow2 shares [--mark] [--config FILE]
#include <algorithm>
#include <cctype>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "tools/client/storage.h"
#include "tools/commands/command.h"
#include "tools/formats/console.h"
#include "tools/formats/failure.h"
#include "tools/formats/text.h"

namespace quarrow2::tool {
namespace {

constexpr char kDefaultPrefix[] = "user.DosStream.";

struct SharesOptions {
    bool mark = false;
    std::string config;  // Samba's own when empty
};

// One section of the configuration as testparm prints it; parameter names in lower case.
struct Section {
    std::string name;
    std::map<std::string, std::string> parameters;
};

std::string Trimmed(const std::string& text) {
    const size_t begin = text.find_first_not_of(" \t\r");
    if (begin == std::string::npos) return std::string();
    return text.substr(begin, text.find_last_not_of(" \t\r") - begin + 1);
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::vector<Section> ReadSections(const std::string& dump) {
    std::vector<Section> sections;
    std::istringstream lines(dump);
    for (std::string line; std::getline(lines, line);) {
        line = Trimmed(line);
        if (line.empty() || line[0] == '#' || line[0] == ';') continue;
        if (line.front() == '[' && line.back() == ']') {
            sections.push_back({line.substr(1, line.size() - 2), {}});
            continue;
        }
        const size_t equals = line.find('=');
        if (sections.empty() || equals == std::string::npos) continue;
        sections.back().parameters[Lower(Trimmed(line.substr(0, equals)))] =
            Trimmed(line.substr(equals + 1));
    }
    return sections;
}

bool IsYes(const std::string& value) {
    const std::string word = Lower(value);
    return word == "yes" || word == "true" || word == "1" || word == "on";
}

// What a share is, as its section and the global one set it.
class Share {
public:
    Share(const Section& own, const Section& global) : own_(own), global_(global) {}

    const std::string& Name() const { return own_.name; }
    std::string Path() const { return Own("path"); }
    bool Printable() const { return IsYes(Parameter("printable", "no")); }

    std::vector<std::string> Modules() const {
        std::vector<std::string> modules;
        std::string list = Parameter("vfs objects", "");
        std::replace(list.begin(), list.end(), ',', ' ');
        std::istringstream words(list);
        for (std::string word; words >> word;) modules.push_back(Lower(word));
        return modules;
    }
    bool Uses(const std::string& module) const {
        const std::vector<std::string> modules = Modules();
        return std::find(modules.begin(), modules.end(), module) != modules.end();
    }

    // Each setting of streams_xattr that differs from the defaults the library reads.
    std::vector<std::string> OtherStreamSettings() const {
        std::vector<std::string> other;
        const std::string prefix = Parameter("streams_xattr:prefix", kDefaultPrefix);
        if (prefix != kDefaultPrefix) other.push_back("prefix " + prefix);
        if (!IsYes(Parameter("streams_xattr:store_stream_type", "yes")))
            other.push_back("store_stream_type no");
        return other;
    }

private:
    std::string Own(const std::string& key) const {
        auto found = own_.parameters.find(key);
        return found == own_.parameters.end() ? std::string() : found->second;
    }
    // The share's own setting, else the global one (the defaults of every share), else
    // Samba's default.
    std::string Parameter(const std::string& key, const std::string& otherwise) const {
        for (const Section* section : {&own_, &global_}) {
            auto found = section->parameters.find(key);
            if (found != section->parameters.end()) return found->second;
        }
        return otherwise;
    }

    const Section& own_;
    const Section& global_;
};

std::string Joined(const std::vector<std::string>& words) {
    std::string text;
    for (const std::string& word : words) text += (text.empty() ? "" : ", ") + word;
    return text;
}

// The lines that describe one share and, asked to, the marker it gets; whether all went.
bool Describe(const Share& share, bool mark, std::string& text) {
    const std::string path = share.Path();
    text = "[" + EscapedForDisplay(share.Name()) + "] " + EscapedForDisplay(path) + "\n";
    const bool streams = share.Uses("streams_xattr");
    const std::vector<std::string> other = share.OtherStreamSettings();
    if (!streams)
        text += "  streams_xattr: off\n";
    else if (other.empty())
        text += "  streams_xattr: on, with the defaults Quarrow2 reads (prefix " +
                std::string(kDefaultPrefix) + ", store_stream_type yes)\n";
    else
        text += "  streams_xattr: on, with " + EscapedForDisplay(Joined(other)) +
                ": streams named so are not Quarrow2's items\n";
    std::vector<std::string> mappings;
    for (const char* module : {"catia", "fruit"})
        if (share.Uses(module)) mappings.push_back(module);
    text += mappings.empty() ? "  name mappings: none\n"
                             : "  name mappings: " + Joined(mappings) +
                                   " (stream names with mapped characters are not read as "
                                   "items)\n";
    if (path.empty() || path.find('%') != std::string::npos) {
        text += "  marker: not looked at, since the folder differs from user to user\n";
        return true;
    }
    const std::string needed = !streams ? "native" : other.empty() ? "samba" : "";
    try {
        const std::string own = LayoutMarkerOf(path);
        std::string holder;
        std::string followed = own.empty() ? NearestLayoutMarker(path, holder) : own;
        text += "  marker: " +
                (own.empty() ? std::string("none on this folder") : EscapedForDisplay(own)) +
                (own.empty() && !followed.empty()
                     ? "; " + EscapedForDisplay(followed) + " from " + EscapedForDisplay(holder)
                     : std::string()) +
                "\n";
        if (followed.empty()) followed = "native";
        if (needed.empty()) {
            text += "  layout: none serves this share's streams as items\n";
        } else if (followed == needed) {
            text += "  layout: " + needed + ", as the share needs\n";
        } else if (mark) {
            MarkLayout(path, needed);
            text += "  layout: " + needed + ", marked now\n";
        } else {
            text += "  layout: " + EscapedForDisplay(followed) + ", but the share needs " + needed +
                    " (--mark sets it)\n";
        }
        return true;
    } catch (const Failure& failure) {
        text += "  marker: " + failure.Description() + "\n";
        return false;
    }
}

int RunShares(const SharesOptions& options) {
    std::vector<std::string> arguments{"-s"};
    if (!options.config.empty()) arguments.push_back(options.config);
    std::string dump, errors;
    const int status = RunProgram("testparm", arguments, dump, errors);
    if (status < 0) {
        ReportFailure(
            "testparm is not installed here, so Samba's configuration cannot be read (it comes "
            "with Samba, in Debian's samba-common-bin package).");
        return kFailure;
    }
    if (status != 0) {
        ReportFailure("testparm could not read Samba's configuration (exit status " +
                      std::to_string(status) + "): " + Trimmed(errors));
        return kFailure;
    }
    const std::vector<Section> sections = ReadSections(dump);
    const Section none;
    const Section* global = &none;
    for (const Section& section : sections)
        if (Lower(section.name) == "global") global = &section;
    int result = kSuccess;
    for (const Section& section : sections) {
        const Share share(section, *global);
        const std::string name = Lower(share.Name());
        if (name == "global" || name == "printers" || name == "print$" || share.Printable())
            continue;
        std::string text;
        if (!Describe(share, options.mark, text)) result = kFailure;
        PrintRaw(text);
    }
    return result;
}

CommandRun DefineShares(CLI::App& command) {
    auto options = std::make_shared<SharesOptions>();
    command.add_flag("--mark", options->mark,
                     "Mark each share's folder with the layout it needs, where it does not "
                     "follow it yet");
    command.add_option("--config", options->config,
                       "Samba's configuration file to read (default: Samba's own)");
    return {nullptr, [options](const Library&) { return RunShares(*options); }};
}

}  // namespace

const Command kSharesCommand{
    "shares",
    "Tell, from testparm, how this machine's Samba shares keep streams and the layout of "
    "their folders",
    DefineShares};

}  // namespace quarrow2::tool
