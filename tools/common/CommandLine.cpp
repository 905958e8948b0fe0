#include "common/CommandLine.h"

#include <cstdio>

#include "ProjectVersion.h"

namespace {

const TOptionSpec kHelp{"--help", "-h", false};
const TOptionSpec kVersion{"--version", "", false};

const TOptionSpec* FindOption(const TToolSyntax& syntax, std::string_view word) {
    if (word == kHelp.name || word == kHelp.shortName) {
        return &kHelp;
    }
    if (word == kVersion.name) {
        return &kVersion;
    }
    for (const TOptionSpec& spec : syntax.options) {
        if (word == spec.name || (!spec.shortName.empty() && word == spec.shortName)) {
            return &spec;
        }
    }
    return nullptr;
}

bool IsOption(const std::string& word) {
    return word.size() > 1 && word[0] == '-';
}

void Write(std::FILE* stream, std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stream);
}

}  // namespace

std::optional<TArguments> SplitArguments(const TToolSyntax& syntax,
                                         const std::vector<std::string>& args,
                                         std::string& error) {
    TArguments split;
    bool help = false;
    bool version = false;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& word = args[i];
        if (optionsEnded || !IsOption(word)) {
            split.operands.push_back(word);
            continue;
        }
        if (word == "--") {
            optionsEnded = true;
            continue;
        }
        // "--name=value" names its option before the "=".
        const std::size_t equals = word.starts_with("--") ? word.find('=') : std::string::npos;
        const std::string name = word.substr(0, equals);
        const TOptionSpec* spec = FindOption(syntax, name);
        if (spec == nullptr) {
            error = "unknown option " + name;
            return std::nullopt;
        }
        TGivenOption given{spec->name, ""};
        if (equals != std::string::npos) {
            if (!spec->takesValue) {
                error = name + " takes no value";
                return std::nullopt;
            }
            given.value = word.substr(equals + 1);
        } else if (spec->takesValue) {
            if (i + 1 == args.size()) {
                error = name + " needs a value";
                return std::nullopt;
            }
            given.value = args[++i];
        }
        if (spec == &kHelp) {
            help = true;
        } else if (spec == &kVersion) {
            version = true;
        } else {
            split.options.push_back(std::move(given));
        }
    }
    if (help) {
        split.request = TArguments::TRequest::Help;
    } else if (version) {
        split.request = TArguments::TRequest::Version;
    }
    return split;
}

std::string_view UsageSynopsis(std::string_view usage) {
    const std::size_t end = usage.find("\n\n");
    return end == std::string_view::npos ? usage : usage.substr(0, end + 1);
}

void ToolMessage(std::string_view program, std::string_view message) {
    std::string line(program);
    line += ": ";
    line += message;
    line += '\n';
    Write(stderr, line);
}

int ToolFailure(std::string_view program, int status, std::string_view message) {
    ToolMessage(program, message);
    return status;
}

int WrongArguments(const TToolSyntax& syntax, std::string_view message) {
    ToolMessage(syntax.program, message);
    Write(stderr, UsageSynopsis(syntax.usage));
    std::string more = "Try '";
    more += syntax.program;
    more += " --help' for more.\n";
    Write(stderr, more);
    return kWrongArgumentsStatus;
}

int AnswerRequest(const TToolSyntax& syntax, TArguments::TRequest request) {
    if (request == TArguments::TRequest::Help) {
        Write(stdout, syntax.usage);
    } else {
        std::string line(syntax.program);
        line += " ";
        line += kProjectVersion;
        line += '\n';
        Write(stdout, line);
    }
    // A help text that did not reach its reader is no success.
    return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
}
