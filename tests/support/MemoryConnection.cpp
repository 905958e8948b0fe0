#include "MemoryConnection.h"

#include <algorithm>

struct TMemoryLine::State {
    struct End {
        EndSwitches switches;
        // Bytes travelling towards this end.
        std::deque<unsigned char> incoming;
        unsigned long sendCalls = 0;
        unsigned long receiveCalls = 0;
        int liveEnds = 0;
    };
    End ends[2];

    End& Of(Side side) { return ends[side]; }
    End& PeerOf(Side side) { return ends[side == A ? B : A]; }
};

TMemoryLine::TMemoryLine() : m_state(std::make_shared<State>()) {}

TMemoryLine::~TMemoryLine() = default;

IConnection* TMemoryLine::NewEnd(Side side) {
    return new TMemoryConnection(m_state, side);
}

TMemoryLine::EndSwitches& TMemoryLine::Switches(Side side) {
    return m_state->Of(side).switches;
}

std::size_t TMemoryLine::PendingCount(Side receiver) const {
    return m_state->Of(receiver).incoming.size();
}

T_BinaryData TMemoryLine::TakePending(Side receiver) {
    std::deque<unsigned char>& queue = m_state->Of(receiver).incoming;
    const std::vector<unsigned char> bytes(queue.begin(), queue.end());
    queue.clear();
    return T_BinaryData(bytes.data(), bytes.size());
}

void TMemoryLine::Inject(Side receiver, const T_BinaryData& bytes) {
    std::deque<unsigned char>& queue = m_state->Of(receiver).incoming;
    queue.insert(queue.end(), bytes.GetData(), bytes.GetData() + bytes.Length());
}

unsigned long TMemoryLine::SendCalls(Side side) const {
    return m_state->Of(side).sendCalls;
}

unsigned long TMemoryLine::ReceiveCalls(Side side) const {
    return m_state->Of(side).receiveCalls;
}

int TMemoryLine::LiveEnds(Side side) const {
    return m_state->Of(side).liveEnds;
}

TMemoryConnection::TMemoryConnection(std::shared_ptr<TMemoryLine::State> state,
                                     TMemoryLine::Side side)
    : m_state(std::move(state)), m_side(side) {
    ++m_state->Of(m_side).liveEnds;
}

TMemoryConnection::~TMemoryConnection() {
    --m_state->Of(m_side).liveEnds;
}

long TMemoryConnection::Send(const unsigned char* data, unsigned long length) {
    TMemoryLine::State::End& self = m_state->Of(m_side);
    TMemoryLine::EndSwitches& switches = self.switches;
    ++self.sendCalls;
    if (switches.sendFailure < 0) {
        return switches.sendFailure;
    }
    if (switches.zeroSends > 0) {
        --switches.zeroSends;
        return 0;
    }
    const unsigned long taken = std::min(length, switches.maxSendChunk);
    std::vector<unsigned char> chunk(data, data + taken);
    if (switches.tap) {
        switches.tap(chunk);
    }
    std::deque<unsigned char>& queue = m_state->PeerOf(m_side).incoming;
    queue.insert(queue.end(), chunk.begin(), chunk.end());
    return static_cast<long>(taken);
}

long TMemoryConnection::Receive(unsigned char* buffer, unsigned long length) {
    TMemoryLine::State::End& self = m_state->Of(m_side);
    ++self.receiveCalls;
    if (self.switches.receiveFailure < 0) {
        return self.switches.receiveFailure;
    }
    const auto count =
        static_cast<long>(std::min({length, self.switches.maxReceiveChunk, self.incoming.size()}));
    std::copy_n(self.incoming.begin(), count, buffer);
    self.incoming.erase(self.incoming.begin(), self.incoming.begin() + count);
    return count;
}

unsigned long TMemoryConnection::GetPeerAddress() {
    return m_state->Of(m_side).switches.peerAddress;
}

CONNSTATE TMemoryConnection::GetState() {
    return m_state->Of(m_side).switches.state;
}

Error TMemoryConnection::GetLastError() {
    return Error(m_state->Of(m_side).switches.lastErrorCode);
}
