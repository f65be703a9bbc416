#include "tools/formats/failure.h"

#include <cstdio>

#include "quarrow2/client.h"
#include "tools/formats/text.h"

namespace quarrow2::tool {
namespace {

// Keeps the message on one line, and the terminal safe, whatever the name holds.
std::string Quoted(const std::string& name) {
    std::string result = "\"";
    for (char c : EscapedForDisplay(name)) {
        if (c == '"') result += '\\';
        result += c;
    }
    return result + "\"";
}

std::string WithSubject(const std::string& description, const std::string& path,
                        const std::optional<std::string>& type) {
    std::string message = description + " (file " + Quoted(path);
    if (type) message += ", type " + Quoted(*type);
    return message + ")";
}

std::string DescribeStatus(HRESULT status) {
    switch (status) {
        case E_OUTOFMEMORY:
            return "Not enough memory.";
        case E_INVALIDARG:
            return "Invalid argument.";
        default: {
            char text[64];
            std::snprintf(text, sizeof text, "The library failed with status 0x%08X.",
                          static_cast<unsigned>(status));
            return text;
        }
    }
}

}  // namespace

std::string TakeErrorDescription(IUnknown* object, REFIID iid, HRESULT status) {
    if (OffersRichErrors(object, iid)) {
        RichError error = TakeRichError();
        if (error.description.length() > 0) {
            std::string text = DisplayableUtf8(error.description.get(), error.description.length());
            while (!text.empty() &&
                   (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
                text.pop_back();
            if (!text.empty()) return text;
        }
    }
    return DescribeStatus(status);
}

Failure::Failure(const std::string& description)
    : std::runtime_error(description), description_(description) {}

Failure::Failure(const std::string& description, const std::string& path,
                 const std::optional<std::string>& type)
    : std::runtime_error(WithSubject(description, path, type)), description_(description) {}

}  // namespace quarrow2::tool
