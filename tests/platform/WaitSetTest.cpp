#include "platform/WaitSet.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "support/Pipe.h"

namespace {

// Both ends of a pipe, closed with the fixture.
class WaitSetTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(m_pipe.readEnd.IsOpen()); }
    int ReadEnd() const { return m_pipe.readEnd.Get(); }
    int WriteEnd() const { return m_pipe.writeEnd.Get(); }

  private:
    TPipe m_pipe;
};

TEST_F(WaitSetTest, WakesOnlyForTheInterestsAsked) {
    TWaitSet waits;
    waits.Add(ReadEnd(), READINESS_READABLE);
    EXPECT_FALSE(waits.Wait(0));
    ASSERT_EQ(write(WriteEnd(), "x", 1), 1);
    EXPECT_TRUE(waits.Wait(0));

    TWaitSet writeOnly;
    writeOnly.Add(ReadEnd(), READINESS_WRITABLE);
    EXPECT_FALSE(writeOnly.Wait(0));
}

TEST_F(WaitSetTest, MergesADescriptorAddedTwiceAndSkipsMissingOnes) {
    TWaitSet waits;
    waits.Add(-1, READINESS_READABLE);
    EXPECT_TRUE(waits.IsEmpty());
    waits.Add(WriteEnd(), READINESS_READABLE);
    EXPECT_FALSE(waits.Wait(0));
    waits.Add(WriteEnd(), READINESS_WRITABLE);
    EXPECT_TRUE(waits.Wait(0));
    waits.Clear();
    EXPECT_TRUE(waits.IsEmpty());
}

}  // namespace
