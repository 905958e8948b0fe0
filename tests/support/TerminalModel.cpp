#include "TerminalModel.h"

#include <algorithm>
#include <cstring>

#include "base/Conversions.h"
#include "platform/System.h"
#include "tunnel/FrameLevel.h"
#include "tunnel/Slip.h"

namespace {

// The line's byte values are shared with our half; the model's handling of them is its own.
constexpr std::uint8_t kEnd = SLIP::END;
constexpr std::uint8_t kEsc = SLIP::ESC;
constexpr std::uint8_t kEscEnd = SLIP::ESC_END;
constexpr std::uint8_t kEscEsc = SLIP::ESC_ESC;

constexpr std::uint8_t kDataFrame = TFrameHeader::kData;
constexpr std::uint8_t kAck = TFrameHeader::kAck;
constexpr std::uint8_t kNak = TFrameHeader::kNak;

// Tunnel packet actions.
constexpr std::uint8_t kCall = 1;
constexpr std::uint8_t kListen = 2;
constexpr std::uint8_t kConnected = 3;
constexpr std::uint8_t kCallResult = 4;
constexpr std::uint8_t kClosed = 5;
constexpr std::uint8_t kClose = 6;
constexpr std::uint8_t kDataIn = 7;
constexpr std::uint8_t kDataOut = 8;
constexpr std::uint8_t kReset = 9;

constexpr unsigned long kWaitReadyMs = 3000;
constexpr unsigned long kPieceSize = 255;

void PutMsb(TModelBytes& bytes, std::uint32_t value, int size) {
    for (int shift = (size - 1) * 8; shift >= 0; shift -= 8) {
        bytes.push_back(static_cast<std::uint8_t>(value >> shift));
    }
}

// A field of the input at a fixed offset; one that extends beyond the input's end reads as 0.
std::uint32_t GetMsb(const TModelBytes& input, std::size_t offset, int size) {
    std::uint32_t value = 0;
    if (offset + static_cast<std::size_t>(size) > input.size()) {
        return 0;
    }
    for (int i = 0; i < size; ++i) {
        value = (value << 8) | input[offset + static_cast<std::size_t>(i)];
    }
    return value;
}

TModelBytes BuildPacket(std::uint8_t action, std::uint32_t socketId, std::uint32_t address,
                        std::uint16_t port, const std::uint8_t* data, std::size_t length) {
    TModelBytes body{action};
    PutMsb(body, socketId, 4);
    if (action == kCall) {
        PutMsb(body, address, 4);
        PutMsb(body, port, 2);
    } else if (action == kListen) {
        PutMsb(body, port, 2);
    } else if (action == kDataOut) {
        body.insert(body.end(), data, data + length);
    }
    TModelBytes packet;
    PutMsb(packet, static_cast<std::uint32_t>(body.size()), 2);
    packet.insert(packet.end(), body.begin(), body.end());
    return packet;
}

// One packet taken off the front of the input: the fields are read at their fixed offsets
// whatever the length says, so a packet too short for its action reads the next one's bytes.
struct TParsedPacket {
    std::uint8_t action = 0;
    std::uint32_t socketId = 0;
    std::uint32_t value = 0;  // the address of CONNECTED, the error of CALL_RESULT
    TModelBytes data;
};

bool TakePacket(TModelBytes& input, TParsedPacket& packet) {
    if (input.size() < 2) {
        return false;
    }
    const std::size_t length = GetMsb(input, 0, 2);
    if (input.size() < length + 2) {
        return false;
    }
    if (length > 4) {
        packet.action = static_cast<std::uint8_t>(input[2]);
        packet.socketId = GetMsb(input, 3, 4);
    }
    if (packet.action == kConnected || packet.action == kCallResult) {
        packet.value = GetMsb(input, 7, 4);
    } else if (packet.action == kDataIn || packet.action == kDataOut) {
        packet.data.assign(input.begin() + 7, input.begin() + static_cast<long>(length) + 2);
    }
    input.erase(input.begin(), input.begin() + static_cast<long>(length) + 2);
    return true;
}

}  // namespace

long TModelLineInput::Receive(std::uint8_t* data, unsigned long length) {
    if (m_fill < 0) {
        return -1;
    }
    if (m_position < m_fill) {
        const long count = std::min(static_cast<long>(length), m_fill - m_position);
        std::memcpy(data, m_buffer + m_position, static_cast<std::size_t>(count));
        m_position += count;
        return count;
    }
    if (length >= 2048) {
        return m_line->Receive(data, length);
    }
    m_fill = m_line->Receive(m_buffer, sizeof m_buffer);
    m_position = 0;
    return 0;
}

