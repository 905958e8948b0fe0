#include "tunnel/SerialNetworkInterface.h"

#include "base/ErrorCodes.h"
#include "platform/BufferedConnection.h"
#include "platform/Device.h"
#include "platform/NetworkInterface.h"
#include "platform/RS232.h"
#include "platform/SystemDevices.h"
#include "platform/WaitSet.h"
#include "tunnel/FrameLevel.h"
#include "tunnel/SerialManager.h"
#include "tunnel/SerialOutConnection.h"
#include "tunnel/Slip.h"

namespace {
constexpr unsigned long kLineBaudRate = 115200;
constexpr unsigned char kLineDataBits = 8;
// The first port of the machine runs its frames in stream mode.
constexpr unsigned short kStreamModePort = 1;
}  // namespace

TSerialNetworkInterface::TSerialNetworkInterface(unsigned short port)
    : m_openPort(OpenSystemSerialPort),
      m_network(SystemEthernet),
      m_timers(SystemTimers()),
      m_port(port),
      m_streamMode(port == kStreamModePort) {}

TSerialNetworkInterface::TSerialNetworkInterface(unsigned short port, TSerialPortOpener openPort,
                                                 INetworkInterface* network, ITimerSource& timers)
    : m_openPort(std::move(openPort)),
      m_network([network] { return network; }),
      m_timers(timers),
      m_port(port),
      m_streamMode(port == kStreamModePort) {}

IDevice* TSerialNetworkInterface::MakeDevice(unsigned int index) {
    return new TSerialNetworkInterface(static_cast<unsigned short>(index));
}

TSerialNetworkInterface::~TSerialNetworkInterface() {
    Cleanup();
}

void TSerialNetworkInterface::InitSerialManager(bool waitForLink) {
    if (m_manager) {
        return;
    }
    IConnection* line = nullptr;
    m_lineError = m_openPort(
        TRs232Params(m_port, kLineBaudRate, kLineDataBits, PARITY_NONE, STOPBITS_ONE), &line);
    if (line == nullptr) {
        return;
    }
    if (m_lineTap) {
        line = m_lineTap(line);
    }
    m_line = dynamic_cast<ISerialLine*>(line);
    m_lineInput = new TBufferedConnection(line, m_timers);
    m_manager = std::make_unique<TSerialManager>(
        new TFrameLevel(new SLIP(m_lineInput), TFrameOptions(), m_timers),
        m_networkOverride != nullptr ? m_networkOverride : m_network(), m_timers);
    m_manager->SetCallFilter(m_callFilter);
    if (waitForLink && !m_manager->WaitInterfaceReady()) {
        Close();
        return;
    }
    m_manager->SetStreamMode(m_streamMode);
}

Error TSerialNetworkInterface::OpenAsService() {
    m_lineError = Error(0);
    InitSerialManager(false);
    if (m_line != nullptr) {
        m_line->SetReceiveWait(0);
    }
    if (m_manager) {
        return Error(0);
    }
    Error failed(kErrorInterfaceFailed);
    if (m_lineError.Code() != 0) {
        failed.AddSubError(m_lineError);
    }
    return failed;
}

Error TSerialNetworkInterface::Open() {
    InitSerialManager(true);
    return Error(m_manager ? 0 : kErrorInterfaceFailed);
}

bool TSerialNetworkInterface::RunOneStep() {
    if (!m_manager) {
        return false;
    }
    const bool progress = m_manager->ProcessContinuously();
    // A step takes at most one frame from the line's buffer: the rest needs
    // more steps, with nothing on the line to wake a sleeping loop.
    return progress || m_lineInput->HasBufferedInput();
}

void TSerialNetworkInterface::AddWaits(TWaitSet& waits) const {
    if (!m_manager) {
        return;
    }
    if (m_line != nullptr) {
        waits.Add(m_line->GetDescriptor(), READINESS_READABLE);
    }
    m_manager->AddWaits(waits);
}

unsigned long TSerialNetworkInterface::MillisecondsToNextDeadline() const {
    return m_manager ? m_manager->MillisecondsToNextDeadline() : TFrameLevel::kNoDeadline;
}

bool TSerialNetworkInterface::IsLineLost() {
    // A line whose input failed is of no more use than one that vanished: the stack would
    // never hear the terminal again.
    return m_lineInput != nullptr &&
           (m_lineInput->HasFailed() || m_lineInput->GetState() == CONNSTATE_DISCONNECTED);
}

void TSerialNetworkInterface::Close() {
    // Tunnelled connections still in use keep the stack up.
    if (m_manager && m_manager->HaveSerialConnections()) {
        return;
    }
    Cleanup();
}

void TSerialNetworkInterface::Cleanup() {
    if (m_manager) {
        m_pastCounters += m_manager->Counters();
    }
    m_line = nullptr;
    m_lineInput = nullptr;
    m_manager.reset();
}

void TSerialNetworkInterface::SetCallFilter(TCallFilter filter) {
    m_callFilter = std::move(filter);
    if (m_manager) {
        m_manager->SetCallFilter(m_callFilter);
    }
}

void TSerialNetworkInterface::SetStreamMode(bool on) {
    m_streamMode = on;
    if (m_manager) {
        m_manager->SetStreamMode(on);
    }
}

bool TSerialNetworkInterface::IsLinkUp() const {
    return m_manager && m_manager->IsOnline();
}

TTunnelCounters TSerialNetworkInterface::Counters() const {
    TTunnelCounters counters = m_pastCounters;
    if (m_manager) {
        counters += m_manager->Counters();
    }
    return counters;
}

void TSerialNetworkInterface::ListConnections(std::vector<TConnectionFigures>& into) const {
    into.clear();
    if (m_manager) {
        m_manager->ListConnections(into);
    }
}

unsigned TSerialNetworkInterface::GetCurrentState() {
    return m_manager ? INetworkInterface::kStateUp : INetworkInterface::kStateFailed;
}

Error TSerialNetworkInterface::GetNetworkError() {
    return Error(kErrorNotSupported);
}

Error TSerialNetworkInterface::SetSelfParams(const TNetworkClientParam&) {
    return Error(kErrorNotSupported);
}

Error TSerialNetworkInterface::GetSelfParams(TNetworkClientParam&) {
    return Error(kErrorNotSupported);
}

Error TSerialNetworkInterface::Ping(unsigned long) {
    return Error(kErrorNotSupported);
}

Error TSerialNetworkInterface::Call(const TNetworkHostParam& host, IConnection** connection) {
    *connection = nullptr;
    InitSerialManager(true);
    if (!m_manager) {
        return Error(kErrorNoNetworkInterface);
    }
    *connection = m_manager->AddCallingConnection(++m_lastSocketId, host.address, host.port);
    return Error(0);
}

Error TSerialNetworkInterface::Listen(unsigned short port, IConnection** connection) {
    *connection = nullptr;
    InitSerialManager(true);
    if (!m_manager) {
        return Error(kErrorNoNetworkInterface);
    }
    *connection = m_manager->AddListeningConnection(++m_lastSocketId, port);
    return Error(0);
}

Error TSerialNetworkInterface::ResolveAddressUsingDNS(const char*, unsigned long* address) {
    // Every name leads to the PC at the other end of the line.
    if (address != nullptr) {
        *address = kLoopbackAddress;
    }
    return Error(0);
}
