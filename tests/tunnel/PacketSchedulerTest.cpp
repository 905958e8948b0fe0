#include "tunnel/PacketScheduler.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "tunnel/SerialPacket.h"

namespace {

TSerialPacket Notice(unsigned char action, unsigned long socketId) {
    return TSerialPacket(action, socketId, 0, 0, 0);
}

// The order in which the scheduler hands out its packets, as "action:id".
std::vector<std::string> Drain(TPacketScheduler& scheduler) {
    std::vector<std::string> order;
    while (auto packet = scheduler.PopNext()) {
        order.push_back(std::to_string(packet->action) + ":" + std::to_string(packet->socketId));
    }
    return order;
}

TEST(PacketSchedulerTest, IdsTakeTurnsAndEachKeepsItsOrder) {
    TPacketScheduler scheduler;
    for (int i = 0; i < 3; ++i) {
        scheduler.Push(TSerialPacket(ACTION_DATA_IN, 1, T_BinaryData(std::string(248, 'a'))));
    }
    scheduler.Push(Notice(ACTION_CLOSED, 1));
    scheduler.Push(Notice(ACTION_CALL_RESULT, 3));
    scheduler.Push(Notice(ACTION_CLOSED, 3));
    EXPECT_EQ(Drain(scheduler),
              (std::vector<std::string>{"7:1", "4:3", "7:1", "5:3", "7:1", "5:1"}));
    EXPECT_TRUE(scheduler.IsEmpty());
}

TEST(PacketSchedulerTest, TheTurnGoesOnFromTheIdServedLast) {
    TPacketScheduler scheduler;
    scheduler.Push(Notice(ACTION_CLOSED, 5));
    EXPECT_EQ(Drain(scheduler), std::vector<std::string>{"5:5"});
    scheduler.Push(Notice(ACTION_CLOSED, 2));
    scheduler.Push(Notice(ACTION_CLOSED, 5));
    scheduler.Push(Notice(ACTION_CLOSED, 9));
    EXPECT_EQ(Drain(scheduler), (std::vector<std::string>{"5:9", "5:2", "5:5"}));
}

TEST(PacketSchedulerTest, CountsWaitingBytesPerIdAndDropsAnIdsPackets) {
    TPacketScheduler scheduler;
    scheduler.Push(TSerialPacket(ACTION_DATA_IN, 1, T_BinaryData(std::string(100, 'a'))));
    scheduler.Push(Notice(ACTION_CLOSED, 1));
    scheduler.Push(Notice(ACTION_CLOSED, 2));
    EXPECT_EQ(scheduler.QueuedBytes(1), 107u + 7u);
    EXPECT_EQ(scheduler.TotalBytes(), 107u + 7u + 7u);
    scheduler.Drop(1);
    EXPECT_EQ(scheduler.QueuedBytes(1), 0u);
    EXPECT_EQ(scheduler.TotalBytes(), 7u);
    EXPECT_EQ(Drain(scheduler), std::vector<std::string>{"5:2"});
    EXPECT_EQ(scheduler.TotalBytes(), 0u);
}

// However often a closed notice is asked for, one waits per id: a flood of requests for
// unknown ids costs one notice each, not one per request.
TEST(PacketSchedulerTest, RepeatedClosedNoticesOfAnIdMerge) {
    TPacketScheduler scheduler;
    scheduler.Push(Notice(ACTION_CLOSED, 4));
    scheduler.Push(Notice(ACTION_CLOSED, 4));
    scheduler.Push(TSerialPacket(ACTION_DATA_IN, 6, T_BinaryData(std::string(10, 'a'))));
    scheduler.Push(Notice(ACTION_CLOSED, 6));
    scheduler.Push(Notice(ACTION_CLOSED, 6));
    EXPECT_EQ(scheduler.TotalPackets(), 3u);
    EXPECT_EQ(scheduler.QueuedBytes(4), 7u);
    EXPECT_EQ(Drain(scheduler), (std::vector<std::string>{"5:4", "7:6", "5:6"}));

    // Once sent, the id's next closed notice waits again.
    scheduler.Push(Notice(ACTION_CLOSED, 4));
    ASSERT_EQ(Drain(scheduler), std::vector<std::string>{"5:4"});
    scheduler.Push(Notice(ACTION_CLOSED, 4));
    scheduler.Drop(4);
    scheduler.Push(Notice(ACTION_CLOSED, 4));
    EXPECT_EQ(Drain(scheduler), std::vector<std::string>{"5:4"});
    EXPECT_EQ(scheduler.TotalPackets(), 0u);
}

TEST(PacketSchedulerTest, TheOldestIdIsTheOneWhoseQueueStartedFirst) {
    TPacketScheduler scheduler;
    EXPECT_EQ(scheduler.OldestSocketId(), std::nullopt);
    scheduler.Push(Notice(ACTION_CLOSED, 9));
    scheduler.Push(Notice(ACTION_CLOSED, 2));
    scheduler.Push(Notice(ACTION_CALL_RESULT, 9));
    scheduler.Push(Notice(ACTION_CLOSED, 5));
    EXPECT_EQ(scheduler.OldestSocketId(), 9u);
    scheduler.Drop(9);
    EXPECT_EQ(scheduler.OldestSocketId(), 2u);
    ASSERT_EQ(scheduler.PopNext()->socketId, 2u);  // its queue empties
    EXPECT_EQ(scheduler.OldestSocketId(), 5u);
    scheduler.Push(Notice(ACTION_CLOSED, 2));  // starts a new queue, behind 5
    EXPECT_EQ(scheduler.OldestSocketId(), 5u);
    scheduler.Clear();
    EXPECT_EQ(scheduler.OldestSocketId(), std::nullopt);
    EXPECT_EQ(scheduler.TotalPackets(), 0u);
}

}  // namespace