long TModelLineInput::Send(const std::uint8_t* data, unsigned long length) {
    unsigned long taken = 0;
    while (taken < length) {
        const long sent = m_line->Send(data + taken, length - taken);
        if (sent < 0) {
            return taken == 0 ? sent : static_cast<long>(taken);
        }
        taken += static_cast<unsigned long>(sent);
    }
    return static_cast<long>(length);
}

bool TModelSlip::SendData(const TModelBytes& payload) {
    TModelBytes frame{kEnd};
    for (std::uint8_t byte : payload) {
        if (byte == kEnd) {
            frame.insert(frame.end(), {kEsc, kEscEnd});
        } else if (byte == kEsc) {
            frame.insert(frame.end(), {kEsc, kEscEsc});
        } else {
            frame.push_back(byte);
        }
    }
    frame.push_back(kEnd);
    return m_input.Send(frame.data(), frame.size()) == static_cast<long>(frame.size());
}

TModelBytes TModelSlip::ReceiveData() {
    std::uint8_t byte = 0;
    while (m_input.Receive(&byte, 1) > 0) {
        if (byte != kEnd) {
            if (m_inFrame) {
                m_received.push_back(byte);
            }
            continue;
        }
        if (!m_inFrame || m_received.empty()) {
            m_inFrame = true;
            continue;
        }
        m_inFrame = false;
        TModelBytes payload;
        bool escaped = false;
        for (std::uint8_t raw : m_received) {
            if (raw == kEsc) {
                escaped = true;
            } else if (escaped) {
                escaped = false;
                if (raw == kEscEnd) {
                    payload.push_back(kEnd);
                } else if (raw == kEscEsc) {
                    payload.push_back(kEsc);
                }
            } else {
                payload.push_back(raw);
            }
        }
        m_received.clear();
        return payload;
    }
    return {};
}

bool TModelFrameLevel::SendData(const TModelBytes& data) {
    Process();
    m_sendQueue.insert(m_sendQueue.end(), data.begin(), data.end());
    if (m_streamMode || m_lastPortion.empty()) {
        SendNextDataPortion();
    }
    return IsOnline();
}

TModelBytes TModelFrameLevel::ReceiveData() {
    Process();
    TModelBytes data;
    data.swap(m_received);
    if (!data.empty()) {
        m_linkDown = false;
    }
    return data;
}

void TModelFrameLevel::Process() {
    const TModelBytes frame = m_slip->ReceiveData();
    if (!frame.empty()) {
        ++m_counters.framesReceived;
    }
    if (frame.size() > 4 && frame.size() >= frame[2] + 5u) {
        ProcessReceivedFrame(frame);
    }
    // No repeat on a time-out: the timer only drops what waits behind an unanswered portion.
    if (m_frameTimer && m_frameTimer->IsExpired() && !m_sendQueue.empty()) {
        ++m_counters.timerResets;
        ResetLink();
    }
}

void TModelFrameLevel::ResetLink() {
    m_linkDown = true;
    m_counters.bytesDropped += m_sendQueue.size();
    m_lastPortion.clear();
    m_sendQueue.clear();
    m_frameTimer.reset();
}

void TModelFrameLevel::ProcessReceivedFrame(const TModelBytes& frame) {
    const std::uint8_t sequence = frame[1];
    const std::size_t length = frame[2];
    switch (frame[0]) {
        case kDataFrame:
            if (CountCrc(frame.data(), 3 + length) != GetMsb(frame, 3 + length, 2)) {
                ++m_counters.naksSent;
                DeliverFrame(kNak, sequence, {});
                break;
            }
            // Every good data frame is taken, whatever its number.
            DeliverFrame(kAck, sequence, {});
            m_counters.repeatsDelivered += m_deliveredAny && sequence == m_deliveredSequence;
            ++m_counters.dataFramesDelivered;
            m_deliveredAny = true;
            m_deliveredSequence = sequence;
            m_received.insert(m_received.end(), frame.begin() + 3,
                              frame.begin() + 3 + static_cast<long>(length));
            break;
        case kAck:
            if (sequence == m_sequence) {
                m_linkDown = false;
                SendNextDataPortion();
            }
            break;
        case kNak:
            if (sequence == m_sequence) {
                if (m_retriesLeft != 0) {
                    ResendLastData();
                } else {
                    ++m_counters.otherResets;
                    ResetLink();
                }
            }
            break;
        default:
            break;
    }
}

