// Shell completion scripts for bash, zsh and fish, written from the tool's own command table
// so that a new command or option completes without anyone editing a script.
#pragma once

namespace CLI {
class App;
}

namespace quarrow2::tool {

// Adds the hidden option --completion SHELL to `app`: it writes the completion script of
// `app` as it stands after parsing and ends the run with success. Values named PATH, FILE,
// DIR, SRC or DEST (by their positional name or their type name) complete file names.
void AddCompletionOption(CLI::App& app);

}  // namespace quarrow2::tool
