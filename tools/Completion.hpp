// SPDX-License-Identifier: MIT
#pragma once

// Shell completion from the command tree the parser uses, and help for a
// mistyped command.

#include <string>
#include <vector>

namespace CLI {
class App;
class Option;
}  // namespace CLI

namespace CorvaneTool {

// The words the completion offers for the value of `option`.
void CompletionWords(const CLI::Option* option, std::vector<std::string> words);
// File names for the value of `option`; options and arguments whose value
// is called FILE or IMAGE get them anyway.
void CompletionFiles(const CLI::Option* option);

// The words the completion offers for the value after `word` in `command`
// ('settings set gp1' is followed by a pin function).
void CompletionWordsAfter(const CLI::App* command, const std::string& word,
                          std::vector<std::string> words);

// A completion script for `shell` (bash, zsh or fish) for the program
// `app` describes: commands, options, the values of options that take one
// of a few words (see CompletionWords), file names after options and
// arguments whose value is a FILE or IMAGE.
std::string CompletionScript(const CLI::App& app, const std::string& shell);

// The subcommand of `command` nearest to `word` by edit distance, when one is
// near enough to be what was meant; empty otherwise.
std::string NearestCommand(const CLI::App& command, const std::string& word);

}  // namespace CorvaneTool
