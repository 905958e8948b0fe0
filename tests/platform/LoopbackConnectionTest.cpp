#include "platform/LoopbackConnection.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

long SendText(IConnection& connection, const std::string& text) {
    return connection.Send(reinterpret_cast<const unsigned char*>(text.data()), text.size());
}

std::string ReceiveText(IConnection& connection, unsigned long length) {
    std::string buffer(length, '\0');
    const long received =
        connection.Receive(reinterpret_cast<unsigned char*>(buffer.data()), length);
    buffer.resize(received > 0 ? static_cast<std::size_t>(received) : 0);
    return buffer;
}

TEST(LoopbackConnectionTest, CoupledEndsHandBytesToEachOther) {
    TLoopbackConnection a(nullptr);
    auto b = std::make_unique<TLoopbackConnection>(&a);

    EXPECT_EQ(SendText(a, "to b"), 4);
    EXPECT_EQ(SendText(*b, "to a"), 4);
    EXPECT_EQ(ReceiveText(*b, 2), "to");
    EXPECT_EQ(ReceiveText(*b, 10), " b");
    EXPECT_EQ(ReceiveText(a, 10), "to a");
    EXPECT_EQ(ReceiveText(a, 10), "");  // nothing buffered, partner alive: 0
    for (IConnection* end : {static_cast<IConnection*>(&a), static_cast<IConnection*>(b.get())}) {
        EXPECT_EQ(end->GetState(), CONNSTATE_CONNECTED);
        EXPECT_EQ(end->GetPeerAddress(), 0x7F000001u);
        EXPECT_EQ(end->GetLastError().Code(), 0u);
    }
}

TEST(LoopbackConnectionTest, EndLeftAloneListensAndDrainsWhatItHolds) {
    TLoopbackConnection a(nullptr);
    auto b = std::make_unique<TLoopbackConnection>(&a);
    SendText(*b, "left");
    b.reset();

    EXPECT_EQ(a.GetState(), CONNSTATE_LISTENING);
    EXPECT_EQ(SendText(a, "x"), -1);
    EXPECT_EQ(ReceiveText(a, 10), "left");
    unsigned char byte;
    EXPECT_EQ(a.Receive(&byte, 1), -1);
}

TEST(LoopbackConnectionTest, CouplingATakenEndLeavesItsFormerPartnerAlone) {
    auto a = std::make_unique<TLoopbackConnection>(nullptr);
    TLoopbackConnection b(a.get());
    TLoopbackConnection c(a.get());

    EXPECT_EQ(b.GetState(), CONNSTATE_LISTENING);
    EXPECT_EQ(SendText(b, "x"), -1);
    EXPECT_EQ(SendText(c, "to a"), 4);
    EXPECT_EQ(ReceiveText(*a, 10), "to a");

    a.reset();
    EXPECT_EQ(c.GetState(), CONNSTATE_LISTENING);
    EXPECT_EQ(SendText(b, "x"), -1);  // never reaches the deleted end
}

}  // namespace
