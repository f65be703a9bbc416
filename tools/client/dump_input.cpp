#include "tools/client/dump_input.h"

#include "tools/formats/console.h"
#include "tools/formats/failure.h"

namespace quarrow2::tool {
namespace {

// ---- the tool's own dump ----------------------------------------------------------------

std::string Where(size_t file, std::optional<size_t> item = std::nullopt) {
    std::string at = "files[" + std::to_string(file) + "]";
    if (item) at += ".items[" + std::to_string(*item) + "]";
    return at;
}

[[noreturn]] void Unusable(const std::string& what) {
    throw UsageError("The dump cannot be restored: " + what + ".");
}

std::string Utf8Field(const Json& object, const char* key, const std::string& at) {
    auto found = object.find(key);
    if (found == object.end() || !found->is_string()) Unusable(at + " has no text \"" + key + "\"");
    return found->get_ref<const std::string&>();
}

// A name in `key` (UTF-8) or in `key`_bytes (base64 of any bytes), never both.
std::string NameField(const Json& object, const std::string& key, const std::string& at) {
    std::string bytesKey = key + "_bytes";
    if (object.contains(key) == object.contains(bytesKey))
        Unusable(at + " needs either \"" + key + "\" or \"" + bytesKey + "\"");
    if (object.contains(key)) return Utf8Field(object, key.c_str(), at);
    std::optional<Bytes> bytes = BytesFromBase64(Utf8Field(object, bytesKey.c_str(), at));
    if (!bytes) Unusable(at + "." + bytesKey + " is not base64");
    return std::string(bytes->begin(), bytes->end());
}

RestoredItem JsonItem(const Json& entry, const std::string& at) {
    if (!entry.is_object()) Unusable(at + " is not an object");
    RestoredItem item;
    item.where = at;
    item.type = NameField(entry, "type", at);
    int forms = entry.contains("text") + entry.contains("utf8") + entry.contains("bytes");
    if (forms != 1) Unusable(at + " needs one of \"text\", \"utf8\" or \"bytes\"");
    if (entry.contains("text")) {
        item.value.text = Utf16FromUtf8(Utf8Field(entry, "text", at));
    } else if (entry.contains("utf8")) {
        // UTF-8 text goes back as its bytes, exactly as the other program stored them.
        std::string text = Utf8Field(entry, "utf8", at);
        item.value.bytes.assign(text.begin(), text.end());
    } else {
        std::optional<Bytes> bytes = BytesFromBase64(Utf8Field(entry, "bytes", at));
        if (!bytes) Unusable(at + ".bytes is not base64");
        item.value.bytes = std::move(*bytes);
        // dump writes the marker as the empty text; no bytes were 0 bytes on disk.
        item.zeroBytes = item.value.bytes.empty();
    }
    return item;
}

std::vector<RestoredFile> ReadJsonDump(const std::string& input) {
    Json document;
    try {
        document = Json::parse(input);
    } catch (const Json::parse_error& error) {
        Unusable(error.what());
    }
    if (!document.is_object()) Unusable("it is not a JSON object");
    if (document.value("format", "") != kDumpFormat)
        Unusable(std::string("its \"format\" is not \"") + kDumpFormat + "\"");
    auto version = document.find("version");
    if (version == document.end() || !version->is_number_integer() || *version < 1 ||
        *version > kDumpVersion)
        Unusable("its \"version\" is not " + std::to_string(kDumpVersion));
    auto files = document.find("files");
    if (files == document.end() || !files->is_array()) Unusable("it has no \"files\" list");

    std::vector<RestoredFile> restored;
    for (size_t f = 0; f < files->size(); ++f) {
        const Json& file = (*files)[f];
        if (!file.is_object()) Unusable(Where(f) + " is not an object");
        RestoredFile entry{NameField(file, "path", Where(f)), false, {}, Where(f)};
        auto folder = file.find("folder");
        if (folder != file.end() && !folder->is_boolean())
            Unusable(Where(f) + ".folder is not true or false");
        entry.folder = folder != file.end() && folder->get<bool>();
        auto items = file.find("items");
        if (items == file.end() || !items->is_array())
            Unusable(Where(f) + " has no \"items\" list");
        for (size_t i = 0; i < items->size(); ++i)
            entry.items.push_back(JsonItem((*items)[i], Where(f, i)));
        restored.push_back(std::move(entry));
    }
    return restored;
}

// ---- getfattr --dump ---------------------------------------------------------------------

[[noreturn]] void UnusableLine(size_t line, const std::string& what) {
    throw UsageError("The getfattr text cannot be restored: line " + std::to_string(line) + ": " +
                     what + ".");
}

// getfattr writes a backslash and three octal digits for a byte it will not show (and for
// "=" in a name), and a backslash before a backslash or a double quote.
bool IsOctalDigit(char c) { return c >= '0' && c <= '7'; }

std::string Unescaped(std::string_view text) {
    std::string result;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            result.push_back(text[i]);
        } else if (i + 3 < text.size() && IsOctalDigit(text[i + 1]) && IsOctalDigit(text[i + 2]) &&
                   IsOctalDigit(text[i + 3])) {
            result.push_back(static_cast<char>((text[i + 1] - '0') * 64 + (text[i + 2] - '0') * 8 +
                                               (text[i + 3] - '0')));
            i += 3;
        } else {
            result.push_back(text[++i]);
        }
    }
    return result;
}

