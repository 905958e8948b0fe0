#include "platform/Descriptor.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace {

bool IsOpenInProcess(int fd) {
    return fcntl(fd, F_GETFD) != -1;
}

// Both ends of a fresh pipe, each owned by a descriptor.
class DescriptorTest : public ::testing::Test {
  protected:
    void SetUp() override {
        int ends[2];
        ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
        m_read.Reset(ends[0]);
        m_write.Reset(ends[1]);
        m_readEnd = ends[0];
        m_writeEnd = ends[1];
    }

    TDescriptor m_read;
    TDescriptor m_write;
    int m_readEnd = -1;
    int m_writeEnd = -1;
};

TEST_F(DescriptorTest, ClosesWhatItHoldsWhenItGoes) {
    {
        TDescriptor owner(m_read.Release());
        EXPECT_TRUE(owner.IsOpen());
        EXPECT_EQ(owner.Get(), m_readEnd);
    }
    EXPECT_FALSE(IsOpenInProcess(m_readEnd));
}

// Closing at once says whether the close worked, for a file whose last writes may fail there.
TEST_F(DescriptorTest, CloseReportsItsOutcomeAndLeavesNothingHeld) {
    EXPECT_TRUE(m_read.Close());
    EXPECT_FALSE(m_read.IsOpen());
    EXPECT_FALSE(IsOpenInProcess(m_readEnd));
    errno = 0;
    EXPECT_FALSE(m_read.Close());
    EXPECT_EQ(errno, EBADF);
}

TEST_F(DescriptorTest, ResetClosesTheOldAndTakesTheNew) {
    m_read.Reset(m_write.Release());
    EXPECT_FALSE(IsOpenInProcess(m_readEnd));
    EXPECT_EQ(m_read.Get(), m_writeEnd);

    m_read.Reset();
    EXPECT_FALSE(m_read);
    EXPECT_EQ(m_read.Get(), -1);
    EXPECT_FALSE(IsOpenInProcess(m_writeEnd));
}

TEST_F(DescriptorTest, MovingLeavesTheSourceEmptyAndClosesTheTargetsOld) {
    TDescriptor moved(std::move(m_read));
    EXPECT_FALSE(m_read);
    EXPECT_EQ(moved.Get(), m_readEnd);

    moved = std::move(m_write);
    EXPECT_FALSE(m_write);
    EXPECT_EQ(moved.Get(), m_writeEnd);
    EXPECT_FALSE(IsOpenInProcess(m_readEnd));
    EXPECT_TRUE(IsOpenInProcess(m_writeEnd));
}

TEST_F(DescriptorTest, ReleaseGivesUpOwnership) {
    const int fd = m_read.Release();
    EXPECT_FALSE(m_read);
    EXPECT_EQ(fd, m_readEnd);
    EXPECT_TRUE(IsOpenInProcess(fd));
    close(fd);
}

}  // namespace
