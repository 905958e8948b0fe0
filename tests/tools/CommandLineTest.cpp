// The command line the tools share: how words split into options and
// operands, and what is wrong with the ones that do not.

#include "common/CommandLine.h"

#include <gtest/gtest.h>

#include "CommandWords.h"

namespace {

const TOptionSpec kOptions[] = {
    {"--dir", "-d", true},
    {"--json", "", false},
    {"--verbose", "-v", false},
};
const TToolSyntax kSyntax{"tool", "Usage: tool [--json] [-d DIR] FILE...\n\nMore text.\n",
                          kOptions};

// The split as one line: "options | operands | request".
std::string Shown(const TArguments& args) {
    std::string text;
    for (const TGivenOption& option : args.options) {
        text += std::string(option.name) + (option.value.empty() ? "" : "=" + option.value) + " ";
    }
    text += "|";
    for (const std::string& operand : args.operands) {
        text += " " + operand;
    }
    const char* requests[] = {"", " | help", " | version"};
    return text + requests[static_cast<int>(args.request)];
}

TEST(CommandLineTest, SplitsOptionsAndOperands) {
    struct TCase {
        std::string line;
        std::string split;
    };
    const TCase cases[] = {
        {"", "|"},
        {"a b", "| a b"},
        {"--json a -d x b", "--json --dir=x | a b"},
        {"--dir=x/y a", "--dir=x/y | a"},
        {"--dir= a", "--dir | a"},
        // A value is the next word, whatever it looks like.
        {"-d --json a", "--dir=--json | a"},
        {"-d - a", "--dir=- | a"},
        // "-" alone is an operand; "--" ends the options.
        {"- --json", "--json | -"},
        {"-v -- --json -x", "--verbose | --json -x"},
        // The later of two values comes later in the list.
        {"-d x --dir y", "--dir=x --dir=y |"},
        {"a --help", "| a | help"},
        {"-h -d x", "--dir=x | | help"},
        {"--version a", "| a | version"},
        {"--version --help", "| | help"},
    };
    for (const TCase& c : cases) {
        std::string error;
        const std::optional<TArguments> args = SplitArguments(kSyntax, CommandWords(c.line), error);
        ASSERT_TRUE(args.has_value()) << c.line << ": " << error;
        EXPECT_EQ(Shown(*args), c.split) << c.line;
    }
}

TEST(CommandLineTest, WrongWordsAreNamed) {
    struct TCase {
        std::string line;
        std::string error;
    };
    const TCase cases[] = {
        {"--bogus a", "unknown option --bogus"},
        {"-x", "unknown option -x"},
        {"--bogus=1", "unknown option --bogus"},
        {"-d", "-d needs a value"},
        {"a --dir", "--dir needs a value"},
        {"--json=yes", "--json takes no value"},
        {"--help=1", "--help takes no value"},
        // An error comes before a request for help.
        {"--help --bogus", "unknown option --bogus"},
    };
    for (const TCase& c : cases) {
        std::string error;
        EXPECT_FALSE(SplitArguments(kSyntax, CommandWords(c.line), error).has_value()) << c.line;
        EXPECT_EQ(error, c.error) << c.line;
    }
}

TEST(CommandLineTest, TheSynopsisIsTheUsagesFirstParagraph) {
    EXPECT_EQ(UsageSynopsis(kSyntax.usage), "Usage: tool [--json] [-d DIR] FILE...\n");
    EXPECT_EQ(UsageSynopsis("one paragraph only\n"), "one paragraph only\n");
}

}  // namespace
