// The command line: commands, options and help, then the command's run.
#pragma once

#include <string>
#include <vector>

namespace quarrow2::tool {

// Parses the arguments (after the program name, UTF-8), runs the command and gives the
// exit status. Help and the version need no library; a command loads it.
int RunCommandLine(const std::vector<std::string>& arguments);

}  // namespace quarrow2::tool
