// The command-line reading the tools share: what each argument becomes, and the message of each
// argument a command does not take. The tools print these messages as they are.

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "tools/cli/CommandLine.h"

namespace tarvolen::cli {
namespace {

const std::map<std::string, CommandRules>& commands() {
    static const std::map<std::string, CommandRules> rules = {
        {"add", {{"--plan", "--version"}, {"--empty-table"}, 0}},
        {"mark", {{"--plan"}, {}, 2}},
    };
    return rules;
}

// The words of `line` as a program's argv, the program name first.
struct Argv {
    explicit Argv(const std::string& line) {
        words.push_back("tool");
        std::istringstream in(line);
        for (std::string word; in >> word;) words.push_back(word);
        for (auto& w : words) pointers.push_back(w.data());
    }
    int argc() const { return static_cast<int>(pointers.size()); }
    char** argv() { return pointers.data(); }
    std::vector<std::string> words;
    std::vector<char*> pointers;
};

// What a command line reads as, in one line, or the message of its UsageError.
std::string readAs(const std::string& line) {
    Argv args(line);
    try {
        const CommandArguments a = parseCommandArguments(args.argc(), args.argv(), commands());
        std::string text = "command=" + a.command;
        for (const auto& [name, value] : a.values) text += " " + name + "=" + value;
        for (const auto& flag : a.flags) text += " " + flag;
        for (const auto& p : a.positional) text += " [" + p + "]";
        return text;
    } catch (const UsageError& e) {
        return std::string("error: ") + e.what();
    }
}

TEST(CommandLine, eachArgumentOfACommandLineReadsAsTheToolsExpect) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", "command="},
        {"-h", "command= --help"},
        {"--version", "command= --version"},
        {"mark 10 S", "command=mark [10] [S]"},
        {"mark --plan p.xml 10", "command=mark --plan=p.xml [10]"},
        {"mark --plan=a=b 10", "command=mark --plan=a=b [10]"},
        {"mark 10 --help", "command=mark --help [10]"},
        {"add --version 1.2 --empty-table", "command=add --version=1.2 --empty-table"},
        {"add --version=1.2", "command=add --version=1.2"},
        {"--version add", "command=add --version"},
        {"frob", "error: unknown command frob"},
        {"--frob=1", "error: unknown option --frob=1"},
        {"--help=1", "error: unknown option --help=1"},
        {"mark 1 2 3", "error: unexpected argument 3 for mark"},
        {"add x", "error: unexpected argument x for add"},
        {"add --frob=1", "error: unknown option --frob for add"},
        {"add --empty-table=yes", "error: unknown option --empty-table for add"},
        {"add --plan", "error: option --plan needs a value"},
        {"mark --help=1", "error: unknown option --help for mark"},
    };
    for (const auto& [line, expected] : cases) EXPECT_EQ(readAs(line), expected) << line;
}

TEST(CommandLine, aRequiredOptionThatIsMissingNamesItsCommand) {
    Argv args("mark 10");
    const CommandArguments a = parseCommandArguments(args.argc(), args.argv(), commands());
    EXPECT_EQ(a.value("--plan"), nullptr);
    try {
        a.required("--plan");
        FAIL() << "a missing option was taken";
    } catch (const UsageError& e) {
        EXPECT_STREQ(e.what(), "mark needs --plan");
    }
}

TEST(CommandLine, aCursorSplitsOnlyLongOptionsAndTakesTheirValues) {
    Argv args("--log=a=b -x=1 --quiet=no --alias");
    OptionCursor cursor(args.argc(), args.argv());
    ASSERT_TRUE(cursor.next());
    EXPECT_EQ(cursor.name(), "--log");
    EXPECT_EQ(cursor.value(), "a=b");
    ASSERT_TRUE(cursor.next());
    EXPECT_EQ(cursor.name(), "-x=1");
    EXPECT_FALSE(cursor.hasInlineValue());
    ASSERT_TRUE(cursor.next());
    EXPECT_EQ(cursor.argument(), "--quiet=no");
    EXPECT_THROW(cursor.requireNoValue(), UsageError);
    ASSERT_TRUE(cursor.next());
    try {
        cursor.value();
        FAIL() << "a value was found past the end";
    } catch (const UsageError& e) {
        EXPECT_STREQ(e.what(), "option --alias needs a value");
    }
    EXPECT_FALSE(cursor.next());
}

}  // namespace
}  // namespace tarvolen::cli
