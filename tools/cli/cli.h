// The command line: commands, options and help, then the command's run.
#pragma once

#include <string>
#include <vector>

namespace quarrow2::tool {

// Parses the arguments (after the program name, UTF-8), runs the command and gives the
// exit status. Help and the version need no library; a command loads it.
int RunCommandLine(const std::vector<std::string>& arguments);

// The whole run of the program, as main gives it: the standard streams prepared, the command
// line run, unexpected failures and an output that cannot be written reported.
int RunTool(int argc, char** argv);

}  // namespace quarrow2::tool
