// What find asks of an item's text: equal to a value, matched whole by a shell pattern, or
// holding a match of a regular expression.
#pragma once

#include <optional>
#include <regex>
#include <string>
#include <vector>

namespace quarrow2::tool {

class ValueMatch {
public:
    // At most one of the three; none matches every text. UsageError for a regular
    // expression that cannot be compiled.
    ValueMatch(std::optional<std::string> value, std::optional<std::string> glob,
               const std::optional<std::string>& regex);

    // Whether an item that reads as any of these texts (UTF-8) matches; a value that is no
    // text (no readings) matches only the absence of a condition.
    bool Matches(const std::vector<std::string>& readings) const;
    bool NeedsValue() const { return value_ || glob_ || regex_; }

private:
    std::optional<std::string> value_;
    std::optional<std::u32string> glob_;
    std::optional<std::wregex> regex_;
};

// Whether the whole text matches the shell pattern: * any run of characters, ? one
// character, [abc], [a-z] and [!abc] one of a set, a backslash takes the next character as
// it is. Characters, not bytes.
bool GlobMatches(const std::u32string& pattern, const std::u32string& text);

}  // namespace quarrow2::tool
