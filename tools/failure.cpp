#include "failure.h"

namespace quarrow2::tool {
namespace {

// Keeps the message on one line whatever the name holds.
std::string quoted(const std::string& name) {
    std::string result = "\"";
    for (char c : name) {
        if (c == '\n')
            result += "\\n";
        else if (c == '\r')
            result += "\\r";
        else if (c == '"' || c == '\\')
            result += std::string("\\") + c;
        else
            result += c;
    }
    return result + "\"";
}

std::string with_subject(const std::string& description, const std::string& path,
                         const std::optional<std::string>& type) {
    std::string message = description + " (file " + quoted(path);
    if (type) message += ", type " + quoted(*type);
    return message + ")";
}

}  // namespace

Failure::Failure(const std::string& description)
    : std::runtime_error(description), description_(description) {}

Failure::Failure(const std::string& description, const std::string& path,
                 const std::optional<std::string>& type)
    : std::runtime_error(with_subject(description, path, type)), description_(description) {}

}  // namespace quarrow2::tool
