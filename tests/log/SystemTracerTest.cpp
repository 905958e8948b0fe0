#include "log/SystemTracer.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "platform/DeviceOverlay.h"
#include "platform/FileSystem.h"
#include "platform/ForwardingSystem.h"
#include "platform/RS232.h"
#include "support/MemoryConnection.h"
#include "support/TempDir.h"

namespace {

// A serial port whose connections are end A of an in-memory line.
class TLineRS232 : public IRS232Interface {
  public:
    explicit TLineRS232(TMemoryLine& line) : m_line(line) {}
    Error Open() override { return Error(0); }
    void Close() override {}
    Error Connect(const TRs232Params& params, IConnection** connection) override {
        lastParams = params;
        *connection = m_line.NewEnd(TMemoryLine::A);
        return Error(0);
    }

    std::optional<TRs232Params> lastParams;

  private:
    TMemoryLine& m_line;
};

// The process's system with its default file system in a temporary directory
// and serial port 1 on an in-memory line; it counts the requests for either.
class TTraceSystem : public TForwardingSystem {
  public:
    explicit TTraceSystem(IFileSystem& files)
        : TForwardingSystem(ISystem::Instance()), m_files(files) {}

    IFileSystem* GetDefaultFileSystem() override {
        ++fileSystemRequests;
        return &m_files;
    }
    IDeviceLayer* GetDeviceLayer() override {
        ++deviceLayerRequests;
        return &devices;
    }

    TDeviceOverlay devices;
    int fileSystemRequests = 0;
    int deviceLayerRequests = 0;

  private:
    IFileSystem& m_files;
};

class SystemTracerTest : public ::testing::Test {
  protected:
    SystemTracerTest() { system.devices.Add(DEVICE_RS232, 1, &serialPort); }

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

    TempDir dir;
    TLinFileSystem files{dir.Path().c_str()};
    TMemoryLine line;
    TLineRS232 serialPort{line};
    TTraceSystem system{files};
    TSystemInstallation installation{&system};
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
    EXPECT_FALSE(dir.Exists("qntrace.txt"));
}

TEST_F(SystemTracerTest, FileOutputAppendsTheTextsAsTheyAre) {
    dir.WriteFile("qntrace.txt", "old");
    Enable(TSystemTracer::OUTPUT_FILE);

    tracer.LogData(TSysTraceLine("a\n"));
    tracer.LogData(TSysTraceLine("b"));

    EXPECT_EQ(dir.ReadFile("qntrace.txt"), "olda\nb");
}

TEST_F(SystemTracerTest, SerialOutputSendsTheTextAndACarriageReturnOverPortOne) {
    Enable(TSystemTracer::OUTPUT_SERIAL);

    tracer.LogData(TSysTraceLine("x"));

    EXPECT_EQ(SerialBytes(), "x\r");
    EXPECT_EQ(line.LiveEnds(TMemoryLine::A), 0) << "the port is closed after the event";
    ASSERT_TRUE(serialPort.lastParams.has_value());
    EXPECT_EQ(serialPort.lastParams->port, 1);
    EXPECT_EQ(serialPort.lastParams->baudRate, 115200u);
    EXPECT_EQ(serialPort.lastParams->dataBits, 8);
    EXPECT_EQ(serialPort.lastParams->parity, PARITY_NONE);
    EXPECT_EQ(serialPort.lastParams->stopBits, STOPBITS_ONE);
}

TEST_F(SystemTracerTest, SerialOutputWithoutAPortDropsTheEvent) {
    TTraceSystem withoutPorts(files);
    TSystemInstallation replaced(&withoutPorts);
    Enable(TSystemTracer::OUTPUT_SERIAL);

    tracer.LogData(TSysTraceLine("x"));

    EXPECT_EQ(line.PendingCount(TMemoryLine::B), 0u);
}

TEST_F(SystemTracerTest, PrinterAndUnknownOutputsWriteNothing) {
    for (std::uint32_t output : {std::uint32_t{TSystemTracer::OUTPUT_PRINTER}, std::uint32_t{7}}) {
        Enable(output);
        tracer.LogData(TSysTraceLine("x"));
    }

    EXPECT_FALSE(dir.Exists("qntrace.txt"));
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
