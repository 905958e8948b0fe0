#include "tunnel/PacketInput.h"

#include "platform/Timer.h"
#include "tunnel/SerialPacket.h"

namespace {

// Whether the field of `size` bytes at offset has arrived; one not yet here cannot be judged.
bool Holds(const T_BinaryData& bytes, unsigned long offset, unsigned long size) {
    return bytes.Length() >= offset + size;
}

}  // namespace

TPacketInput::TPacketInput(std::function<bool(std::uint32_t)> isInUse, ITimerSource& timers)
    : m_isInUse(std::move(isInUse)), m_sinceArrival(timers.CreateTimer(0)) {}

TPacketInput::~TPacketInput() = default;

std::optional<TCutShortPacket> TPacketInput::Append(const T_BinaryData& arrival) {
    if (arrival.Length() == 0) {
        return std::nullopt;
    }
    const bool quietBefore = m_sinceArrival->GetElapsedMsec() >= kPeerResetQuietMs;
    m_sinceArrival->Restart(0);
    if (m_hunting) {
        m_bytes += arrival;
        Hunt();
        return std::nullopt;
    }
    if (m_bytes.Length() == 0 || !quietBefore || !StartsWithPackets(arrival)) {
        m_bytes += arrival;
        return std::nullopt;
    }
    const TCutShortPacket cut = CutShort();
    m_bytes = arrival;
    return cut;
}

void TPacketInput::StartAfresh(const T_BinaryData& arrival) {
    m_bytes = arrival;
    m_sinceArrival->Restart(0);
    m_hunting = true;
    Hunt();
}

void TPacketInput::Hunt() {
    for (unsigned long offset = 0; offset < m_bytes.Length(); ++offset) {
        if (!Holds(m_bytes, offset, TPacketLayout::kFieldsOffset)) {
            // Too little to tell a packet from the middle of one: kept for the next arrival.
            m_bytes = m_bytes.Copy(offset, m_bytes.Length() - offset);
            return;
        }
        if (PacketsFrom(m_bytes, offset)) {
            m_bytes = m_bytes.Copy(offset, m_bytes.Length() - offset);
            m_hunting = false;
            return;
        }
    }
    m_bytes.Clear();
}

std::optional<TCutShortPacket> TPacketInput::DropOverlongFront() {
    if (!Holds(m_bytes, 0, TPacketLayout::kLengthSize) || m_bytes.MsbWord(0) <= kMaxPacketLength) {
        return std::nullopt;
    }
    const T_BinaryData rest = m_bytes.Copy(1, m_bytes.Length() - 1);
    const TCutShortPacket cut = CutShort();
    m_bytes = rest;
    m_hunting = true;
    Hunt();
    return cut;
}

std::optional<TCutShortPacket> TPacketInput::TakeAbandoned() {
    if (m_bytes.Length() == 0 || m_sinceArrival->GetElapsedMsec() < kPeerGaveUpMs) {
        return std::nullopt;
    }
    return CutShort();
}

unsigned long TPacketInput::MillisecondsToDeadline() const {
    if (m_bytes.Length() == 0) {
        return ~0UL;
    }
    const unsigned long quiet = m_sinceArrival->GetElapsedMsec();
    return quiet >= kPeerGaveUpMs ? 0 : kPeerGaveUpMs - quiet;
}

TCutShortPacket TPacketInput::CutShort() {
    TCutShortPacket cut{0, std::nullopt};
    if (Holds(m_bytes, TPacketLayout::kActionOffset, 1)) {
        cut.action = m_bytes[TPacketLayout::kActionOffset];
    }
    if (Holds(m_bytes, TPacketLayout::kSocketIdOffset, 4)) {
        cut.socketId = static_cast<std::uint32_t>(m_bytes.MsbDword(TPacketLayout::kSocketIdOffset));
    }
    m_bytes.Clear();
    return cut;
}

bool TPacketInput::StartsWithPackets(const T_BinaryData& bytes) const {
    if (!Holds(bytes, 0, TPacketLayout::kFieldsOffset)) {
        return false;  // too little to tell a packet from the middle of one
    }
    return PacketsFrom(bytes, 0);
}

bool TPacketInput::PacketsFrom(const T_BinaryData& bytes, unsigned long offset) const {
    while (Holds(bytes, offset, TPacketLayout::kLengthSize)) {
        if (!IsWellFormedPacket(bytes, offset)) {
            return false;
        }
        offset += TPacketLayout::kLengthSize + bytes.MsbWord(offset);
    }
    return true;
}

bool TPacketInput::IsWellFormedPacket(const T_BinaryData& bytes, unsigned long offset) const {
    const unsigned long length = bytes.MsbWord(offset);
    if (!Holds(bytes, offset + TPacketLayout::kActionOffset, 1)) {
        return length >= TPacketLayout::kHeaderLength;
    }
    const unsigned char action = bytes[offset + TPacketLayout::kActionOffset];
    const bool idHere = Holds(bytes, offset + TPacketLayout::kSocketIdOffset, 4);
    const auto socketId =
        idHere ? static_cast<std::uint32_t>(bytes.MsbDword(offset + TPacketLayout::kSocketIdOffset))
               : 0U;
    // A port that has not arrived yet is given the benefit of the doubt.
    const auto portAt = [&](unsigned long portOffset) {
        return !Holds(bytes, offset + portOffset, 2) || bytes.MsbWord(offset + portOffset) != 0;
    };
    switch (action) {
        case ACTION_CALL:
            return length == TPacketLayout::kHeaderLength + 6 &&
                   portAt(TPacketLayout::kPortAfterAddressOffset);
        case ACTION_LISTEN:
            return length == TPacketLayout::kHeaderLength + 2 &&
                   portAt(TPacketLayout::kFieldsOffset);
        case ACTION_CLOSE:
            return length == TPacketLayout::kHeaderLength && (!idHere || m_isInUse(socketId));
        case ACTION_DATA_OUT:
            return length > TPacketLayout::kHeaderLength &&
                   length <= TPacketLayout::kHeaderLength + kMaxDataLength &&
                   (!idHere || m_isInUse(socketId));
        case ACTION_RESET:
            return length == TPacketLayout::kHeaderLength && socketId == 0;
        // The notices that come the other way, for the input of a terminal's stack.
        case ACTION_CONNECTED:
            return length == TPacketLayout::kHeaderLength + 6 &&
                   portAt(TPacketLayout::kPortAfterAddressOffset) &&
                   (!idHere || m_isInUse(socketId));
        case ACTION_CALL_RESULT:
            return length == TPacketLayout::kHeaderLength + 4 && (!idHere || m_isInUse(socketId));
        case ACTION_CLOSED:
            return length == TPacketLayout::kHeaderLength && (!idHere || m_isInUse(socketId));
        case ACTION_DATA_IN:
            return length > TPacketLayout::kHeaderLength &&
                   length <= TPacketLayout::kHeaderLength + kMaxDataLength &&
                   (!idHere || m_isInUse(socketId));
        default:
            return false;
    }
}
