#pragma once
// Reading the tools' command lines: options spelt `--name VALUE` or `--name=VALUE`, flags
// without a value, and for the tools with commands (`tarvolen-plan add ...`) which options each
// command takes. Every fault is a UsageError whose text the tools print as it is.

#include <cstddef>
#include <cstdio>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "tools/cli/UsageError.h"

namespace tarvolen::cli {

// Walks the arguments after the program name one at a time. An argument starting with "--" and
// holding '=' is split into its name and an inline value.
class OptionCursor {
  public:
    OptionCursor(int argc, char** argv) : m_argc(argc), m_argv(argv) {}

    // Moves to the next argument; false when there is none.
    bool next();
    // The current argument as given.
    const std::string& argument() const { return m_argument; }
    // The current argument, without its inline value.
    const std::string& name() const { return m_name; }
    bool hasInlineValue() const { return m_inlineValue.has_value(); }
    // The option's value: the inline one, else the next argument (consumed).
    // Throws UsageError "option NAME needs a value" when there is neither.
    std::string value();
    // Throws UsageError "option NAME takes no value" when the flag was given one.
    void requireNoValue() const;

  private:
    int m_argc;
    char** m_argv;
    int m_at = 0;
    std::string m_argument;
    std::string m_name;
    std::optional<std::string> m_inlineValue;
};

// The options one command takes: those with a value, flags, and how many other arguments.
struct CommandRules {
    std::set<std::string> valued;
    std::set<std::string> flags;
    size_t maxPositional = 0;
};

// The command line of a tool with commands: the command, its options by name, and the other
// arguments in order. --help (-h) and --version are flags anywhere, except where the command
// itself takes --version with a value.
struct CommandArguments {
    std::string command;
    std::map<std::string, std::string> values;
    std::set<std::string> flags;
    std::vector<std::string> positional;

    const std::string* value(const std::string& name) const;
    // Throws UsageError "COMMAND needs NAME" when the option was not given.
    const std::string& required(const std::string& name) const;
    bool has(const std::string& name) const { return flags.count(name) != 0; }
};

// Throws UsageError naming the first argument that `commands` does not allow.
CommandArguments parseCommandArguments(int argc, char** argv,
                                       const std::map<std::string, CommandRules>& commands);

// "TOOL: MESSAGE", the usage, and where to read more, on `out`.
void printUsageError(std::FILE* out, const char* tool, const UsageError& error, const char* usage);

}  // namespace tarvolen::cli
