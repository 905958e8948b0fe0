// terminal-file-server --dir DIR --port N
//
// Serves the files of DIR to terminals over HTTP on port N, through the
// host's network: GET /any?name=FILE&terminalSN=SERIAL answers the contents
// of DIR/FILE; a POST body is stored as DIR/posted/NNNNNNNN.bin and answered
// "OK". Runs until it is interrupted or terminated.

#include <sys/stat.h>

#include <climits>
#include <csignal>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "FileServer.h"
#include "http/HttpServer.h"
#include "platform/System.h"

namespace {

constexpr char cUploadsDirectory[] = "posted";
constexpr unsigned long cIdleWaitMsec = 5;

volatile std::sig_atomic_t g_stopRequested = 0;

void RequestStop(int) {
    g_stopRequested = 1;
}

struct TOptions {
    std::string directory;
    unsigned short port = 0;
};

// The decimal port 1 to 65535, or nothing.
std::optional<unsigned short> ParsePort(const std::string& text) {
    if (text.empty() || text.size() > 5 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        return std::nullopt;
    }
    const unsigned long port = std::stoul(text);
    if (port == 0 || port > 65535) {
        return std::nullopt;
    }
    return static_cast<unsigned short>(port);
}

// The options, or nothing after telling what is wrong.
std::optional<TOptions> ParseOptions(int argc, char** argv) {
    TOptions options;
    bool portGiven = false;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (i + 1 >= argc || (option != "--dir" && option != "--port")) {
            std::cerr << "unexpected argument: " << option << "\n";
            return std::nullopt;
        }
        const std::string value = argv[++i];
        if (option == "--dir") {
            options.directory = value;
        } else if (std::optional<unsigned short> port = ParsePort(value)) {
            options.port = *port;
            portGiven = true;
        } else {
            std::cerr << "not a port number (1 to 65535): " << value << "\n";
            return std::nullopt;
        }
    }
    if (options.directory.empty() || !portGiven) {
        std::cerr << "both --dir and --port are needed\n";
        return std::nullopt;
    }
    return options;
}

// The absolute path of an existing directory, or nothing.
std::optional<std::string> ExistingDirectory(const std::string& path) {
    char resolved[PATH_MAX];
    struct stat status;
    if (realpath(path.c_str(), resolved) == nullptr || stat(resolved, &status) != 0 ||
        !S_ISDIR(status.st_mode)) {
        return std::nullopt;
    }
    return std::string(resolved);
}

// Whether the host's network can listen on the port. The listen made here is
// the one the server goes on to use.
bool CanListen(unsigned short port) {
    auto* ethernet = dynamic_cast<INetworkInterface*>(
        ISystem::Instance()->GetDeviceLayer()->GetDevice(DEVICE_ETHERNET, 0));
    IConnection* listener = nullptr;
    const bool listening = ethernet != nullptr && ethernet->Listen(port, &listener).Code() == 0;
    delete listener;
    return listening;
}

// A file system for the directory, released when it goes.
struct TMountedDirectory {
    explicit TMountedDirectory(const std::string& path) {
        ISystem::Instance()->MountFileSystem(path.c_str(), &files);
    }
    ~TMountedDirectory() { ISystem::Instance()->UnmountFileSystem(files); }
    TMountedDirectory(const TMountedDirectory&) = delete;
    TMountedDirectory& operator=(const TMountedDirectory&) = delete;

    IFileSystem* files = nullptr;
};

}  // namespace

int main(int argc, char** argv) {
    const std::optional<TOptions> options = ParseOptions(argc, argv);
    if (!options) {
        std::cerr << "usage: terminal-file-server --dir DIR --port N\n";
        return 2;
    }
    const std::optional<std::string> directory = ExistingDirectory(options->directory);
    if (!directory) {
        std::cerr << "not a directory: " << options->directory << "\n";
        return 2;
    }
    if (!CanListen(options->port)) {
        std::cerr << "cannot listen on port " << options->port << "\n";
        return 1;
    }

    std::signal(SIGINT, RequestStop);
    std::signal(SIGTERM, RequestStop);

    TMountedDirectory files(*directory);
    TMountedDirectory uploads(*directory + "/" + cUploadsDirectory);
    THttpServer server(options->port, 0, true);
    TFileServer fileServer(server, *files.files, *uploads.files, std::cout);
    std::cout << "Serving " << *directory << " on port " << options->port << std::endl;
    while (g_stopRequested == 0) {
        if (!fileServer.ServeNextRequest()) {
            ISystem::Instance()->Wait(cIdleWaitMsec);
        }
    }
    return 0;
}
