#include "tools/cli/completion.h"

#include <cstdio>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

namespace quarrow2::tool {
namespace {

struct Argument {
    std::vector<std::string> names;  // with their dashes; empty for a positional
    std::string description;
    bool takesValue = false;
    bool path = false;     // its value is a file name
    bool repeats = false;  // a positional that takes every remaining word
};

struct Command {
    std::string name;
    std::string description;
    std::vector<Argument> options;
    std::vector<Argument> positionals;
};

bool NamesPath(const std::string& name) {
    for (const char* path : {"PATH", "FILE", "DIR", "SRC", "DEST"})
        if (name == path) return true;
    return false;
}

std::string OneLine(std::string text) {
    for (char& c : text)
        if (c == '\n') c = ' ';
    return text;
}

Command describe(const CLI::App& app) {
    Command command{app.get_name(), OneLine(app.get_description()), {}, {}};
    for (const CLI::Option* option : app.get_options()) {
        if (option->get_group().empty()) continue;  // hidden
        Argument argument;
        argument.description = OneLine(option->get_description());
        argument.takesValue = option->get_items_expected_max() != 0;  // none for a flag
        argument.path = NamesPath(option->get_type_name());
        if (!option->nonpositional()) {
            argument.path = argument.path || NamesPath(option->get_single_name());
            argument.repeats = option->get_items_expected_max() > 1;
            command.positionals.push_back(argument);
            continue;
        }
        for (const std::string& name : option->get_snames()) argument.names.push_back("-" + name);
        for (const std::string& name : option->get_lnames()) argument.names.push_back("--" + name);
        command.options.push_back(argument);
    }
    return command;
}

// Text in single quotes for sh, bash and zsh.
std::string Quoted(const std::string& text) {
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

std::string joined(const std::vector<std::string>& words, const char* separator = " ") {
    std::string out;
    for (const std::string& word : words) out += (out.empty() ? "" : separator) + word;
    return out;
}

// The names of a command's options: all of them, those that take a value, those whose
// value is a file name.
std::string OptionNames(const Command& command, bool (*keep)(const Argument&)) {
    std::vector<std::string> names;
    for (const Argument& option : command.options)
        if (keep(option)) names.insert(names.end(), option.names.begin(), option.names.end());
    return joined(names);
}

void WriteBashTable(std::string& out, const Command& command) {
    std::vector<std::string> kinds;
    for (const Argument& positional : command.positionals)
        kinds.push_back(positional.path ? "path" : "word");
    const bool repeats = !command.positionals.empty() && command.positionals.back().repeats;
    out += "        " + Quoted(command.name) + ")\n";
    out += "            options=" +
           Quoted(OptionNames(command, [](const Argument&) { return true; })) + "\n";
    out += "            valued=" +
           Quoted(OptionNames(command, [](const Argument& option) { return option.takesValue; })) +
           "\n";
    out += "            paths=" +
           Quoted(OptionNames(command, [](const Argument& option) { return option.path; })) + "\n";
    out += "            kinds=(" + joined(kinds) + ") repeats=" + (repeats ? "1" : "") + " ;;\n";
}

std::string BashScript(const Command& top, const std::vector<Command>& commands) {
    std::vector<std::string> names;
    for (const Command& command : commands) names.push_back(command.name);
    std::string out = "# bash completion for " + top.name + ", written by " + top.name +
                      " --completion bash\n"
                      "_" +
                      top.name +
                      "_command() {\n"
                      "    case $1 in\n";
    for (const Command& command : commands) WriteBashTable(out, command);
    Command bare = top;
    bare.name = "";
    WriteBashTable(out, bare);
    out +=
        "        *) return 1 ;;\n"
        "    esac\n"
        "}\n"
        "_" +
        top.name +
        "_files() {\n"
        "    compopt -o filenames 2>/dev/null\n"
        "    mapfile -t COMPREPLY < <(compgen -f -- \"$cur\")\n"
        "}\n"
        "_" +
        top.name +
        "() {\n"
        "    local cur=${COMP_WORDS[COMP_CWORD]} command= options valued paths kinds repeats\n"
        "    local i word index=0 value_next= only_positionals=\n"
        "    COMPREPLY=()\n"
        "    _" +
        top.name +
        "_command \"\"\n"
        "    for ((i = 1; i < COMP_CWORD; i++)); do\n"
        "        word=${COMP_WORDS[i]}\n"
        "        if [[ $value_next ]]; then value_next=; continue; fi\n"
        "        if [[ ! $only_positionals && $word == -* ]]; then\n"
        "            [[ $word == -- ]] && only_positionals=1\n"
        "            [[ \" $valued \" == *\" $word \"* ]] && value_next=1\n"
        "        elif [[ ! $command ]]; then\n"
        "            command=$word\n"
        "            _" +
        top.name +
        "_command \"$command\" || return 0\n"
        "        else\n"
        "            ((index++))\n"
        "        fi\n"
        "    done\n"
        "    if [[ $value_next ]]; then\n"
        "        [[ \" $paths \" == *\" ${COMP_WORDS[COMP_CWORD - 1]} \"* ]] && _" +
        top.name +
        "_files\n"
        "        return 0\n"
        "    fi\n"
        "    if [[ ! $only_positionals && $cur == -* ]]; then\n"
        "        mapfile -t COMPREPLY < <(compgen -W \"$options\" -- \"$cur\")\n"
        "    elif [[ ! $command ]]; then\n"
        "        mapfile -t COMPREPLY < <(compgen -W " +
        Quoted(joined(names)) +
        " -- \"$cur\")\n"
        "    else\n"
        "        ((index >= ${#kinds[@]} && repeats)) && index=$((${#kinds[@]} - 1))\n"
        "        [[ ${kinds[index]} == path ]] && _" +
        top.name +
        "_files\n"
        "    fi\n"
        "    return 0\n"
        "}\n"
        "complete -F _" +
        top.name + " " + top.name + "\n";
    return out;
}

// An option or positional of _arguments: exclusion list, names, [description], value.
std::string ZshSpec(const Argument& argument, const std::string& position) {
    std::string description;
    for (char c : argument.description) {
        if (c == '[' || c == ']' || c == ':' || c == '\\') description += '\\';
        description += c;
    }
    std::string value = argument.path ? ":file:_files" : argument.takesValue ? ":value: " : "";
    if (argument.names.empty())
        return Quoted(position + ":" + description + (argument.path ? ":_files" : ": "));
    std::string described = Quoted("[" + description + "]" + value);
    if (argument.names.size() == 1) return Quoted(argument.names[0]) + described;
    return Quoted("(" + joined(argument.names) + ")") + "{" + joined(argument.names, ",") + "}" +
           described;
}

std::string ZshArguments(const Command& command, const std::string& indent) {
    std::string out = indent + "_arguments -s";
    for (const Argument& option : command.options)
        out += " \\\n" + indent + "  " + ZshSpec(option, "");
    int position = 1;
    for (const Argument& positional : command.positionals)
        out += " \\\n" + indent + "  " +
               ZshSpec(positional, positional.repeats ? "*" : std::to_string(position++));
    return out + "\n";
}

std::string ZshScript(const Command& top, const std::vector<Command>& commands) {
    std::string out = "#compdef " + top.name + "\n# zsh completion for " + top.name +
                      ", written by " + top.name + " --completion zsh\n_" + top.name +
                      "() {\n  local curcontext=$curcontext state line\n  local -a commands=(";
    for (const Command& command : commands)
        out += "\n    " + Quoted(command.name + ":" + command.description);
    out += ")\n";
    out += "  _arguments -C";
    for (const Argument& option : top.options) out += " \\\n    " + ZshSpec(option, "");
    out +=
        " \\\n    '1:command:->command' '*::argument:->argument'\n"
        "  case $state in\n"
        "    command) _describe -t commands command commands ;;\n"
        "    argument)\n"
        "      case $line[1] in\n";
    for (const Command& command : commands)
        out += "        " + Quoted(command.name) + ")\n" + ZshArguments(command, "          ") +
               "          ;;\n";
    out += "      esac ;;\n  esac\n}\n_" + top.name + " \"$@\"\n";
    return out;
}

std::string FishQuoted(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'' || c == '\\') out += '\\';
        out += c;
    }
    return out + "'";
}

std::string FishOption(const std::string& head, const Argument& option) {
    std::string out = head;
    for (const std::string& name : option.names)
        out += (name.size() == 2 ? " -s " : " -l ") + name.substr(name[1] == '-' ? 2 : 1);
    if (option.takesValue) out += option.path ? " -r -F" : " -r";
    return out + " -d " + FishQuoted(option.description) + "\n";
}

std::string FishScript(const Command& top, const std::vector<Command>& commands) {
    const std::string head = "complete -c " + top.name;
    std::string out = "# fish completion for " + top.name + ", written by " + top.name +
                      " --completion fish\n" + head + " -f\n";
    for (const Argument& option : top.options)
        out += FishOption(head + " -n __fish_use_subcommand", option);
    for (const Command& command : commands)
        out += head + " -n __fish_use_subcommand -a " + FishQuoted(command.name) + " -d " +
               FishQuoted(command.description) + "\n";
    for (const Command& command : commands) {
        const std::string when =
            head + " -n " + FishQuoted("__fish_seen_subcommand_from " + command.name);
        for (const Argument& option : command.options) out += FishOption(when, option);
        for (const Argument& positional : command.positionals)
            if (positional.path) {
                out += when + " -F\n";
                break;
            }
    }
    return out;
}

void WriteCompletion(const CLI::App& app, const std::string& shell) {
    std::vector<Command> commands;
    for (const CLI::App* command : app.get_subcommands({})) commands.push_back(describe(*command));
    const Command top = describe(app);
    const std::string script = shell == "bash"  ? BashScript(top, commands)
                               : shell == "zsh" ? ZshScript(top, commands)
                                                : FishScript(top, commands);
    std::fwrite(script.data(), 1, script.size(), stdout);
}

}  // namespace

void AddCompletionOption(CLI::App& app) {
    app.add_option_function<std::string>(
           "--completion",
           [&app](const std::string& shell) {
               WriteCompletion(app, shell);
               throw CLI::Success();
           },
           "Write the shell completion script for SHELL")
        ->check(CLI::IsMember({"bash", "zsh", "fish"}))
        ->group("");
}

}  // namespace quarrow2::tool
