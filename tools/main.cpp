// quarrow2: the command-line tool over the library's public interfaces.
#include <cstdio>
#include <exception>
#include <new>

#include "tools/cli.h"
#include "tools/console.h"
#include "tools/failure.h"
#include "tools/host.h"

int main(int argc, char** argv) {
    using namespace quarrow2::tool;
    int status = kFailure;
    try {
        PrepareStandardStreams();
        status = RunCommandLine(CommandLineArguments(argc, argv));
    } catch (const std::bad_alloc&) {
        ReportFailure("Not enough memory.");
        status = kFailure;
    } catch (const std::exception& error) {
        ReportFailure(std::string("Unexpected failure: ") + error.what());
        status = kFailure;
    }
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "quarrow2: Unable to write the output.\n");
        return kFailure;
    }
    return status;
}