bool TModelFrameLevel::DeliverFrame(std::uint8_t type, std::uint8_t sequence,
                                    const TModelBytes& data) {
    TModelBytes frame{type, sequence, static_cast<std::uint8_t>(data.size())};
    frame.insert(frame.end(), data.begin(), data.end());
    PutMsb(frame, CountCrc(frame.data(), frame.size()), 2);
    return m_slip->SendData(frame);
}

void TModelFrameLevel::SendNextDataPortion() {
    m_lastPortion.clear();
    if (m_sendQueue.empty()) {
        m_frameTimer.reset();
        return;
    }
    ++m_sequence;
    m_retriesLeft = 3;
    const auto end = m_sendQueue.begin() +
                     static_cast<long>(std::min<std::size_t>(kPortionSize, m_sendQueue.size()));
    m_lastPortion.assign(m_sendQueue.begin(), end);
    m_sendQueue.erase(m_sendQueue.begin(), end);
    ResendLastData();
}

void TModelFrameLevel::ResendLastData() {
    InitFrameTimer();
    --m_retriesLeft;
    if (!DeliverFrame(kDataFrame, m_sequence, m_lastPortion)) {
        ++m_counters.otherResets;
        ResetLink();
    }
}

void TModelFrameLevel::InitFrameTimer() {
    m_frameTimer.reset(ISystem::Instance()->CreateTimer(kFrameTimeoutMs));
}

TModelTunnel::TModelTunnel(std::unique_ptr<TModelFrameLevel> frames, std::function<void()> idle)
    : m_frames(std::move(frames)), m_idle(std::move(idle)) {
    m_frames->SendData(BuildPacket(kReset, 0, 0, 0, nullptr, 0));
    m_frames->ResetLink();
}

TModelTunnel::~TModelTunnel() {
    for (auto& [id, connection] : m_connections) {
        connection->Detach();
    }
}

bool TModelTunnel::ProcessContinuously() {
    bool handled = false;
    for (;;) {
        const TModelBytes data = m_frames->ReceiveData();
        m_input.insert(m_input.end(), data.begin(), data.end());
        TParsedPacket packet;
        if (!TakePacket(m_input, packet)) {
            return handled;
        }
        switch (packet.action) {
            case kConnected:
            case kCallResult:
            case kClosed:
            case kDataIn: {
                const auto found = m_connections.find(packet.socketId);
                if (found != m_connections.end()) {
                    found->second->Notice(packet.action, packet.value, packet.data);
                }
                break;
            }
            case kReset:
                for (auto& [id, connection] : m_connections) {
                    connection->Drop();
                }
                break;
            case kCall:
            case kListen:
            case kClose:
            case kDataOut:
                break;  // requests: the terminal has no network to carry them out
            default:
                return handled;  // no packet, or an unknown action: the step ends
        }
        handled = true;
    }
}

bool TModelTunnel::WaitInterfaceReady() {
    const std::unique_ptr<ITimer> timer(ISystem::Instance()->CreateTimer(kWaitReadyMs));
    bool online = false;
    do {
        ProcessContinuously();
        online = m_frames->IsOnline();
        m_idle();
    } while (!online && !timer->IsExpired());
    return online;
}

bool TModelTunnel::SendData(const TModelBytes& packet) {
    return m_frames->SendData(packet);
}

TModelConnection* TModelTunnel::AddConnection(std::uint32_t socketId, std::uint8_t request,
                                              std::uint32_t address, std::uint16_t port) {
    auto* connection = new TModelConnection(this, socketId);
    m_connections[socketId] = connection;
    SendData(BuildPacket(request, socketId, address, port, nullptr, 0));
    return connection;
}

void TModelTunnel::Forget(std::uint32_t socketId) {
    m_connections.erase(socketId);
}

TModelConnection::~TModelConnection() {
    if (!m_tunnel) {
        return;
    }
    if (m_state == CONNSTATE_CONNECTING || m_state == CONNSTATE_CONNECTED) {
        if (SendPacket(BuildPacket(kClose, m_socketId, 0, 0, nullptr, 0))) {
            m_tunnel->WaitInterfaceReady();
        }
    }
    m_tunnel->Forget(m_socketId);
    m_tunnel->ProcessContinuously();
}

