// Feeds arbitrary text to the traffic log decoder as a serial log and a
// socket log together: reading, decoding, both reports and the conversion
// into a capture must cope with anything a damaged or foreign file may hold.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "commlog-decode/PcapngExport.h"
#include "commlog-decode/ReportWriter.h"
#include "commlog-decode/TraceDecoder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    // The first byte says where the serial log ends and the socket log starts.
    const std::size_t split = size == 0 ? 0 : data[0] * size / 256;
    const std::vector<TLogFile> files = {{"CommLog1.txt", input.substr(0, split)},
                                         {"sock0000000001.txt", input.substr(split)}};
    const TDecodeReport report = DecodeLogs(files);
    RenderText(report);
    RenderJson(report);
    ExportPcapng(files);
    return 0;
}
