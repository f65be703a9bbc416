#include "tools/formats/value_match.h"

#include <algorithm>
#include <iterator>

#include <utf8.h>

#include "tools/formats/failure.h"

namespace quarrow2::tool {
namespace {

std::u32string CodePoints(const std::string& utf8) {
    std::u32string result;
    utf8::utf8to32(utf8.begin(), utf8.end(), std::back_inserter(result));
    return result;
}

// The regular expression library works on wchar_t: code points where it is 32 bits wide,
// UTF-16 units where it is 16.
std::wstring Wide(const std::string& utf8) {
    std::wstring result;
    if constexpr (sizeof(wchar_t) == 4)
        utf8::utf8to32(utf8.begin(), utf8.end(), std::back_inserter(result));
    else
        utf8::utf8to16(utf8.begin(), utf8.end(), std::back_inserter(result));
    return result;
}

// libstdc++ matches by backtracking, one stack frame per character, which overflows the
// stack on a long value; its polynomial mode matches breadth first instead, in bounded depth
// (back-references are refused). A search tries every start, so it is made one whole match
// with any text around the expression: one pass over the value.
#ifdef __GLIBCXX__
constexpr auto kRegexFlags = std::regex::ECMAScript | std::regex_constants::__polynomial;
#else
constexpr auto kRegexFlags = std::regex::ECMAScript;
#endif

// Matches one bracket set starting after its "["; gives the position after its "]", or
// nothing when the pattern has no "]" to close it (then "[" stands for itself).
std::optional<size_t> MatchSet(const std::u32string& pattern, size_t start, char32_t c,
                               bool& matched) {
    size_t i = start;
    bool negated = i < pattern.size() && (pattern[i] == U'!' || pattern[i] == U'^');
    if (negated) ++i;
    bool found = false;
    for (bool first = true; i < pattern.size() && (first || pattern[i] != U']'); first = false) {
        char32_t low = pattern[i++];
        if (low == U'\\' && i < pattern.size()) low = pattern[i++];
        char32_t high = low;
        if (i + 1 < pattern.size() && pattern[i] == U'-' && pattern[i + 1] != U']') {
            high = pattern[i + 1];
            i += 2;
            if (high == U'\\' && i < pattern.size()) high = pattern[i++];
        }
        if (low <= c && c <= high) found = true;
    }
    if (i >= pattern.size()) return std::nullopt;
    matched = found != negated;
    return i + 1;
}

}  // namespace

bool GlobMatches(const std::u32string& pattern, const std::u32string& text) {
    // Backtracking to the last star only: linear memory, no recursion on long values.
    size_t p = 0, t = 0;
    std::optional<size_t> starP, starT;
    while (t < text.size()) {
        bool advanced = false;
        if (p < pattern.size()) {
            char32_t c = pattern[p];
            if (c == U'*') {
                starP = ++p;
                starT = t;
                continue;
            }
            if (c == U'?') {
                ++p, ++t, advanced = true;
            } else if (c == U'[') {
                bool matched = false;
                if (std::optional<size_t> after = MatchSet(pattern, p + 1, text[t], matched)) {
                    if (matched) p = *after, ++t, advanced = true;
                } else if (text[t] == U'[') {
                    ++p, ++t, advanced = true;
                }
            } else {
                size_t width = 1;
                if (c == U'\\' && p + 1 < pattern.size()) c = pattern[p + 1], width = 2;
                if (c == text[t]) p += width, ++t, advanced = true;
            }
        }
        if (advanced) continue;
        if (!starP) return false;
        p = *starP;
        t = ++*starT;
    }
    while (p < pattern.size() && pattern[p] == U'*') ++p;
    return p == pattern.size();
}

ValueMatch::ValueMatch(std::optional<std::string> value, std::optional<std::string> glob,
                       const std::optional<std::string>& regex)
    : value_(std::move(value)) {
    if (glob) glob_ = CodePoints(*glob);
    if (regex) {
        try {
            std::wstring pattern = Wide(*regex);
            std::wregex alone(pattern, kRegexFlags);  // its own errors, before it is wrapped
            regex_.emplace(L"[\\s\\S]*(?:" + pattern + L")[\\s\\S]*", kRegexFlags);
        } catch (const std::regex_error& error) {
            std::string reason = error.what();
            if (!reason.empty() && reason.back() == '.') reason.pop_back();
            throw UsageError("The regular expression cannot be used: " + reason + ".");
        }
    }
}

bool ValueMatch::Matches(const std::vector<std::string>& readings) const {
    if (!NeedsValue()) return true;
    return std::any_of(readings.begin(), readings.end(), [this](const std::string& text) {
        if (value_) return text == *value_;
        if (glob_) return GlobMatches(*glob_, CodePoints(text));
        return std::regex_match(Wide(text), *regex_);
    });
}

}  // namespace quarrow2::tool
