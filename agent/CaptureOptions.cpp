#include "agent/CaptureOptions.h"

#include <charconv>

namespace {

// The value of "--name VALUE" or "--name=VALUE" at arguments[at], or false when arguments[at]
// is another argument.
bool TakeValue(const std::vector<std::string>& arguments, std::size_t& at, const std::string& name,
               std::string& value, std::string& error) {
    const std::string& argument = arguments[at];
    if (argument.starts_with(name + "=")) {
        value = argument.substr(name.size() + 1);
        ++at;
    } else if (argument == name) {
        if (at + 1 >= arguments.size()) {
            error = name + " needs a value";
            at = arguments.size();
            return true;
        }
        value = arguments[at + 1];
        at += 2;
    } else {
        return false;
    }
    if (value.empty()) {
        error = name + " needs a value";
    }
    return true;
}

// A whole number from 1 to limit, or 0 with the reason in error.
unsigned long WholeNumber(const std::string& name, const std::string& value, unsigned long limit,
                          std::string& error) {
    unsigned long number = 0;
    const char* end = value.data() + value.size();
    const auto [stop, problem] = std::from_chars(value.data(), end, number);
    if (problem != std::errc() || stop != end || number == 0 || number > limit) {
        error = name + " takes a whole number from 1 to " + std::to_string(limit) + ", not \"" +
                value + "\"";
        return 0;
    }
    return number;
}

// A size in MiB from kMinSizeMiB to kMaxSizeMiB as bytes, or 0 with the reason in error.
std::uint64_t FileBytes(const std::string& value, std::string& error) {
    double mebibytes = 0;
    const char* end = value.data() + value.size();
    const auto [stop, problem] = std::from_chars(value.data(), end, mebibytes);
    if (problem != std::errc() || stop != end || !(mebibytes >= TCaptureOptions::kMinSizeMiB) ||
        mebibytes > TCaptureOptions::kMaxSizeMiB) {
        error = "--capture-size takes MiB from 0.0625 to 1048576, not \"" + value + "\"";
        return 0;
    }
    return static_cast<std::uint64_t>(mebibytes * 1024 * 1024);
}

}  // namespace

bool ParseCaptureOption(const std::vector<std::string>& arguments, std::size_t& at,
                        TCaptureOptions& options, std::string& error) {
    std::string value;
    if (TakeValue(arguments, at, "--capture", value, error)) {
        options.path = value;
    } else if (TakeValue(arguments, at, "--capture-size", value, error)) {
        if (error.empty()) {
            options.fileBytes = FileBytes(value, error);
        }
    } else if (TakeValue(arguments, at, "--capture-files", value, error)) {
        if (error.empty()) {
            options.files =
                WholeNumber("--capture-files", value, TCaptureOptions::kMaxFiles, error);
        }
    } else {
        return false;
    }
    return true;
}

std::string CheckCaptureOptions(const TCaptureOptions& options) {
    if (options.path.empty() && (options.fileBytes != 0 || options.files != 0)) {
        return "--capture-size and --capture-files need --capture FILE";
    }
    if (options.files != 0 && options.fileBytes == 0) {
        return "--capture-files needs --capture-size";
    }
    if (options.path == "-" && options.fileBytes != 0) {
        return "a capture to standard output (--capture -) takes no --capture-size";
    }
    return std::string();
}
