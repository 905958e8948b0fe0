#include "CommLogDecode.h"

#include "ReportWriter.h"
#include "TraceDecoder.h"

const char* DecodeUsage() {
    return R"(Usage: commlog-decode [--json] LOG...

Decodes the traffic logs an agent writes into its "Trace" directory: the
serial line's "CommLog<port>.txt" and the sockets' "sock<number>.txt".

LOG is a log file, or a directory (such as "Trace") that stands for all
CommLog*.txt and sock*.txt files in it. The hex dumps of the serial log are
decoded layer by layer into SLIP frames, frames (type, sequence number,
length, CRC) and tunnel packets, shown in one timeline with the socket logs'
traffic. Problems are marked "!!" and listed after the timeline: bad CRCs,
NAKs, retransmissions, unanswered frames, resets, sequence gaps, failed calls
with the meaning of their error code, connections that never closed. A summary
of every connection follows (bytes each way, duration, how it ended).

A damaged log is decoded as far as it can be read, and a line says where
decoding stopped.

Options:
  --json       write the report as one JSON object
  -h, --help   show this text

Exit status: 0 decoded (whatever the logs hold), 1 a log cannot be read,
2 bad arguments.
)";
}

int RunCommLogDecode(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    bool json = false;
    std::vector<std::string> paths;
    for (const std::string& arg : args) {
        if (arg == "-h" || arg == "--help") {
            out << DecodeUsage();
            return DECODE_EXIT_OK;
        }
        if (arg == "--json") {
            json = true;
        } else if (arg.starts_with("-") && arg != "-") {
            err << "commlog-decode: unknown option " << arg << "\n" << DecodeUsage();
            return DECODE_EXIT_BAD_ARGUMENTS;
        } else {
            paths.push_back(arg);
        }
    }
    if (paths.empty()) {
        err << "commlog-decode: no log given\n" << DecodeUsage();
        return DECODE_EXIT_BAD_ARGUMENTS;
    }
    std::string error;
    const std::vector<TLogFile> files = ReadLogFiles(paths, error);
    if (!error.empty()) {
        err << "commlog-decode: " << error << "\n";
        return DECODE_EXIT_UNREADABLE;
    }
    const TDecodeReport report = DecodeLogs(files);
    out << (json ? RenderJson(report) : RenderText(report));
    return DECODE_EXIT_OK;
}
