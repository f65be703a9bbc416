// quarrow2: the command-line tool over the library's public interfaces.
#include "tools/cli/cli.h"

int main(int argc, char** argv) { return quarrow2::tool::RunTool(argc, argv); }
