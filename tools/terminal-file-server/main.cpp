// terminal-file-server --dir DIR --port N [--bind ADDRESS]
//
// Serves the files of DIR to terminals over HTTP on port N of ADDRESS
// (127.0.0.1 unless given), through the host's network:
// GET /any?name=FILE&terminalSN=SERIAL answers the contents of DIR/FILE; a
// POST body is stored as DIR/posted/NNNNNNNN.bin and answered "OK". Runs
// until it is interrupted or terminated.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <variant>

#include "FileServer.h"
#include "UploadFile.h"
#include "common/CommandLine.h"
#include "common/WholeNumber.h"
#include "http/HttpServer.h"
#include "platform/Descriptor.h"
#include "platform/System.h"
#include "platform/SystemDevices.h"
#include "platform/linux/ListeningSocket.h"
#include "platform/linux/SocketInterface.h"
#include "platform/linux/StopSignals.h"

namespace {

constexpr char kUploadsDirectory[] = "posted";
constexpr unsigned long kIdleWaitMs = 5;
constexpr char kDefaultBindAddress[] = "127.0.0.1";
// Each connection's traffic log is trimmed at this size.
constexpr unsigned long kTrafficLogLimit = 1024 * 1024;
// Descriptors kept free of customers, for files, logs and the listener.
constexpr unsigned long kSpareDescriptors = 16;
constexpr unsigned long kMinCustomers = 4;

const TOptionSpec kOptionSpecs[] = {
    {"--dir", "", true},
    {"--port", "", true},
    {"--bind", "", true},
};

const TToolSyntax kSyntax{
    "terminal-file-server",
    "usage: terminal-file-server --dir DIR --port N [--bind ADDRESS]\n"
    "\n"
    "Serves the files of DIR to terminals over HTTP on port N:\n"
    "  GET /any?name=FILE&terminalSN=SERIAL  answers the contents of DIR/FILE\n"
    "  POST (any path)                       stores the body as DIR/posted/NNNNNNNN.bin\n"
    "\n"
    "  --dir DIR        the directory served; symbolic links in it are not followed\n"
    "  --port N         the TCP port, 1 to 65535\n"
    "  --bind ADDRESS   the local IPv4 address listened on (default 127.0.0.1)\n"
    "  -h, --help       this text\n"
    "  --version        the version\n"
    "\n"
    "Runs until it is interrupted or terminated. Exit status: 0 when stopped\n"
    "by SIGINT or SIGTERM, 1 when the directory cannot be opened or the port\n"
    "cannot be listened on (nothing is created then), 2 for wrong arguments\n"
    "(a missing --dir or --port, a DIR that is not a directory).\n",
    kOptionSpecs};

struct TOptions {
    std::string directory;  // absolute, of an existing directory
    unsigned short port = 0;
    std::uint32_t bindAddress = 0;  // first octet in the most significant byte
};

// A dotted IPv4 address, or nothing.
std::optional<std::uint32_t> ParseAddress(const std::string& text) {
    in_addr address{};
    if (inet_pton(AF_INET, text.c_str(), &address) != 1) {
        return std::nullopt;
    }
    return ntohl(address.s_addr);
}

// The absolute path of an existing directory; nothing, with the reason in
// error, for anything else.
std::optional<std::string> ExistingDirectory(const std::string& path, std::string& error) {
    char resolved[PATH_MAX];
    struct stat status;
    if (realpath(path.c_str(), resolved) == nullptr || stat(resolved, &status) != 0) {
        error = "cannot use --dir " + path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    if (!S_ISDIR(status.st_mode)) {
        error = "not a directory: " + path;
        return std::nullopt;
    }
    return std::string(resolved);
}

// The options of a split command line; nothing, with the reason in error,
// when they are wrong.
std::optional<TOptions> ParseOptions(const TArguments& args, std::string& error) {
    if (!args.operands.empty()) {
        error = "unexpected argument " + args.operands.front();
        return std::nullopt;
    }
    TOptions options;
    options.bindAddress = *ParseAddress(kDefaultBindAddress);
    std::string directory;
    for (const TGivenOption& option : args.options) {
        const std::string& value = option.value;
        if (option.name == "--dir") {
            directory = value;
        } else if (option.name == "--bind") {
            const std::optional<std::uint32_t> address = ParseAddress(value);
            if (!address) {
                error = "not an IPv4 address: " + value;
                return std::nullopt;
            }
            options.bindAddress = *address;
        } else if (const std::optional<unsigned short> port = ParsePortNumber(value)) {
            options.port = *port;
        } else {
            error = "not a port number (1 to 65535): " + value;
            return std::nullopt;
        }
    }
    if (directory.empty() || options.port == 0) {
        error = "both --dir and --port are needed";
        return std::nullopt;
    }
    std::optional<std::string> resolved = ExistingDirectory(directory, error);
    if (!resolved) {
        return std::nullopt;
    }
    options.directory = std::move(*resolved);
    return options;
}

std::string FormatAddress(std::uint32_t address) {
    in_addr raw{};
    raw.s_addr = htonl(address);
    char dotted[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &raw, dotted, sizeof dotted);
    return dotted;
}

// Whether a socket of its own can be bound to the address and port, tried
// before the server makes anything (its uploads directory, its traffic
// logs). When it cannot, errno tells why.
bool CanBind(std::uint32_t address, unsigned short port) {
    const TDescriptor probe(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!probe) {
        return false;
    }
    const int reuse = 1;
    setsockopt(probe.Get(), SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_port = htons(port);
    where.sin_addr.s_addr = htonl(address);
    return bind(probe.Get(), reinterpret_cast<const sockaddr*>(&where), sizeof where) == 0;
}

// The listening socket of the port on that address, which the host's network
// keeps for every listen made from now on. Held, it keeps the port open
// between the server's listens, each of which takes one peer. Null when the
// port cannot listen; errno tells why.
std::shared_ptr<TListeningSocket> HoldPort(std::uint32_t address, unsigned short port) {
    auto* ethernet = dynamic_cast<TSocketInterface*>(SystemEthernet());
    if (ethernet == nullptr) {
        errno = ENETDOWN;
        return nullptr;
    }
    ethernet->SetListenAddress(address);
    ethernet->SetTrafficLogLimit(kTrafficLogLimit);
    return ethernet->GetListeningSocket(port);
}

// As many customers as the descriptor limit leaves room for, up to the
// server's own bound: a file must still open when every customer is there.
unsigned long CustomerLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) {
        return THttpServer::kDefaultMaxCustomers;
    }
    const auto room = static_cast<unsigned long>(limit.rlim_cur);
    return std::clamp(room > kSpareDescriptors ? room - kSpareDescriptors : 0, kMinCustomers,
                      THttpServer::kDefaultMaxCustomers);
}

}  // namespace

