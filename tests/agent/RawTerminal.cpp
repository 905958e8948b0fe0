#include "RawTerminal.h"

#include <poll.h>
#include <unistd.h>

#include <array>
#include <chrono>

#include "base/BinaryData.h"
#include "base/Conversions.h"
#include "support/PacketPeer.h"
#include "tunnel/FrameLevel.h"
#include "tunnel/Slip.h"

namespace {

T_BinaryData Frame(unsigned char type, std::uint8_t sequence, const T_BinaryData& data) {
    const std::array<unsigned char, 3> header{type, sequence,
                                              static_cast<unsigned char>(data.Length())};
    T_BinaryData frame(header.data(), header.size());
    frame += data;
    frame += BinaryDataFromMsbWord(CountCrc(frame.GetData(), frame.Length()));
    T_BinaryData wire(SLIP::END);
    wire += SLIP::EscapeSpecialCharacters(frame);
    wire.AddDirectBytes(SLIP::END, 1);
    return wire;
}

}  // namespace

std::unique_ptr<TRawTerminal> TRawTerminal::Make(const std::string& linkPath) {
    TLinkedPseudoTerminal made;
    std::string error;
    if (!MakeLinkedPseudoTerminal(linkPath, made, error)) {
        return nullptr;
    }
    return std::unique_ptr<TRawTerminal>(new TRawTerminal(std::move(made)));
}

void TRawTerminal::Send(const std::vector<TSerialPacket>& packets) {
    T_BinaryData data;
    for (const TSerialPacket& packet : packets) {
        data += packet.BuildPacket();
    }
    SendData(data);
}

void TRawTerminal::SendData(const T_BinaryData& data) {
    Write(Frame(TFrameHeader::kData, m_sequence++, data));
    ++framesSent;
}

void TRawTerminal::SendNak(std::uint8_t sequence) {
    Write(Frame(TFrameHeader::kNak, sequence, T_BinaryData()));
}

void TRawTerminal::Write(const T_BinaryData& frame) {
    m_waitingFrames.push_back(frame);
    WriteWaiting();
}

void TRawTerminal::WriteWaiting() {
    if (m_writing || m_reading) {
        return;
    }
    m_writing = true;
    for (std::size_t next = 0; next < m_waitingFrames.size(); ++next) {
        WriteWhole(T_BinaryData(m_waitingFrames[next]));  // the vector may grow meanwhile
    }
    m_waitingFrames.clear();
    m_writing = false;
}

void TRawTerminal::WriteWhole(const T_BinaryData& frame) {
    unsigned long written = 0;
    while (written < frame.Length()) {
        pollfd line{m_line.master.Get(), POLLIN | POLLOUT, 0};
        poll(&line, 1, 1000);
        ReadAvailable();  // the agent waits for room to write as this terminal does
        const ssize_t count =
            write(m_line.master.Get(), frame.GetData() + written, frame.Length() - written);
        if (count > 0) {
            written += static_cast<unsigned long>(count);
        }
    }
}

bool TRawTerminal::ReadAvailable() {
    if (m_reading) {
        return false;
    }
    m_reading = true;
    bool any = false;
    unsigned char buffer[4096];
    ssize_t count;
    while ((count = read(m_line.master.Get(), buffer, sizeof buffer)) > 0) {
        any = true;
        for (ssize_t i = 0; i < count; ++i) {
            if (m_decoder.Feed(buffer[i])) {
                TakeFrame(m_decoder.TakeFrame());
            }
        }
    }
    m_reading = false;
    WriteWaiting();
    return any;
}

void TRawTerminal::TakeFrame(const T_BinaryData& frame) {
    if (frame.Length() >= 5 && frame[0] == TFrameHeader::kAck) {
        ++acksSeen;
    }
    if (frame.Length() < 5 || frame[0] != TFrameHeader::kData) {
        return;
    }
    ++dataFramesSeen;
    const std::uint8_t sequence = frame[1];
    lastDataSequence = sequence;
    if (acknowledge) {
        Write(Frame(TFrameHeader::kAck, sequence, T_BinaryData()));
    }
    if (m_acceptedAny && sequence == m_acceptedSequence) {
        return;  // a repeat
    }
    m_acceptedAny = true;
    m_acceptedSequence = sequence;
    m_stream += frame.Copy(3, frame[2]);
    for (;;) {
        TSerialPacket packet(m_stream);
        if (packet.GetActionType() == 0) {
            break;
        }
        m_packets.push_back(packet);
    }
}

void TRawTerminal::Pump(int timeoutMs, bool untilPacket) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!(untilPacket && m_nextPacket < m_packets.size())) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return;
        }
        pollfd line{m_line.master.Get(), POLLIN, 0};
        if (poll(&line, 1, static_cast<int>(left.count())) > 0) {
            ReadAvailable();
        }
    }
}

std::string TRawTerminal::NextPacket(int timeoutMs) {
    Pump(timeoutMs, true);
    return m_nextPacket < m_packets.size() ? Describe(m_packets[m_nextPacket++]) : "";
}

std::vector<TSerialPacket> TRawTerminal::TakePackets() {
    std::vector<TSerialPacket> taken(m_packets.begin() + static_cast<long>(m_nextPacket),
                                     m_packets.end());
    m_packets.clear();
    m_nextPacket = 0;
    return taken;
}