long TModelConnection::Send(const unsigned char* data, unsigned long length) {
    Step();
    if (m_state == CONNSTATE_DISCONNECTED) {
        return -1;
    }
    for (unsigned long offset = 0; offset < length; offset += kPieceSize) {
        const unsigned long piece = std::min(kPieceSize, length - offset);
        if (!SendPacket(BuildPacket(kDataOut, m_socketId, 0, 0, data + offset, piece))) {
            // Closed here only: the agent is not told.
            m_state = CONNSTATE_DISCONNECTED;
            return -1;
        }
    }
    m_tunnel->WaitInterfaceReady();
    return static_cast<long>(length);
}

long TModelConnection::Receive(unsigned char* buffer, unsigned long length) {
    Step();
    if (m_state == CONNSTATE_DISCONNECTED && m_received.empty()) {
        return -1;
    }
    const std::size_t count = std::min<std::size_t>(length, m_received.size());
    std::copy_n(m_received.begin(), count, buffer);
    m_received.erase(m_received.begin(), m_received.begin() + static_cast<long>(count));
    return static_cast<long>(count);
}

CONNSTATE TModelConnection::GetState() {
    Step();
    return m_state;
}

void TModelConnection::Detach() {
    m_tunnel = nullptr;
    m_state = CONNSTATE_DISCONNECTED;
}

void TModelConnection::Step() {
    if (m_tunnel) {
        m_tunnel->ProcessContinuously();
    }
}

void TModelConnection::Notice(std::uint8_t action, std::uint32_t value, const TModelBytes& data) {
    switch (action) {
        case kConnected:
            m_peerAddress = value;
            m_state = CONNSTATE_CONNECTED;
            break;
        case kCallResult:
            m_lastError = value;
            m_state = value != 0 ? CONNSTATE_DISCONNECTED : CONNSTATE_CONNECTED;
            break;
        case kClosed:
            m_state = CONNSTATE_DISCONNECTED;
            break;
        case kDataIn:
            m_received.insert(m_received.end(), data.begin(), data.end());
            break;
        default:
            break;
    }
}

bool TModelConnection::SendPacket(const TModelBytes& packet) {
    return m_tunnel && m_tunnel->SendData(packet);
}

TTerminalModel::TTerminalModel(TLineOpener openLine, bool streamMode)
    : m_openLine(std::move(openLine)),
      m_streamMode(streamMode),
      m_idle([] { ISystem::Instance()->Idle(); }) {}

TTerminalModel::~TTerminalModel() = default;

void TTerminalModel::Build(bool waitForLink) {
    if (m_tunnel) {
        return;
    }
    IConnection* line = m_openLine();
    if (!line) {
        return;
    }
    auto frames = std::make_unique<TModelFrameLevel>(
        std::make_unique<TModelSlip>(std::unique_ptr<IConnection>(line)), m_counters);
    m_tunnel = std::make_unique<TModelTunnel>(std::move(frames), [this] { m_idle(); });
    if (waitForLink && !m_tunnel->WaitInterfaceReady()) {
        Close();
        return;
    }
    m_tunnel->Frames().SetStreamMode(m_streamMode);
}

Error TTerminalModel::Open() {
    Build(true);
    return Error(m_tunnel ? 0 : 20025);
}

void TTerminalModel::Close() {
    if (m_tunnel && !m_tunnel->HaveConnections()) {
        m_tunnel.reset();
    }
}

void TTerminalModel::Cleanup() {
    m_tunnel.reset();
}

Error TTerminalModel::Open(std::uint8_t request, std::uint32_t address, std::uint16_t port,
                           IConnection** connection) {
    *connection = nullptr;
    Build(true);
    if (!m_tunnel) {
        return Error(20011);
    }
    *connection = m_tunnel->AddConnection(++m_lastSocketId, request, address, port);
    return Error(0);
}

Error TTerminalModel::Call(const TNetworkHostParam& host, IConnection** connection) {
    return Open(kCall, host.address, host.port, connection);
}

// Every listen goes to the agent; the local listens of low ports are not modelled.
Error TTerminalModel::Listen(unsigned short port, IConnection** connection) {
    return Open(kListen, 0, port, connection);
}

Error TTerminalModel::ResolveAddressUsingDNS(const char*, unsigned long* address) {
    *address = kLoopbackAddress;
    return Error(0);
}

bool TTerminalModel::Step() {
    return m_tunnel && m_tunnel->ProcessContinuously();
}

std::size_t TTerminalModel::QueuedForLine() const {
    return m_tunnel ? m_tunnel->Frames().Queued() : 0;
}
