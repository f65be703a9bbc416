// A peer program that takes and gives names and values as hex: "list FILE", "read FILE
// NAME" (exit status 2 when there is no such stream) and "write FILE NAME VALUE".
#pragma once

#include "peer_items.h"

namespace quarrow2::test::peers {

class HexPeer final : public Peer {
public:
    HexPeer(std::vector<std::string> command, std::vector<std::string> environment)
        : command_(std::move(command)), environment_(std::move(environment)) {}

    void Write(const std::filesystem::path& file, const std::string& type,
               const Bytes& value) override {
        const ProgramRun run = Run({"write", file.string(), Hex(type), Hex(value)});
        EXPECT_EQ(run.status, 0) << "write " << type << ": " << run.Describe();
    }

    std::optional<Bytes> Read(const std::filesystem::path& file, const std::string& type) override {
        const ProgramRun run = Run({"read", file.string(), Hex(type)});
        if (run.status == 2) return std::nullopt;
        EXPECT_EQ(run.status, 0) << "read " << type << ": " << run.Describe();
        return FromHex(run.out);
    }

    std::vector<std::string> List(const std::filesystem::path& file) override {
        const ProgramRun run = Run({"list", file.string()});
        EXPECT_EQ(run.status, 0) << "list: " << run.Describe();
        std::vector<std::string> types;
        for (const std::string& line : Lines(run.out)) {
            const Bytes name = FromHex(line);
            types.emplace_back(name.begin(), name.end());
        }
        return types;
    }

private:
    ProgramRun Run(const std::vector<std::string>& arguments) const {
        std::vector<std::string> argv = command_;
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        return RunProgram(argv, environment_);
    }

    std::vector<std::string> command_;
    std::vector<std::string> environment_;
};

}  // namespace quarrow2::test::peers
