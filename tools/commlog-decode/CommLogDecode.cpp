#include "CommLogDecode.h"

#include <memory>

#include "PcapngExport.h"
#include "ReportWriter.h"
#include "TraceDecoder.h"
#include "common/OutputFile.h"

namespace {

const TOptionSpec kOptions[] = {{"--json", "", false}, {"--pcapng", "", true}};

// Writes the capture of the files to path; false, told on err, when it cannot.
bool WriteCapture(const std::vector<TLogFile>& files, const std::string& path, std::ostream& err) {
    std::string error;
    std::unique_ptr<TOutputFile> output = TOutputFile::Open(path, error);
    if (output && output->Write(ExportPcapng(files), error) && output->Finish(error)) {
        return true;
    }
    err << kDecodeSyntax.program << ": " << error << "\n";
    return false;
}

}  // namespace

const TToolSyntax kDecodeSyntax{"commlog-decode",
                                R"(Usage: commlog-decode [--json | --pcapng OUT] LOG...

Decodes the traffic logs an agent writes into its "Trace" directory: the
serial line's "CommLog<port>.txt" and the sockets' "sock<number>.txt".

LOG is a log file, or a directory (such as "Trace") that stands for all
CommLog*.txt and sock*.txt files in it. The hex dumps of the serial log are
decoded layer by layer into SLIP frames, frames (type, sequence number,
length, CRC) and tunnel packets, shown in one timeline with the socket logs'
traffic. Problems are marked "!!" and listed after the timeline: bad CRCs,
NAKs of the terminal, retransmissions, unanswered frames, resets that drop
open connections, sequence gaps, failed calls with the meaning of their
error code, connections that never closed. The reset with which every tunnel
starts is normal and no problem. The agent's own measures (doubled notices
and ACKs, ACK refreshes, polls, refusals, probes) are marked ".." and
counted by kind, never as problems. A summary of every connection follows (bytes each
way, duration, how it ended).

A damaged log is decoded as far as it can be read, and a line says where
decoding stopped. An entry of a directory that cannot be read (a loop of
symbolic links, a file that cannot be opened) is told on standard error
and passed over. A line longer than 4096 bytes ends the run, as do more
than 64 MiB of logs together.

Options:
  --json       write the report as one JSON object: the timeline, the
               problems, the connections and where decoding stopped
  --pcapng OUT write no report but a capture for Wireshark into OUT (- for
               standard output): the serial line's frames and the socket
               logs' connections as TCP, in the logs' order; the logs have
               one-second stamps and no year, so the times are approximate
               (the file's comment says how). Open it with the dissector in
               /usr/share/pinpad-agent/wireshark/pinpad.lua
  -h, --help   show this text
  --version    show the version

Exit status: 0 decoded (whatever the logs hold), 1 a log cannot be read
or the capture cannot be written,
2 bad arguments, 3 no log entry in the input, or input beyond the bounds.
)",
                                kOptions};

std::optional<TDecodeOptions> ParseDecodeOptions(const TArguments& args, std::string& error) {
    TDecodeOptions options;
    for (const TGivenOption& option : args.options) {
        if (option.name == "--json") {
            options.json = true;
        } else {
            options.pcapng = option.value;
        }
    }
    if (options.json && !options.pcapng.empty()) {
        error = "--json and --pcapng cannot go together";
        return std::nullopt;
    }
    options.paths = args.operands;
    if (options.paths.empty()) {
        error = "no log given";
        return std::nullopt;
    }
    return options;
}

int RunCommLogDecode(const TDecodeOptions& options, std::ostream& out, std::ostream& err) {
    const std::string_view program = kDecodeSyntax.program;
    std::string error;
    std::vector<TLogFile> files;
    std::vector<std::string> skipped;
    const TReadFailure read = ReadLogFiles(options.paths, files, skipped, error);
    for (const std::string& entry : skipped) {
        err << program << ": " << entry << "; skipped\n";
    }
    switch (read) {
        case TReadFailure::None:
            break;
        case TReadFailure::Unreadable:
            err << program << ": " << error << "\n";
            return DECODE_EXIT_UNREADABLE;
        case TReadFailure::NotALog:
            err << program << ": " << error << "\n";
            return DECODE_EXIT_NOT_A_LOG;
    }
    const TDecodeReport report = DecodeLogs(files);
    if (report.entries == 0) {
        err << program << ": no log entry in " << (files.size() == 1 ? files[0].name : "the files")
            << ": not a traffic log\n";
        return DECODE_EXIT_NOT_A_LOG;
    }
    if (!options.pcapng.empty()) {
        return WriteCapture(files, options.pcapng, err) ? DECODE_EXIT_OK : DECODE_EXIT_UNREADABLE;
    }
    out << (options.json ? RenderJson(report) : RenderText(report));
    return DECODE_EXIT_OK;
}
