#include "log/SystemTracer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>

#include "platform/FileSystem.h"
#include "platform/RS232.h"
#include "support/MemoryConnection.h"
#include "support/MemorySerialPort.h"
#include "support/TestDeviceLayer.h"
#include "support/TestSystem.h"

namespace {

// The test system, counting the requests for its default file system (where
// "qntrace.txt" goes) and for its device layer.
class TCountingSystem : public TTestSystem {
  public:
    IFileSystem* GetDefaultFileSystem() override {
        ++fileSystemRequests;
        return TTestSystem::GetDefaultFileSystem();
    }
    IDeviceLayer* GetDeviceLayer() override {
        ++deviceLayerRequests;
        return TTestSystem::GetDeviceLayer();
    }

    int fileSystemRequests = 0;
    int deviceLayerRequests = 0;
};

// Serial port 1 is an in-memory line.
class SystemTracerTest : public ::testing::Test {
  protected:
    SystemTracerTest() {
        auto devices = std::make_unique<TTestDeviceLayer>();
        auto port = std::make_unique<TMemorySerialPort>(line);
        serialPort = port.get();
        devices->Provide(DEVICE_RS232, 1, std::move(port));
        system.SetDeviceLayer(std::move(devices));
        system.fileSystemRequests = 0;
        system.deviceLayerRequests = 0;
    }

    ~SystemTracerTest() override {
        tracer.SetOutput(TSystemTracer::OUTPUT_NONE);
        tracer.SetEnabled(false);
    }

    void Enable(std::uint32_t output) {
        tracer.SetOutput(output);
        tracer.SetEnabled(true);
    }

    std::string SerialBytes() {
        const T_BinaryData sent = line.TakePending(TMemoryLine::B);
        return std::string(reinterpret_cast<const char*>(sent.GetData()), sent.Length());
    }

    std::string TraceFile() const {
        std::ifstream in(system.Home() + "/qntrace.txt", std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    TMemoryLine line;
    TCountingSystem system;
    TMemorySerialPort* serialPort = nullptr;
    TSystemTracer& tracer = TSystemTracer::Instance();
};

TEST_F(SystemTracerTest, IsOneObject) {
    EXPECT_EQ(&TSystemTracer::Instance(), &tracer);
}

TEST_F(SystemTracerTest, AsConstructedDropsEveryEventUntouched) {
    tracer.LogData(TSysTraceLine("a\n"));
    tracer.SetOutput(TSystemTracer::OUTPUT_FILE);
    tracer.LogData(TSysTraceLine("b\n"));

    EXPECT_EQ(system.fileSystemRequests, 0);
    EXPECT_EQ(system.deviceLayerRequests, 0);
    EXPECT_FALSE(std::filesystem::exists(system.Home() + "/qntrace.txt"));
}

TEST_F(SystemTracerTest, FileOutputAppendsTheTextsAsTheyAre) {
    std::ofstream(system.Home() + "/qntrace.txt", std::ios::binary) << "old";
    Enable(TSystemTracer::OUTPUT_FILE);

    tracer.LogData(TSysTraceLine("a\n"));
    tracer.LogData(TSysTraceLine("b"));

    EXPECT_EQ(TraceFile(), "olda\nb");
}

TEST_F(SystemTracerTest, SerialOutputSendsTheTextAndACarriageReturnOverPortOne) {
    Enable(TSystemTracer::OUTPUT_SERIAL);

    tracer.LogData(TSysTraceLine("x"));

    EXPECT_EQ(SerialBytes(), "x\r");
    EXPECT_EQ(line.LiveEnds(TMemoryLine::A), 0) << "the port is closed after the event";
    ASSERT_TRUE(serialPort->LastParams().has_value());
    EXPECT_EQ(serialPort->LastParams()->port, 1);
    EXPECT_EQ(serialPort->LastParams()->baudRate, 115200u);
    EXPECT_EQ(serialPort->LastParams()->dataBits, 8);
    EXPECT_EQ(serialPort->LastParams()->parity, PARITY_NONE);
    EXPECT_EQ(serialPort->LastParams()->stopBits, STOPBITS_ONE);
}

TEST_F(SystemTracerTest, SerialOutputWithoutAPortDropsTheEvent) {
    system.SetDeviceLayer(std::make_unique<TTestDeviceLayer>());
    Enable(TSystemTracer::OUTPUT_SERIAL);

    tracer.LogData(TSysTraceLine("x"));

    EXPECT_EQ(line.PendingCount(TMemoryLine::B), 0u);
}

TEST_F(SystemTracerTest, PrinterAndUnknownOutputsWriteNothing) {
    for (std::uint32_t output : {std::uint32_t{TSystemTracer::OUTPUT_PRINTER}, std::uint32_t{7}}) {
        Enable(output);
        tracer.LogData(TSysTraceLine("x"));
    }

    EXPECT_EQ(TraceFile(), "");
    EXPECT_EQ(line.PendingCount(TMemoryLine::B), 0u);
}

TEST(SystemTracerEventTextTest, ShowsTheMarkerAndTheData) {
    const unsigned char bytes[] = {0x01, 0xAB};
    const unsigned char text[] = {'h', 'i', 0x00, '!'};

    EXPECT_EQ(TSystemTracer::EventToString(T_LE_Sent(bytes, 2)), ">\n01AB\n");
    EXPECT_EQ(TSystemTracer::EventToString(TLogEvent(0, text, 4)), std::string("\nhi\0!", 5));
    EXPECT_EQ(TSystemTracer::EventToString(T_LE_Connected("10.0.0.5")), "Connected");
    EXPECT_EQ(TSystemTracer::EventToString(TSysTraceLine("line\n")), "line\n");
}

}  // namespace
