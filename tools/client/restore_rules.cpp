#include "tools/client/restore_rules.h"

#include <filesystem>
#include <set>

#include "tools/formats/failure.h"

namespace quarrow2::tool {
namespace {

namespace fs = std::filesystem;

[[noreturn]] void refuse(const std::string& where, const std::string& name,
                         const std::string& why) {
    throw UsageError("The input cannot be restored: " + where + " (\"" + EscapedForDisplay(name) +
                     "\") " + why + "; nothing was written.");
}

// The name the library is handed is UTF-16, cut at its first zero unit; each byte that is
// not UTF-8 travels as one unit U+DC80-U+DCFF. The name must come back as the same bytes.
std::string NameRefusal(const std::string& name, const char* what) {
    if (name.empty()) return std::string("is an empty ") + what;
    if (name.find('\0') != std::string::npos)
        return std::string("is a ") + what + " holding a zero byte, where the name would end";
    if (NameBytes(NameUtf16(name)) != name)
        return std::string("is a ") + what + " that would be stored under another name";
    return {};
}

// Windows drops the dots and blanks that end a name, which then names the file itself.
bool IsOnlyDotsAndBlanks(const std::string& type) {
    return type.find_first_not_of(". ") == std::string::npos;
}

std::string TypeRefusal(const std::string& type) {
    std::string why = NameRefusal(type, "type");
    if (!why.empty()) return why;
    // A colon would start the stream kind (Author:$DATA is stored as Author).
    if (type.find_first_of(":/\\") != std::string::npos)
        return "is a type holding ':', '/' or '\\', which no item name holds";
    if (type == "$DATA" || IsOnlyDotsAndBlanks(type))
        return "is a type that names the file's own contents";
    return {};
}

std::string PathRefusal(const std::string& path, bool absolutePaths) {
    std::string why = NameRefusal(path, "path");
    if (!why.empty()) return why;
    fs::path parsed = fs::u8path(path);
    if (absolutePaths) return {};
    if (parsed.has_root_path())
        return "is an absolute path (restore it with --absolute-paths, or make it relative)";
    for (const fs::path& part : parsed)
        if (part == "..")
            return "climbs out of the folder with \"..\" (restore it with --absolute-paths)";
    return {};
}

}  // namespace

void CheckRestorable(const std::vector<RestoredFile>& files, bool absolutePaths) {
    std::set<std::string> paths;
    for (const RestoredFile& file : files) {
        std::string why = PathRefusal(file.path, absolutePaths);
        if (!why.empty()) refuse(file.where, file.path, why);
        // "a/./b" and "a//b" name "a/b" again.
        if (!paths.insert(fs::u8path(file.path).lexically_normal().u8string()).second)
            refuse(file.where, file.path, "names a file an earlier entry names");
        std::set<std::string> types;
        for (const RestoredItem& item : file.items) {
            why = TypeRefusal(item.type);
            if (!why.empty()) refuse(item.where, item.type, why);
            if (!types.insert(item.type).second)
                refuse(item.where, item.type, "names an item of this file a second time");
        }
    }
}

}  // namespace quarrow2::tool
