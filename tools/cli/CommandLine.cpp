#include "tools/cli/CommandLine.h"

namespace tarvolen::cli {

bool OptionCursor::next() {
    if (m_at + 1 >= m_argc) return false;
    m_argument = m_argv[++m_at];
    m_name = m_argument;
    m_inlineValue.reset();
    if (const size_t eq = m_name.find('='); m_name.starts_with("--") && eq != std::string::npos) {
        m_inlineValue = m_name.substr(eq + 1);
        m_name.resize(eq);
    }
    return true;
}

std::string OptionCursor::value() {
    if (m_inlineValue) return *m_inlineValue;
    if (m_at + 1 >= m_argc) throw UsageError("option " + m_name + " needs a value");
    return m_argv[++m_at];
}

void OptionCursor::requireNoValue() const {
    if (m_inlineValue) throw UsageError("option " + m_name + " takes no value");
}

const std::string* CommandArguments::value(const std::string& name) const {
    const auto at = values.find(name);
    return at == values.end() ? nullptr : &at->second;
}

const std::string& CommandArguments::required(const std::string& name) const {
    const std::string* v = value(name);
    if (v == nullptr) throw UsageError(command + " needs " + name);
    return *v;
}

namespace {

bool isToolFlag(const std::string& arg) {
    return arg == "--help" || arg == "-h" || arg == "--version";
}

// One argument after the command: another argument, or one of the command's options.
void takeCommandArgument(OptionCursor& cursor, const CommandRules& rules, CommandArguments& a) {
    const std::string& arg = cursor.name();
    if (!arg.starts_with("--")) {
        if (a.positional.size() >= rules.maxPositional)
            throw UsageError("unexpected argument " + arg + " for " + a.command);
        a.positional.push_back(arg);
    } else if (rules.valued.count(arg) != 0) {
        a.values[arg] = cursor.value();
    } else if (rules.flags.count(arg) != 0 && !cursor.hasInlineValue()) {
        a.flags.insert(arg);
    } else {
        throw UsageError("unknown option " + arg + " for " + a.command);
    }
}

}  // namespace

CommandArguments parseCommandArguments(int argc, char** argv,
                                       const std::map<std::string, CommandRules>& commands) {
    CommandArguments a;
    OptionCursor cursor(argc, argv);
    while (cursor.next()) {
        // Until the command is known an argument is taken whole, '=' and all.
        const std::string& arg = cursor.argument();
        const CommandRules* rules = a.command.empty() ? nullptr : &commands.at(a.command);
        // --version of a command that takes it (tarvolen-plan add) is the command's.
        const bool commandTakesIt = rules != nullptr && rules->valued.count(arg) != 0;
        if (isToolFlag(arg) && !commandTakesIt) {
            a.flags.insert(arg == "-h" ? "--help" : arg);
        } else if (rules == nullptr && !arg.starts_with("-")) {
            if (commands.count(arg) == 0) throw UsageError("unknown command " + arg);
            a.command = arg;
        } else if (rules == nullptr) {
            throw UsageError("unknown option " + arg);
        } else {
            takeCommandArgument(cursor, *rules, a);
        }
    }
    return a;
}

void printUsageError(std::FILE* out, const char* tool, const UsageError& error, const char* usage) {
    std::fprintf(out, "%s: %s\n%sTry '%s --help' for more.\n", tool, error.what(), usage, tool);
}

}  // namespace tarvolen::cli