Bytes AttributeValue(std::string_view encoded, size_t line, bool& quoted) {
    std::optional<Bytes> bytes;
    if (encoded.substr(0, 2) == "0s" || encoded.substr(0, 2) == "0S") {
        bytes = BytesFromBase64(encoded.substr(2));
    } else if (encoded.substr(0, 2) == "0x" || encoded.substr(0, 2) == "0X") {
        bytes = BytesFromHex(encoded.substr(2));
    } else if (!encoded.empty() && encoded.front() == '"') {
        if (encoded.size() < 2 || encoded.back() != '"')
            UnusableLine(line, "the value has no closing quote");
        std::string text = Unescaped(encoded.substr(1, encoded.size() - 2));
        bytes.emplace(text.begin(), text.end());
        quoted = true;
    } else {
        bytes.emplace(encoded.begin(), encoded.end());
    }
    if (!bytes) UnusableLine(line, "the value is not what its prefix says");
    return *bytes;
}

std::vector<RestoredFile> ReadGetfattrText(const std::string& input) {
    constexpr std::string_view kFileLine = "# file: ";
    constexpr std::string_view kUserPrefix = "user.";
    std::vector<RestoredFile> restored;
    bool quoted = false;
    size_t number = 0;
    for (size_t start = 0; start < input.size();) {
        size_t end = input.find('\n', start);
        if (end == std::string::npos) end = input.size();
        std::string_view line(input.data() + start, end - start);
        start = end + 1;
        ++number;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        std::string at = "line " + std::to_string(number);
        if (line.substr(0, kFileLine.size()) == kFileLine) {
            restored.push_back({Unescaped(line.substr(kFileLine.size())), false, {}, at});
            continue;
        }
        if (line.empty() || line.front() == '#') continue;
        if (restored.empty())
            UnusableLine(number, "an attribute before the first \"# file:\" line");
        size_t equals = line.find('=');
        std::string name = Unescaped(line.substr(0, equals));
        // Other name spaces (security., trusted., system.) are no items.
        if (name.compare(0, kUserPrefix.size(), kUserPrefix) != 0) continue;
        RestoredItem item;
        item.type = name.substr(kUserPrefix.size());
        item.where = at;
        if (equals != std::string_view::npos)
            item.value.bytes = AttributeValue(line.substr(equals + 1), number, quoted);
        // getfattr shows the marker's 32 bytes; an empty value here was empty on disk.
        item.zeroBytes = item.value.bytes.empty();
        restored.back().items.push_back(std::move(item));
    }
    if (restored.empty())
        throw UsageError("The input holds no file: neither a dump nor getfattr text.");
    if (quoted)
        ReportFailure(
            "warning: the getfattr text holds values as quoted text, a form that drops a "
            "value's last zero byte (user.Rating=\"5\" for the UTF-16 text \"5\"); dump with "
            "getfattr -e hex or -e base64 to carry every value exactly.");
    return restored;
}

}  // namespace

std::vector<RestoredFile> ReadDump(std::string input) {
    constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
    if (input.compare(0, kUtf8Mark.size(), kUtf8Mark) == 0) input.erase(0, kUtf8Mark.size());
    // Neither a dump nor getfattr text holds a zero byte; UTF-16 text holds many.
    bool utf16Mark = input.size() >= 2 && ((input[0] == '\xFF' && input[1] == '\xFE') ||
                                           (input[0] == '\xFE' && input[1] == '\xFF'));
    if (utf16Mark || input.find('\0') != std::string::npos)
        throw UsageError(
            "The input is UTF-16 text (or holds zero bytes), as a Windows editor or a "
            "PowerShell redirection saves it; save it as UTF-8 and restore that.");
    size_t first = input.find_first_not_of(" \t\r\n");
    if (first != std::string::npos && input[first] == '{') return ReadJsonDump(input);
    return ReadGetfattrText(input);
}

}  // namespace quarrow2::tool
