// Running the other programs that read and write the same streams, and the hex form in
// which the peers exchange names and values with the tests.
#pragma once

#include <sys/wait.h>

#include <cctype>
#include <cstdio>
#include <string>
#include <vector>

namespace quarrow2::test::peers {

using Bytes = std::vector<unsigned char>;  // as in posix/file_attributes.h

inline Bytes BytesOf(const std::string& s) { return Bytes(s.begin(), s.end()); }

inline std::string Hex(const Bytes& bytes) {
    std::string out;
    char digits[3];
    for (unsigned char b : bytes) {
        std::snprintf(digits, sizeof digits, "%02x", b);
        out += digits;
    }
    return out;
}
inline std::string Hex(const std::string& s) { return Hex(BytesOf(s)); }

// The bytes of a hex text, up to the first pair that is not hex.
inline Bytes FromHex(const std::string& text) {
    Bytes out;
    for (size_t at = 0;
         at + 1 < text.size() && std::isxdigit(static_cast<unsigned char>(text[at])) &&
         std::isxdigit(static_cast<unsigned char>(text[at + 1]));
         at += 2)
        out.push_back(static_cast<unsigned char>(std::stoi(text.substr(at, 2), nullptr, 16)));
    return out;
}

// The lines of a text, without their line ends; no empty line at the end.
inline std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t begin = 0;
    while (begin < text.size()) {
        size_t end = text.find('\n', begin);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(begin, end - begin));
        begin = end + 1;
    }
    return lines;
}

struct ProgramRun {
    int status = -1;  // the exit status; -1 when the program could not run or was killed
    std::string out;  // its standard error goes to the test's own
    std::string Describe() const { return "exit " + std::to_string(status); }
};

// Runs a program to its end with no input; `environment` holds extra NAME=VALUE entries.
inline ProgramRun RunProgram(const std::vector<std::string>& argv,
                             const std::vector<std::string>& environment = {}) {
    std::string command = "env";
    for (const std::vector<std::string>* words : {&environment, &argv}) {
        for (const std::string& word : *words) {
            command += " '";
            for (char c : word) command += c == '\'' ? std::string("'\\''") : std::string(1, c);
            command += "'";
        }
    }
    ProgramRun run;
    FILE* pipe = popen((command + " </dev/null").c_str(), "r");
    if (!pipe) return run;
    char buffer[4096];
    for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        run.out.append(buffer, got);
    const int status = pclose(pipe);
    if (status != -1 && WIFEXITED(status)) run.status = WEXITSTATUS(status);
    return run;
}

}  // namespace quarrow2::test::peers
