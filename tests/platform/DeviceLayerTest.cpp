#include "platform/DeviceLayer.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/linux/LinDeviceLayer.h"
#include "platform/linux/RS232Interface.h"
#include "platform/linux/SocketInterface.h"

namespace {

// Records its key in a shared list when it is deleted.
class FakeDevice : public IDevice {
  public:
    FakeDevice(unsigned long key, std::vector<unsigned long>& deleted)
        : m_key(key), m_deleted(deleted) {}
    ~FakeDevice() override { m_deleted.push_back(m_key); }
    Error Open() override { return Error(0); }
    void Close() override {}

  private:
    unsigned long m_key;
    std::vector<unsigned long>& m_deleted;
};

// Makes Ethernet and serial port devices and counts every attempt.
class CountingLayer : public TLinDeviceLayer {
  public:
    explicit CountingLayer(std::vector<unsigned long>& deleted) : m_deleted(deleted) {}

    IDevice* CreateDevice(DEVICE kind, unsigned int index) override {
        ++created;
        if (kind != DEVICE_ETHERNET && kind != DEVICE_RS232) {
            return nullptr;
        }
        return new FakeDevice(GetDeviceID(kind, index), m_deleted);
    }

    int created = 0;

  private:
    std::vector<unsigned long>& m_deleted;
};

class DeviceLayerTest : public ::testing::Test {
  protected:
    std::vector<unsigned long> m_deleted;
    CountingLayer m_layer{m_deleted};
};

TEST_F(DeviceLayerTest, MakesEachDeviceOnceAndKeepsIt) {
    IDevice* ethernet = m_layer.GetDevice(DEVICE_ETHERNET, 0);
    ASSERT_NE(ethernet, nullptr);
    EXPECT_EQ(m_layer.GetDevice(DEVICE_ETHERNET, 0), ethernet);
    IDevice* port1 = m_layer.GetDevice(DEVICE_RS232, 1);
    IDevice* port2 = m_layer.GetDevice(DEVICE_RS232, 2);
    EXPECT_NE(port1, nullptr);
    EXPECT_NE(port1, port2);
    EXPECT_EQ(m_layer.GetDevice(DEVICE_RS232, 1), port1);
    EXPECT_EQ(m_layer.created, 3);
}

TEST_F(DeviceLayerTest, AsksAgainForKindsItCouldNotMake) {
    EXPECT_EQ(m_layer.GetDevice(DEVICE_KEYBOARD, 0), nullptr);
    EXPECT_EQ(m_layer.GetDevice(DEVICE_KEYBOARD, 0), nullptr);
    EXPECT_EQ(m_layer.created, 2);
}

TEST_F(DeviceLayerTest, RefusesKeysThatWouldNameAnotherKind) {
    IDevice* port = m_layer.GetDevice(DEVICE_RS232, 0);
    ASSERT_NE(port, nullptr);
    // Ethernet index 0x30000 and kind 0x1000C would share the serial port's key.
    EXPECT_EQ(m_layer.GetDevice(DEVICE_ETHERNET, 0x30000), nullptr);
    EXPECT_EQ(m_layer.GetDevice(static_cast<DEVICE>(0x1000C), 0), nullptr);
    EXPECT_NE(m_layer.GetDevice(DEVICE_ETHERNET, 0xFFFF), nullptr);
}

TEST(DeviceLayerLifetimeTest, DeletesDevicesInAscendingKeyOrder) {
    std::vector<unsigned long> deleted;
    {
        CountingLayer layer(deleted);
        layer.GetDevice(DEVICE_RS232, 2);
        layer.GetDevice(DEVICE_ETHERNET, 0);
        layer.GetDevice(DEVICE_RS232, 1);
        layer.GetDevice(DEVICE_PINPAD, 0);  // a null entry
        EXPECT_TRUE(deleted.empty());
    }
    EXPECT_EQ(deleted, (std::vector<unsigned long>{0x90000, 0xC0001, 0xC0002}));
}

TEST(DeviceLayerIdTest, KindAboveIndex) {
    EXPECT_EQ(TDeviceLayer::GetDeviceID(DEVICE_USB, 3), 0xF0003u);
    EXPECT_EQ(TDeviceLayer::GetDeviceID(DEVICE_ETHERNET, 0), 0x90000u);
}

TEST(LinDeviceLayerTest, SelfTestIsNotSupported) {
    TLinDeviceDebugLayer layer(nullptr);
    EXPECT_EQ(layer.GetLastError().Code(), 0u);
    unsigned int result = 77;
    EXPECT_EQ(layer.Test(DEVICE_PINPAD, &result).Code(), 2u);
    EXPECT_EQ(result, 0u);
    EXPECT_EQ(layer.GetLastError().Code(), 2u);
}

TEST(LinDeviceLayerTest, MakesNothingForKindsThisPlatformLacks) {
    TLinDeviceDebugLayer layer(nullptr);
    for (unsigned kind : {0u, 1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u, 14u, 17u, 255u}) {
        EXPECT_EQ(layer.GetDevice(static_cast<DEVICE>(kind), 0), nullptr) << "kind " << kind;
        EXPECT_EQ(layer.GetDevice(static_cast<DEVICE>(kind), 0), nullptr) << "kind " << kind;
    }
}

TEST(LinDeviceLayerTest, MakesTheHostNetworkAndSerialPorts) {
    TLinDeviceDebugLayer layer(nullptr);
    for (DEVICE kind : {DEVICE_ETHERNET, DEVICE_WIFI, DEVICE_GPRS, DEVICE_OTHER_NETWORK}) {
        IDevice* network = layer.GetDevice(kind, 0);
        EXPECT_NE(dynamic_cast<TLinEthernetInterface*>(network), nullptr) << "kind " << kind;
        EXPECT_EQ(layer.GetDevice(kind, 0), network) << "kind " << kind;
    }
    IDevice* port1 = layer.GetDevice(DEVICE_RS232, 1);
    IDevice* port2 = layer.GetDevice(DEVICE_RS232, 2);
    EXPECT_NE(dynamic_cast<TLinRS232Interface*>(port1), nullptr);
    EXPECT_NE(dynamic_cast<TLinRS232Interface*>(port2), nullptr);
    EXPECT_NE(port1, port2);
}

}  // namespace
