#include "server/registration_script.h"

namespace quarrow2::server {
namespace {

constexpr std::string_view kModuleToken = "%MODULE%";

bool IsPrintable(char c) { return c >= 0x20 && c <= 0x7E; }

bool IsBareWordChar(char c) {
    return IsPrintable(c) && c != ' ' && c != '"' && c != '=' && c != '\\';
}

WString Widen(std::string_view ascii) { return WString(ascii.begin(), ascii.end()); }

WString ExpandModule(std::string_view ascii, const WString& modulePath) {
    WString out;
    for (;;) {
        size_t at = ascii.find(kModuleToken);
        out += Widen(ascii.substr(0, at));
        if (at == std::string_view::npos) return out;
        out += modulePath;
        ascii.remove_prefix(at + kModuleToken.size());
    }
}

// The words of one line after its indentation.
class LineReader {
public:
    explicit LineReader(std::string_view rest) : rest_(rest) {}

    bool AtEnd() {
        SkipBlanks();
        return rest_.empty();
    }

    // A bare word, or nothing when the line goes on with something else.
    std::string_view Word() {
        SkipBlanks();
        size_t n = 0;
        while (n < rest_.size() && IsBareWordChar(rest_[n])) ++n;
        std::string_view word = rest_.substr(0, n);
        rest_.remove_prefix(n);
        return word;
    }

    bool Take(char c) {
        SkipBlanks();
        if (rest_.empty() || rest_[0] != c) return false;
        rest_.remove_prefix(1);
        return true;
    }

    bool StartsQuoted() {
        SkipBlanks();
        return !rest_.empty() && rest_[0] == '"';
    }

    // A quoted string; a doubled quote inside stands for one quote.
    bool Quoted(std::string& out, std::string& reason) {
        if (!Take('"')) {
            reason = "expected a quoted string";
            return false;
        }
        out.clear();
        for (;;) {
            if (rest_.empty()) {
                reason = "unterminated quoted string";
                return false;
            }
            char c = rest_[0];
            rest_.remove_prefix(1);
            if (c != '"') {
                out.push_back(c);
            } else if (!rest_.empty() && rest_[0] == '"') {
                out.push_back('"');
                rest_.remove_prefix(1);
            } else {
                return true;
            }
        }
    }

    // The name of a key or a value: a bare word or a quoted string, never empty, without
    // backslash (which the registry takes as a separator of key names).
    bool Name(std::string& out, std::string& reason) {
        if (StartsQuoted()) {
            if (!Quoted(out, reason)) return false;
        } else {
            out = std::string(Word());
        }
        if (out.empty()) {
            reason = "expected a name";
            return false;
        }
        if (out.find('\\') != std::string::npos) {
            reason = "a name may not contain a backslash";
            return false;
        }
        return true;
    }

private:
    void SkipBlanks() {
        while (!rest_.empty() && rest_[0] == ' ') rest_.remove_prefix(1);
    }

    std::string_view rest_;
};

class Parser {
public:
    Parser(const WString& modulePath, std::vector<RegistryKey>& keys)
        : modulePath_(modulePath), keys_(keys) {}

    bool Line(std::string_view line, std::string& reason) {
        for (char c : line) {
            if (!IsPrintable(c)) {
                reason = "only printable ASCII characters and blanks are allowed";
                return false;
            }
        }
        size_t indent = line.find_first_not_of(' ');
        if (indent == std::string_view::npos || line[indent] == '#') return true;
        if (indent % 2 != 0) {
            reason = "indentation must be a multiple of two blanks";
            return false;
        }
        size_t depth = indent / 2;
        if (depth >= kMaxScriptDepth) {
            reason = "nested too deeply";
            return false;
        }
        if (depth > open_.size()) {
            reason = "indented deeper than the key above allows";
            return false;
        }
        LineReader reader(line.substr(indent));
        std::string_view keyword = reader.Word();
        if (keyword == "key") return Key(reader, depth, reason);
        if (keyword == "value") return Value(reader, depth, reason);
        reason = "expected 'key' or 'value'";
        return false;
    }

private:
    bool Key(LineReader& reader, size_t depth, std::string& reason) {
        RegistryKey key;
        std::string text;
        if (!reader.Name(text, reason)) return false;
        key.name = Widen(text);
        if (reader.Take('=')) {
            if (!reader.Quoted(text, reason)) return false;
            key.hasDefault = true;
            key.defaultData = ExpandModule(text, modulePath_);
        }
        if (!reader.AtEnd()) {
            std::string_view rule = reader.Word();
            if (rule == "replace") {
                key.removal = RemovalRule::Replace;
            } else if (rule == "keep") {
                key.removal = RemovalRule::Keep;
            } else {
                reason = "expected 'replace', 'keep' or the end of the line";
                return false;
            }
        }
        if (!reader.AtEnd()) {
            reason = "unexpected text at the end of the line";
            return false;
        }
        open_.resize(depth);
        std::vector<RegistryKey>& siblings = depth == 0 ? keys_ : open_.back()->subkeys;
        siblings.push_back(std::move(key));
        open_.push_back(&siblings.back());
        return true;
    }

    bool Value(LineReader& reader, size_t depth, std::string& reason) {
        if (depth == 0) {
            reason = "a value must belong to a key";
            return false;
        }
        RegistryValue value;
        std::string text;
        if (!reader.Name(text, reason)) return false;
        value.name = Widen(text);
        if (!reader.Take('=')) {
            reason = "expected '=' after the value's name";
            return false;
        }
        if (!reader.Quoted(text, reason)) return false;
        value.data = ExpandModule(text, modulePath_);
        if (!reader.AtEnd()) {
            reason = "unexpected text at the end of the line";
            return false;
        }
        open_.resize(depth);
        open_.back()->values.push_back(std::move(value));
        return true;
    }

    const WString& modulePath_;
    std::vector<RegistryKey>& keys_;
    // The innermost key open at each depth; a line may nest one level below the last.
    std::vector<RegistryKey*> open_;
};

}  // namespace

bool ParseRegistrationScript(std::string_view text, const WString& modulePath,
                             std::vector<RegistryKey>& keys, ScriptError& error) {
    keys.clear();
    Parser parser(modulePath, keys);
    size_t lineNumber = 0;
    while (!text.empty()) {
        ++lineNumber;
        size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        std::string reason;
        if (!parser.Line(line, reason)) {
            keys.clear();
            error.line = lineNumber;
            error.reason = std::move(reason);
            return false;
        }
    }
    return true;
}

}  // namespace quarrow2::server