int main(int argc, char** argv) {
    const auto read = ReadCommandLine<TOptions>(kSyntax, argc, argv, ParseOptions);
    if (const int* status = std::get_if<int>(&read)) {
        return *status;
    }
    const TOptions& options = std::get<TOptions>(read);
    const TConfinedDirectory files(options.directory);
    if (!files.IsOpen()) {
        const int reason = errno;
        return ToolFailure(
            kSyntax.program, 1,
            "cannot open the directory " + options.directory + ": " + std::strerror(reason));
    }
    // Nothing is made (uploads, traffic logs) while the port may yet fail.
    const std::shared_ptr<TListeningSocket> port = CanBind(options.bindAddress, options.port)
                                                       ? HoldPort(options.bindAddress, options.port)
                                                       : nullptr;
    if (!port) {
        const int reason = errno;
        return ToolFailure(kSyntax.program, 1,
                           "cannot listen on " + FormatAddress(options.bindAddress) + ":" +
                               std::to_string(options.port) + ": " + std::strerror(reason));
    }
    const TConfinedDirectory uploads(files.Descriptor(), kUploadsDirectory, true);

    CatchStopSignals();

    THttpServer server(options.port, 0, true);
    server.SetLimits(CustomerLimit(), THttpServer::kDefaultIdleTimeoutMs);
    // Bodies go to their files as they arrive: memory stays small whatever the clients send.
    server.SetUploadStore(
        [&uploads]() -> std::unique_ptr<IHttpUpload> { return TUploadFile::Create(uploads); });
    TFileServer fileServer(server, files, uploads, std::cout);
    // The port listens from here on, so a client that reads the line below
    // can connect at once.
    server.CheckNewConnections();
    std::cout << "Serving " << options.directory << " on " << FormatAddress(options.bindAddress)
              << " port " << options.port << std::endl;
    while (!StopRequested()) {
        if (!fileServer.ServeNextRequest()) {
            ISystem::Instance()->Wait(kIdleWaitMs);
        }
    }
    return 0;
}
