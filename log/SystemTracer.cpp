#include "log/SystemTracer.h"

#include <memory>
#include <utility>

#include "base/BinaryData.h"
#include "platform/Connection.h"
#include "platform/FileSystem.h"
#include "platform/RS232.h"
#include "platform/System.h"

namespace {

constexpr unsigned short kTracePort = 1;
const char kTraceFileName[] = "qntrace.txt";

}  // namespace

TSysTraceLine::TSysTraceLine(std::string text)
    : TLogEvent(0, nullptr, 0), m_text(std::move(text)) {}

const char* TSysTraceLine::GetEventMarker() const {
    return m_text.c_str();
}

TSystemTracer& TSystemTracer::Instance() {
    static TSystemTracer tracer;
    return tracer;
}

void TSystemTracer::LogData(const TLogEvent& event) {
    if (!m_enabled) {
        return;
    }
    switch (m_output) {
        case OUTPUT_SERIAL:
            LogDataToSerial(event);
            break;
        case OUTPUT_FILE:
            LogDataToFile(event);
            break;
        case OUTPUT_PRINTER:
            LogDataToPrinter(event);
            break;
        default:
            break;
    }
}

std::string TSystemTracer::EventToString(const TLogEvent& event) {
    std::string text = event.GetEventMarker();
    const int length = event.GetLength();
    if (length <= 0 || event.GetData() == nullptr) {
        return text;
    }
    text += '\n';
    if (event.NeedsHexDump()) {
        text += T_BinaryData(event.GetData(), static_cast<unsigned long>(length)).ToAscii();
        text += '\n';
    } else {
        text.append(reinterpret_cast<const char*>(event.GetData()),
                    static_cast<std::size_t>(length));
    }
    return text;
}

void TSystemTracer::LogDataToFile(const TLogEvent& event) {
    const std::unique_ptr<IFileWritable> file(
        ISystem::Instance()->GetDefaultFileSystem()->OpenForWrite(kTraceFileName,
                                                                  FILE_MODE_APPEND));
    if (!file) {
        return;
    }
    const std::string text = EventToString(event);
    file->Write(reinterpret_cast<const unsigned char*>(text.data()), text.size());
}

void TSystemTracer::LogDataToSerial(const TLogEvent& event) {
    const std::string text = EventToString(event);
    auto* port = dynamic_cast<IRS232Interface*>(
        ISystem::Instance()->GetDeviceLayer()->GetDevice(DEVICE_RS232, kTracePort));
    if (!port) {
        return;
    }
    IConnection* opened = nullptr;
    // A port that does not open leaves opened null, which ends the trace below.
    static_cast<void>(
        port->Connect(TRs232Params(kTracePort, 115200, 8, PARITY_NONE, STOPBITS_ONE), &opened));
    const std::unique_ptr<IConnection> connection(opened);
    if (!connection) {
        return;
    }
    static const unsigned char kCarriageReturn = '\r';
    connection->Send(reinterpret_cast<const unsigned char*>(text.data()), text.size());
    connection->Send(&kCarriageReturn, 1);
}

void TSystemTracer::LogDataToPrinter(const TLogEvent&) {}
