#include "platform/ActivityWait.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>

#include "platform/BufferedConnection.h"
#include "support/MemoryConnection.h"
#include "support/Pipe.h"
#include "support/TestSystem.h"

namespace {

// The read end of a pipe as a connection with a descriptor; the test writes into the other end.
class PipeConnection : public IConnection, public IPollable {
  public:
    void Arrive() { EXPECT_EQ(write(m_pipe.writeEnd.Get(), "x", 1), 1); }

    long Send(const unsigned char*, unsigned long) override { return 0; }
    long Receive(unsigned char* buffer, unsigned long length) override {
        return read(m_pipe.readEnd.Get(), buffer, length);
    }
    unsigned long GetPeerAddress() override { return 0; }
    CONNSTATE GetState() override { return CONNSTATE_CONNECTED; }
    Error GetLastError() override { return Error(0); }
    int GetDescriptor() const override { return m_pipe.readEnd.Get(); }

  private:
    TPipe m_pipe;
};

// A pause sleeps on what has a descriptor, directly or under a buffer, and wakes when it is
// ready; with nothing to sleep on it is the system's idle pause, never a wait for the whole
// time-out.
TEST(ActivityWaitTest, SleepsOnDescriptorsAndIdlesWithout) {
    TTestSystem system;
    PipeConnection pipeEnd;
    TActivityWait waiting;
    waiting.Add(pipeEnd, READINESS_READABLE);
    EXPECT_TRUE(waiting.HasDescriptors());
    EXPECT_FALSE(waiting.Sleep(50));
    EXPECT_EQ(system.ActivityWaits(), 1);
    pipeEnd.Arrive();
    EXPECT_TRUE(waiting.Sleep(50));

    auto* inner = new PipeConnection;
    TBufferedConnection buffered(inner);
    TActivityWait throughBuffer;
    throughBuffer.Add(buffered, READINESS_READABLE);
    EXPECT_EQ(buffered.GetDescriptor(), inner->GetDescriptor());
    inner->Arrive();
    EXPECT_TRUE(throughBuffer.Sleep(50));

    TMemoryLine line;
    std::unique_ptr<IConnection> memory(line.NewEnd(TMemoryLine::A));
    TActivityWait idling;
    idling.Add(*memory, READINESS_READABLE);
    EXPECT_FALSE(idling.HasDescriptors());
    const std::uint32_t before = system.Clock().Now();
    const int waitsBefore = system.ActivityWaits();
    EXPECT_FALSE(idling.Sleep(50));
    EXPECT_EQ(system.Clock().Now() - before, system.IdleStep());
    EXPECT_EQ(system.ActivityWaits(), waitsBefore);
}

}  // namespace
