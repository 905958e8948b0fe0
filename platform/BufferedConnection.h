#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "platform/Connection.h"
#include "platform/TimerSource.h"
#include "platform/WaitSet.h"

// Gives another connection a 4096-byte input buffer, so that a reader can take
// its input in small pieces, down to one byte per call, without one read of the
// inner connection per piece. Output passes through unbuffered. A loop waits on the inner
// connection's descriptor, when it has one.
class TBufferedConnection : public IConnection, public IPollable {
  public:
    // Takes ownership of inner; timers pace a stalled Send.
    explicit TBufferedConnection(IConnection* inner, ITimerSource& timers = SystemTimers());
    ~TBufferedConnection() override;

    TBufferedConnection(const TBufferedConnection&) = delete;
    TBufferedConnection& operator=(const TBufferedConnection&) = delete;

    // Offers everything to the inner connection until all is taken, it fails,
    // or it has taken nothing for kSendStallLimitMs. Returns length on
    // success, otherwise a smaller value (negative when nothing was taken).
    long Send(const unsigned char* data, unsigned long length) override;
    // Hands out buffered bytes. When the buffer is used up, reads of 2048
    // bytes and more go straight to the inner connection; smaller ones refill
    // the buffer and hand out what the refill brought. Once a refill has
    // failed, every later call returns -1.
    long Receive(unsigned char* data, unsigned long length) override;
    unsigned long GetPeerAddress() override;
    CONNSTATE GetState() override;
    Error GetLastError() override;
    // The inner connection's descriptor, or -1 when it has none.
    int GetDescriptor() const override;

    // Discards the buffered input and everything the inner connection has ready.
    void FlushInputData();
    // Whether bytes read from the inner connection still wait to be handed out.
    bool HasBufferedInput() const { return m_position < m_fill; }
    // Whether a refill has failed, so that nothing more will ever be read, whatever the
    // inner connection says of itself.
    bool HasFailed() const { return m_fill < 0; }

    // How long Send waits for an inner connection that keeps taking nothing.
    static constexpr unsigned long kSendStallLimitMs = 15000;

  private:
    long HandOutBuffered(unsigned char* data, unsigned long length);

    static constexpr std::size_t kBufferSize = 4096;
    static constexpr unsigned long kDirectReadSize = 2048;

    std::unique_ptr<IConnection> m_inner;
    ITimerSource& m_timers;
    std::array<unsigned char, kBufferSize> m_buffer{};
    // Valid bytes in the buffer; a negative value is the failed result of the
    // last refill and marks the connection as failed for good.
    std::int32_t m_fill = 0;
    std::int32_t m_position = 0;
};
