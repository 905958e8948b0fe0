#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/LinkedPseudoTerminal.h"
#include "tunnel/SerialPacket.h"
#include "tunnel/SlipDecoder.h"

// A terminal played byte by byte on a pseudo-terminal linked where an agent looks for its
// line: it sends tunnel packets in numbered data frames of its own making and never sends a
// frame twice; whether it acknowledges the agent's data frames is the test's choice, so it can
// be a terminal that has stopped answering.
class TRawTerminal {
  public:
    // Null when the pseudo-terminal cannot be made.
    static std::unique_ptr<TRawTerminal> Make(const std::string& linkPath);

    // Sends the packets in one data frame; they must fit in 255 bytes. Reads what the agent
    // sends meanwhile.
    void Send(const std::vector<TSerialPacket>& packets);
    void Send(const TSerialPacket& packet) { Send(std::vector<TSerialPacket>{packet}); }
    // Sends bytes as they are, as the data of one frame (at most 255 of them).
    void SendData(const T_BinaryData& data);
    // Refuses a data frame of the agent by its number, as a terminal does a damaged one.
    void SendNak(std::uint8_t sequence);
    // Reads what the agent sends for timeoutMs, or until a packet has come when untilPacket.
    void Pump(int timeoutMs, bool untilPacket = false);
    // The next packet from the agent within timeoutMs, as Describe writes it; empty if none.
    std::string NextPacket(int timeoutMs = 5000);
    std::vector<TSerialPacket> TakePackets();

    // Whether the agent's data frames are acknowledged (they are from the start).
    bool acknowledge = true;
    // Data frames the agent has sent, repeats included, and acknowledgements of this
    // terminal's frames.
    unsigned long dataFramesSeen = 0;
    unsigned long acksSeen = 0;
    // The number of the agent's data frame seen last.
    std::uint8_t lastDataSequence = 0;
    // Data frames this terminal has sent.
    unsigned long framesSent = 0;

  private:
    explicit TRawTerminal(TLinkedPseudoTerminal line) : m_line(std::move(line)) {}
    // Queues the frame and writes what is queued, each frame whole. A frame queued while one is
    // half-way out or while arrivals are being read (the ACK of what arrived) waits for that,
    // so frames never interleave on the line and arrivals are taken in order.
    void Write(const T_BinaryData& frame);
    void WriteWaiting();
    void WriteWhole(const T_BinaryData& frame);
    // Reads what is there now, then writes what it queued; false when nothing was there.
    bool ReadAvailable();
    void TakeFrame(const T_BinaryData& frame);

    TLinkedPseudoTerminal m_line;
    TSlipDecoder m_decoder;
    std::uint8_t m_sequence = 0;
    bool m_acceptedAny = false;
    std::uint8_t m_acceptedSequence = 0;
    T_BinaryData m_stream;
    std::vector<T_BinaryData> m_waitingFrames;
    bool m_writing = false;
    bool m_reading = false;
    std::vector<TSerialPacket> m_packets;
    std::size_t m_nextPacket = 0;
};
