// SPDX-License-Identifier: MIT
#include "Completion.hpp"

#include <fmt/format.h>
#include <CLI/CLI.hpp>

#include <algorithm>
#include <map>
#include <set>

#include "Tool.hpp"

namespace CorvaneTool {

namespace {

std::map<const CLI::Option*, std::vector<std::string>> optionWords;
std::set<const CLI::Option*> fileOptions;
std::map<std::pair<const CLI::App*, std::string>, std::vector<std::string>> wordsAfter;

bool TakesFiles(const CLI::Option* option) {
    const std::string type = option->get_type_name();
    // Arguments lose their type name for the help's sake: their name says it.
    const std::string name = option->get_positional() ? option->get_name() : type;
    return fileOptions.count(option) > 0 || type.find("FILE") != std::string::npos ||
           type.find("IMAGE") != std::string::npos || name.find("FILE") != std::string::npos;
}

std::vector<std::string> Names(const CLI::Option* option) {
    std::vector<std::string> names;
    for (const std::string& name : option->get_lnames()) names.push_back("--" + name);
    for (const std::string& name : option->get_snames()) names.push_back("-" + name);
    return names;
}

std::string Join(const std::vector<std::string>& words, const char* between = " ") {
    std::string text;
    for (const std::string& word : words) text += (text.empty() ? "" : between) + word;
    return text;
}

// What the completion offers, command by command.
struct Command {
    std::string path;  // "" for the program itself, "/eeprom/read"
    std::vector<std::string> words;
    bool files = false;  // an argument is a file
};

struct OptionValue {
    std::string path;  // "*": a global option, anywhere
    std::vector<std::string> names;
    bool files = false;
    std::vector<std::string> words;
};

struct Model {
    std::vector<Command> commands;
    std::vector<OptionValue> values;
    // (path, the word before) -> words
    std::vector<std::pair<std::pair<std::string, std::string>, std::vector<std::string>>> after;
};

void AddOptionValues(const CLI::App& command, const std::string& path, Model& model) {
    for (const CLI::Option* option : command.get_options()) {
        if (option->get_positional() || option->get_type_size() == 0) continue;
        OptionValue value{path, Names(option), TakesFiles(option), {}};
        if (const auto found = optionWords.find(option); found != optionWords.end()) {
            value.words = found->second;
        }
        if (value.files || !value.words.empty()) model.values.push_back(value);
    }
}

void Walk(const CLI::App& command, const std::string& path, const std::vector<std::string>& global,
          Model& model) {
    Command entry{path, {}, false};
    for (const CLI::App* sub : command.get_subcommands({})) {
        if (sub->get_group().empty()) continue;  // hidden
        entry.words.push_back(sub->get_name());
    }
    for (const CLI::Option* option : command.get_options()) {
        if (option->get_positional()) {
            entry.files = entry.files || TakesFiles(option);
            if (const auto found = optionWords.find(option); found != optionWords.end()) {
                entry.words.insert(entry.words.end(), found->second.begin(), found->second.end());
            }
            continue;
        }
        for (const std::string& name : Names(option)) entry.words.push_back(name);
    }
    if (command.get_parent() != nullptr) {
        entry.words.insert(entry.words.end(), global.begin(), global.end());
        AddOptionValues(command, path, model);
    }
    for (const auto& [key, words] : wordsAfter) {
        if (key.first == &command) model.after.push_back({{path, key.second}, words});
    }
    model.commands.push_back(entry);
    for (const CLI::App* sub : command.get_subcommands({})) {
        if (sub->get_group().empty()) continue;
        Walk(*sub, path + "/" + sub->get_name(), global, model);
    }
}

Model Build(const CLI::App& app) {
    Model model;
    std::vector<std::string> global;
    for (const CLI::Option* option : app.get_options()) {
        if (option->get_positional() || option->get_name() == "--help") continue;
        for (const std::string& name : option->get_lnames()) global.push_back("--" + name);
    }
    AddOptionValues(app, "*", model);
    Walk(app, "", global, model);
    return model;
}

std::string CommandPaths(const Model& model) {
    std::vector<std::string> paths;
    for (const Command& command : model.commands) {
        if (!command.path.empty()) paths.push_back(command.path);
    }
    return Join(paths, "|");
}

// A case pattern of bash and zsh for "PATH PREVIOUS-WORD".
std::string Pattern(const std::string& path, const std::string& word) {
    return path == "*" ? fmt::format("*\" {}\"", word) : fmt::format("\"{} {}\"", path, word);
}

// bash and zsh read the same script but for their ways of offering words.
std::string ShellScript(const Model& model, bool zsh) {
    const std::string open = zsh ? "(" : "";
    const std::string files =
        zsh ? "_files; return" : "COMPREPLY=($(compgen -f -- \"$cur\")); return";
    std::string cases;
    for (const OptionValue& value : model.values) {
        std::vector<std::string> patterns;
        for (const std::string& name : value.names) patterns.push_back(Pattern(value.path, name));
        cases += fmt::format("        {}{}) {} ;;\n", open, Join(patterns, "|"),
                             value.files
                                 ? files
                                 : fmt::format(fmt::runtime(zsh ? "values=({})" : "words=\"{}\""),
                                               Join(value.words)));
    }
    for (const auto& [key, words] : model.after) {
        cases += fmt::format(
            "        {}{}) {} ;;\n", open, Pattern(key.first, key.second),
            fmt::format(fmt::runtime(zsh ? "values=({})" : "words=\"{}\""), Join(words)));
    }
    std::string commands;
    for (const Command& command : model.commands) {
        commands += fmt::format(
            "            {}\"{}\") {}{} ;;\n", open, command.path,
            fmt::format(fmt::runtime(zsh ? "values=({})" : "words=\"{}\""), Join(command.words)),
            command.files ? " files=1" : "");
    }
    const std::string walk = fmt::format(
        "    for word in {}; do\n"
        "        case \"$cpath/$word\" in\n"
        "            {}{}) cpath=\"$cpath/$word\" ;;\n"
        "        esac\n"
        "    done\n",
        zsh ? "\"${(@)words[2,CURRENT-1]}\"" : "\"${COMP_WORDS[@]:1:COMP_CWORD-1}\"", open,
        CommandPaths(model));
    const std::string choose = fmt::format(
        "    case \"$cpath $prev\" in\n"
        "{}"
        "        {}*)\n"
        "            case \"$cpath\" in\n"
        "{}"
        "            esac ;;\n"
        "    esac\n",
        cases, open, commands);
    if (zsh) {
        return "#compdef corvane\n"
               "# zsh completion for corvane, generated by 'corvane completion zsh'\n"
               "_corvane() {\n"
               "    local cur=${words[CURRENT]} prev=${words[CURRENT-1]} cpath=\"\" word "
               "files=\"\"\n"
               "    local -a values\n" +
               walk + choose +
               "    compadd -a values\n"
               "    [[ -n $files && $cur != -* ]] && _files\n"
               "    return 0\n"
               "}\n"
               "_corvane \"$@\"\n";
    }
    return "# bash completion for corvane, generated by 'corvane completion bash'\n"
           "_corvane() {\n"
           "    local cur=${COMP_WORDS[COMP_CWORD]} prev=\"\" cpath=\"\" word words=\"\" "
           "files=\"\"\n"
           "    ((COMP_CWORD > 1)) && prev=${COMP_WORDS[COMP_CWORD-1]}\n" +
           walk + choose +
           "    COMPREPLY=($(compgen -W \"$words\" -- \"$cur\"))\n"
           "    [[ -n $files && $cur != -* ]] && COMPREPLY+=($(compgen -f -- \"$cur\"))\n"
           "    return 0\n"
           "}\n"
           "complete -o default -F _corvane corvane\n";
}

std::string Quoted(const std::vector<std::string>& words) {
    return "'" + Join(words) + "'";
}

std::string FishScript(const Model& model) {
    std::vector<std::string> paths;
    for (const Command& command : model.commands) {
        if (!command.path.empty()) paths.push_back(command.path);
    }
    std::string script = fmt::format(
        "# fish completion for corvane, generated by 'corvane completion fish'\n"
        "function __corvane_path\n"
        "    set -l cpath \"\"\n"
        "    for word in (commandline -opc)[2..-1]\n"
        "        switch \"$cpath/$word\"\n"
        "            case {}\n"
        "                set cpath \"$cpath/$word\"\n"
        "        end\n"
        "    end\n"
        "    echo \"$cpath\"\n"
        "end\n"
        "function __corvane_at\n"
        "    set -l cpath (__corvane_path)\n"
        "    test \"$cpath\" = \"$argv[1]\"\n"
        "end\n"
        "function __corvane_after\n"
        "    set -l words (commandline -opc)\n"
        "    __corvane_at $argv[1]; and test \"$words[-1]\" = \"$argv[2]\"\n"
        "end\n"
        "complete -c corvane -f\n",
        Join(paths));
    for (const Command& command : model.commands) {
        std::vector<std::string> plain;
        for (const std::string& word : command.words) {
            if (!word.starts_with("-")) plain.push_back(word);
        }
        const std::string at = fmt::format("-n '__corvane_at \"{}\"'", command.path);
        if (!plain.empty())
            script += fmt::format("complete -c corvane {} -a {}\n", at, Quoted(plain));
        if (command.files) script += fmt::format("complete -c corvane {} -F\n", at);
    }
    // Options with their values; the others are offered by name.
    std::set<std::pair<std::string, std::string>> described;
    for (const OptionValue& value : model.values) {
        std::string names;
        for (const std::string& name : value.names) {
            names += name.starts_with("--") ? " -l " + name.substr(2) : " -s " + name.substr(1);
            described.insert({value.path, name});
        }
        const std::string where =
            value.path == "*" ? "" : fmt::format(" -n '__corvane_at \"{}\"'", value.path);
        script += fmt::format("complete -c corvane{}{} {}\n", where, names,
                              value.files ? "-r -F" : "-x -a " + Quoted(value.words));
    }
    for (const Command& command : model.commands) {
        for (const std::string& word : command.words) {
            if (!word.starts_with("-") || described.count({command.path, word}) ||
                described.count({"*", word})) {
                continue;
            }
            script += fmt::format("complete -c corvane -n '__corvane_at \"{}\"' {} {}\n",
                                  command.path, word.starts_with("--") ? "-l" : "-s",
                                  word.substr(word.starts_with("--") ? 2 : 1));
        }
    }
    for (const auto& [key, words] : model.after) {
        script += fmt::format("complete -c corvane -n '__corvane_after \"{}\" {}' -a {}\n",
                              key.first, key.second, Quoted(words));
    }
    return script;
}

// Edit distance with a swap of two neighbours counting one.
std::size_t Distance(const std::string& a, const std::string& b) {
    std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
    for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
    for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
            }
        }
    }
    return d[a.size()][b.size()];
}

}  // namespace

void CompletionWords(const CLI::Option* option, std::vector<std::string> words) {
    optionWords[option] = std::move(words);
}

void CompletionFiles(const CLI::Option* option) {
    fileOptions.insert(option);
}

void CompletionWordsAfter(const CLI::App* command, const std::string& word,
                          std::vector<std::string> words) {
    wordsAfter[{command, word}] = std::move(words);
}

std::string CompletionScript(const CLI::App& app, const std::string& shell) {
    const Model model = Build(app);
    if (shell == "fish") return FishScript(model);
    return ShellScript(model, shell == "zsh");
}

std::string NearestCommand(const CLI::App& command, const std::string& word) {
    std::string nearest;
    std::size_t best = word.size() <= 3 ? 1 : 2;
    for (const CLI::App* sub : command.get_subcommands({})) {
        if (sub->get_group().empty()) continue;
        const std::size_t distance = Distance(word, sub->get_name());
        if (distance <= best && (nearest.empty() || distance < best)) {
            best = distance;
            nearest = sub->get_name();
        }
    }
    return nearest;
}

}  // namespace CorvaneTool
