#include "support/Tshark.h"

#include <filesystem>

#include "support/ChildProcess.h"

namespace {

constexpr const char* kTshark = "/usr/bin/tshark";

}  // namespace

bool HaveTshark() {
    return std::filesystem::exists(kTshark);
}

TTsharkRun RunTshark(const TempDir& directory, const std::vector<std::string>& arguments) {
    std::vector<std::string> argv = {"env",
                                     "HOME=" + directory.Path(),
                                     "XDG_CONFIG_HOME=" + (directory / ".config"),
                                     kTshark,
                                     "-X",
                                     std::string("lua_script:") + PINPAD_DISSECTOR};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    ChildProcess tshark(argv, ChildProcess::TOptions{.directory = directory.Path(),
                                                     .output = directory / "tshark.out",
                                                     .error = directory / "tshark.err"});
    TTsharkRun run;
    run.status = tshark.WaitForExit(60000).value_or(-1);
    run.output = directory.ReadFile("tshark.out");
    run.errors = directory.ReadFile("tshark.err");
    return run;
}
