// Running the other programs that read and write the same streams, and the hex form in
// which the peers exchange names and values with the tests.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

namespace quarrow2::test::peers {

using Bytes = std::vector<unsigned char>;  // as in posix/file_attributes.h

inline Bytes BytesOf(const std::string& s) { return Bytes(s.begin(), s.end()); }

inline std::string Hex(const Bytes& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}
inline std::string Hex(const std::string& s) { return Hex(BytesOf(s)); }

// The bytes of a hex text; whitespace around it is ignored, anything else ends it.
inline Bytes FromHex(const std::string& text) {
    auto value = [](char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    Bytes out;
    size_t at = text.find_first_not_of(" \t\r\n");
    while (at != std::string::npos && at + 1 < text.size()) {
        const int high = value(text[at]);
        const int low = value(text[at + 1]);
        if (high < 0 || low < 0) break;
        out.push_back(static_cast<unsigned char>(high * 16 + low));
        at += 2;
    }
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
    std::string out;
    std::string err;
    std::string Describe() const { return "exit " + std::to_string(status) + ", stderr: " + err; }
};

// Runs a program to its end with no input; `environment` holds extra NAME=VALUE entries.
inline ProgramRun RunProgram(const std::vector<std::string>& argv,
                             const std::vector<std::string>& environment = {}) {
    ProgramRun run;
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0) return run;
    if (pipe2(err, O_CLOEXEC) != 0) {
        close(out[0]);
        close(out[1]);
        return run;
    }
    const pid_t child = fork();
    if (child == 0) {
        const int null = open("/dev/null", O_RDONLY);
        dup2(null, STDIN_FILENO);
        dup2(out[1], STDOUT_FILENO);
        dup2(err[1], STDERR_FILENO);
        for (const std::string& entry : environment) putenv(const_cast<char*>(entry.c_str()));
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        std::fprintf(stderr, "cannot run %s\n", args[0]);
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    if (child > 0) {
        struct pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
        std::string* into[2] = {&run.out, &run.err};
        int open = 2;
        while (open > 0 && poll(fds, 2, -1) > 0) {
            for (int i = 0; i < 2; ++i) {
                if (fds[i].fd < 0 || fds[i].revents == 0) continue;
                char buffer[4096];
                const ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
                if (got > 0) {
                    into[i]->append(buffer, static_cast<size_t>(got));
                } else {
                    fds[i].fd = -1;
                    --open;
                }
            }
        }
        int status = 0;
        if (waitpid(child, &status, 0) == child && WIFEXITED(status))
            run.status = WEXITSTATUS(status);
    }
    close(out[0]);
    close(err[0]);
    return run;
}

}  // namespace quarrow2::test::peers
