#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

// The command line every tool shares: --help and --version answered on
// standard output with status 0; a wrong argument reported on standard error
// as "PROGRAM: what is wrong", followed by the usage, with status 2; every
// message of the tool starting with its name.

// Exit status of a tool whose arguments are wrong.
inline constexpr int kWrongArgumentsStatus = 2;

// One option a tool takes: its long name ("--wait"), optionally a short one
// ("-w"), and whether a value follows it.
struct TOptionSpec {
    std::string_view name;
    std::string_view shortName;
    bool takesValue = false;
};

// What is fixed about a tool's command line.
struct TToolSyntax {
    std::string_view program;  // the name in front of every message
    // The --help text. Its first paragraph (up to the first empty line) is
    // the synopsis shown after a wrong argument.
    std::string_view usage;
    std::span<const TOptionSpec> options;  // besides --help/-h and --version
};

// One option as given, under its long name.
struct TGivenOption {
    std::string_view name;
    std::string value;  // empty for an option without a value
};

// A command line split into options and operands.
struct TArguments {
    enum class TRequest { Run, Help, Version };

    TRequest request = TRequest::Run;
    std::vector<TGivenOption> options;  // in the order given
    std::vector<std::string> operands;  // everything that is no option, in order
};

// Splits args (the words after the program's name) by the tool's options. A
// value follows its option as the next word, whatever it looks like, or for
// a long name after "=" ("--wait=5"). "--" ends the options; "-" alone is an
// operand. --help or --version anywhere asks for that and nothing else, once
// the rest has split without error. Nothing, with the reason in error
// ("unknown option -x", "--dir needs a value", "--json takes no value"),
// when a word cannot be split.
[[nodiscard]] std::optional<TArguments> SplitArguments(const TToolSyntax& syntax,
                                                       const std::vector<std::string>& args,
                                                       std::string& error);

// The synopsis of the usage: its first paragraph.
std::string_view UsageSynopsis(std::string_view usage);

// Writes "PROGRAM: message" and a line end on standard error.
void ToolMessage(std::string_view program, std::string_view message);

// ToolMessage, then the status to exit with.
int ToolFailure(std::string_view program, int status, std::string_view message);

// Reports a wrong argument: the message, then the synopsis, on standard
// error. Returns kWrongArgumentsStatus.
int WrongArguments(const TToolSyntax& syntax, std::string_view message);

// Reads the command line of main into the tool's options by parse, a
// function (const TArguments&, std::string& error) -> std::optional<TOptions>
// that says in error why arguments it cannot use are wrong. Answers --help
// and --version and reports wrong arguments; then there is nothing to run,
// and the result is the status to exit with.
template <class TOptions, class TParse>
std::variant<TOptions, int> ReadCommandLine(const TToolSyntax& syntax, int argc, char** argv,
                                            TParse parse);

// Prints the usage (Help) or "PROGRAM VERSION" (Version) on standard output.
// Returns the status to exit with: 0, or 1 when standard output failed.
int AnswerRequest(const TToolSyntax& syntax, TArguments::TRequest request);

template <class TOptions, class TParse>
std::variant<TOptions, int> ReadCommandLine(const TToolSyntax& syntax, int argc, char** argv,
                                            TParse parse) {
    std::string error;
    const std::optional<TArguments> arguments =
        SplitArguments(syntax, std::vector<std::string>(argv + 1, argv + argc), error);
    if (!arguments) {
        return WrongArguments(syntax, error);
    }
    if (arguments->request != TArguments::TRequest::Run) {
        return AnswerRequest(syntax, arguments->request);
    }
    std::optional<TOptions> options = parse(*arguments, error);
    if (!options) {
        return WrongArguments(syntax, error);
    }
    return std::move(*options);
}
