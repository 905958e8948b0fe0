#include "platform/linux/RS232Interface.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/linux/LinFileSystem.h"
#include "platform/linux/RS232Connection.h"
#include "support/CommLog.h"
#include "support/Loopback.h"
#include "support/TempDir.h"

namespace {

using ::testing::ElementsAre;
using ::testing::StartsWith;

std::size_t OpenDescriptorCount() {
    return static_cast<std::size_t>(
        std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                      std::filesystem::directory_iterator()));
}

// Port 9 opens "ttyS99" in the current directory: the test runs in a
// temporary directory where that name links to the slave of a
// pseudo-terminal pair, and plays the far end on the master.
class RS232InterfaceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        NewPair();
        m_previousDirectory = std::filesystem::current_path();
        std::filesystem::current_path(m_dir.Path());
    }
    // A fresh pseudo-terminal pair behind "ttyS99".
    void NewPair() {
        int master = -1;
        int slave = -1;
        ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
        m_master = TDescriptor(master);
        m_slave = TDescriptor(slave);
        std::filesystem::remove(m_dir / "ttyS99");
        std::filesystem::create_symlink(ttyname(slave), m_dir / "ttyS99");
    }
    void TearDown() override { std::filesystem::current_path(m_previousDirectory); }

    std::unique_ptr<IConnection> Connect(const TRs232Params& params, Error* result = nullptr) {
        IConnection* connection = reinterpret_cast<IConnection*>(1);  // must be reset
        const Error error = m_serial.Connect(params, &connection);
        if (result) {
            *result = error;
        }
        return std::unique_ptr<IConnection>(connection);
    }

    std::vector<std::string> Log(const char* name = "CommLog9.txt") const {
        return CommLogEntries(m_dir.ReadFile(std::string("Trace/") + name));
    }

    TempDir m_dir;
    TLinFileSystem m_traceFiles{(m_dir / "Trace").c_str()};
    TLinRS232Interface m_serial{&m_traceFiles};
    TDescriptor m_master;
    TDescriptor m_slave;
    std::filesystem::path m_previousDirectory;
};

TEST_F(RS232InterfaceTest, CarriesDataBothWaysAndLogsIt) {
    const std::size_t descriptorsBefore = OpenDescriptorCount();
    Error result;
    std::unique_ptr<IConnection> line =
        Connect(TRs232Params(9, 115200, 8, PARITY_NONE, STOPBITS_ONE), &result);
    ASSERT_EQ(result.Code(), 0u);
    ASSERT_TRUE(line);
    EXPECT_EQ(line->GetState(), CONNSTATE_CONNECTED);
    EXPECT_EQ(line->GetPeerAddress(), 0u);

    EXPECT_EQ(line->Send(reinterpret_cast<const unsigned char*>("hello"), 5), 5);
    EXPECT_EQ(ReceiveExactly(m_master, 5), "hello");

    const unsigned char incoming[] = {0x01, 0xC0, 0x0D, 0x0A};
    ASSERT_EQ(write(m_master.Get(), incoming, sizeof incoming), 4);
    unsigned char buffer[16];
    long received = 0;
    ASSERT_TRUE(WaitFor([&] { return (received = line->Receive(buffer, sizeof buffer)) != 0; }));
    ASSERT_EQ(received, 4);  // raw: no translation of CR or LF
    EXPECT_EQ(std::memcmp(buffer, incoming, 4), 0);

    line.reset();
    EXPECT_EQ(OpenDescriptorCount(), descriptorsBefore);
    EXPECT_THAT(Log(), ElementsAre("Connected", StartsWith(">68 65 6C 6C 6F "),
                                   StartsWith("<01 C0 0D 0A "), "Disconnected\n"));
}

TEST(SerialDeviceNameTest, PortNumbersCountFromOneExceptTheLocalFile) {
    const std::vector<std::pair<unsigned short, std::string>> cases = {
        {1, "/dev/ttyS0"}, {2, "/dev/ttyS1"},  {8, "/dev/ttyS7"},
        {9, "ttyS99"},     {10, "/dev/ttyS9"}, {0, "/dev/ttyS-1"},
    };
    for (const auto& [port, device] : cases) {
        EXPECT_EQ(SerialDeviceName(port), device) << "port " << port;
    }
}

TEST(RawLineSettingsTest, SetSpeedAndFramingOfARawLine) {
    struct Case {
        TRs232Params params;
        speed_t speed;
        tcflag_t size;
        tcflag_t parityFlags;  // of PARENB and PARODD
        bool twoStopBits;
    };
    const std::vector<Case> cases = {
        {TRs232Params(1, 115200, 8, PARITY_NONE, STOPBITS_ONE), B115200, CS8, 0, false},
        {TRs232Params(1, 4800, 8, PARITY_NONE, STOPBITS_ONE), B9600, CS8, 0, false},
        {TRs232Params(1, 9600, 7, PARITY_ODD, STOPBITS_TWO), B9600, CS7, PARENB | PARODD, true},
        {TRs232Params(1, 19200, 6, PARITY_EVEN, STOPBITS_ONE), B19200, CS6, PARENB, false},
        {TRs232Params(1, 1200, 5, static_cast<QERN2_PARITY>('M'), STOPBITS_ONE), B1200, CS5, PARENB,
         false},
        {TRs232Params(1, 57600, 9, PARITY_NONE, static_cast<STOPBITS>(3)), B57600, CS8, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << c.params.baudRate << " baud, " << int(c.params.dataBits) << " bits, parity "
                     << char(c.params.parity));
        const termios settings = RawLineSettings(c.params);
        EXPECT_EQ(cfgetispeed(&settings), c.speed);
        EXPECT_EQ(cfgetospeed(&settings), c.speed);
        EXPECT_EQ(settings.c_cflag & CSIZE, c.size);
        EXPECT_EQ(settings.c_cflag & (PARENB | PARODD), c.parityFlags);
        EXPECT_EQ((settings.c_cflag & CSTOPB) != 0, c.twoStopBits);
        EXPECT_EQ(settings.c_cflag & (CREAD | CLOCAL), tcflag_t(CREAD | CLOCAL));
        EXPECT_EQ(settings.c_iflag, tcflag_t(INPCK));
        EXPECT_EQ(settings.c_oflag, 0u);
        EXPECT_EQ(settings.c_lflag, 0u);
        EXPECT_EQ(settings.c_cc[VMIN], 0);
        EXPECT_EQ(settings.c_cc[VTIME], 0);
    }
}

// A pseudo-terminal keeps the speed, the stop bits, the parity sense and the
// raw mode it is given (it forces 8 bits without parity itself).
TEST_F(RS232InterfaceTest, AppliesTheSettingsToTheLine) {
    std::unique_ptr<IConnection> line = Connect(TRs232Params(9, 4800, 7, PARITY_ODD, STOPBITS_TWO));
    ASSERT_TRUE(line);
    termios settings{};
    ASSERT_EQ(tcgetattr(m_slave.Get(), &settings), 0);
    EXPECT_EQ(cfgetospeed(&settings), speed_t(B9600));
    EXPECT_EQ(settings.c_cflag & (PARODD | CSTOPB), tcflag_t(PARODD | CSTOPB));
    EXPECT_EQ(settings.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(settings.c_oflag & OPOST, 0u);
    EXPECT_EQ(settings.c_cc[VMIN], 0);
}

TEST_F(RS232InterfaceTest, MissingDeviceGivesNoConnectionAndNoLog) {
    std::filesystem::remove(m_dir / "ttyS99");
    for (unsigned short port : {9, 0}) {  // ttyS99 here, /dev/ttyS-1
        Error result;
        std::unique_ptr<IConnection> line =
            Connect(TRs232Params(port, 115200, 8, PARITY_NONE, STOPBITS_ONE), &result);
        EXPECT_FALSE(line);
        EXPECT_EQ(result.Code(), 20001u);
        ASSERT_TRUE(result.Sub());
        EXPECT_EQ(result.Sub()->Code(), 22000u + ENOENT);
    }
    EXPECT_TRUE(std::filesystem::is_empty(m_dir / "Trace"));
}

// A port is one connection's alone: a second open of it fails as busy and
// leaves the line's settings as the first connection set them; once the
// first is gone the port opens again. The descriptor is close-on-exec.
TEST_F(RS232InterfaceTest, APortInUseIsBusyAndLeftAlone) {
    std::unique_ptr<IConnection> first =
        Connect(TRs232Params(9, 115200, 8, PARITY_NONE, STOPBITS_ONE));
    ASSERT_TRUE(first);
    const int fd = dynamic_cast<ISerialLine&>(*first).GetDescriptor();
    EXPECT_NE(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
    termios before{};
    ASSERT_EQ(tcgetattr(m_slave.Get(), &before), 0);

    Error result;
    EXPECT_FALSE(Connect(TRs232Params(9, 9600, 7, PARITY_EVEN, STOPBITS_TWO), &result));
    EXPECT_EQ(result.Code(), 20001u);
    ASSERT_TRUE(result.Sub());
    EXPECT_EQ(result.Sub()->Code(), 22000u + EBUSY);
    termios after{};
    ASSERT_EQ(tcgetattr(m_slave.Get(), &after), 0);
    EXPECT_EQ(cfgetospeed(&after), cfgetospeed(&before));
    EXPECT_EQ(after.c_cflag, before.c_cflag);

    first.reset();
    EXPECT_TRUE(Connect(TRs232Params(9, 115200, 8, PARITY_NONE, STOPBITS_ONE)));
}

TEST_F(RS232InterfaceTest, PlainFileStillGivesAConnection) {
    std::filesystem::remove(m_dir / "ttyS99");
    m_dir.WriteFile("ttyS99", "");
    std::unique_ptr<IConnection> line =
        Connect(TRs232Params(9, 115200, 8, PARITY_NONE, STOPBITS_ONE));
    ASSERT_TRUE(line);
    EXPECT_EQ(line->Send(reinterpret_cast<const unsigned char*>("abc"), 3), 3);
    // The end of a file is no failure, and a file is never waited on: it is
    // always ready.
    unsigned char buffer[8];
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(line->Receive(buffer, sizeof buffer), 0);
    }
    EXPECT_EQ(line->GetState(), CONNSTATE_CONNECTED);
    EXPECT_EQ(dynamic_cast<ISerialLine&>(*line).GetDescriptor(), -1);
    line.reset();
    EXPECT_EQ(m_dir.ReadFile("ttyS99"), "abc");
}

TEST_F(RS232InterfaceTest, IdleReceiveWaitsBrieflyAndLogsNothing) {
    std::unique_ptr<IConnection> line =
        Connect(TRs232Params(9, 115200, 8, PARITY_NONE, STOPBITS_ONE));
    ASSERT_TRUE(line);
    unsigned char buffer[16];
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(line->Receive(buffer, sizeof buffer), 0);
    // It waits for input (25 ms) rather than returning at once.
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(20));
    EXPECT_THAT(Log(), ElementsAre("Connected"));
}

// A device that vanished (here: the far end of the pseudo-terminal closed) is
// lost for good at the first failure: the connection reports itself
// disconnected with the reason, and offers no descriptor to wait on.
TEST_F(RS232InterfaceTest, VanishedDeviceLosesTheLine) {
    struct Case {
        const char* name;
        std::function<long(IConnection&)> transfer;
        std::optional<unsigned long> cause;  // the system's error, if one was reported
    };
    const Case cases[] = {
        {"send",
         [](IConnection& line) {
             return line.Send(reinterpret_cast<const unsigned char*>("x"), 1);
         },
         22000u + EIO},
        {"receive",
         [](IConnection& line) {
             unsigned char buffer[8];
             return line.Receive(buffer, sizeof buffer);
         },
         std::nullopt},  // a hang-up: the read just ends
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        NewPair();
        std::filesystem::remove(m_dir / "Trace/CommLog9.txt");
        std::unique_ptr<IConnection> line =
            Connect(TRs232Params(9, 115200, 8, PARITY_NONE, STOPBITS_ONE));
        ASSERT_TRUE(line);
        auto& pollable = dynamic_cast<ISerialLine&>(*line);
        EXPECT_GE(pollable.GetDescriptor(), 0);
        EXPECT_EQ(line->GetState(), CONNSTATE_CONNECTED);

        m_master.Reset();
        EXPECT_EQ(c.transfer(*line), -1);
        EXPECT_EQ(line->GetState(), CONNSTATE_DISCONNECTED);
        EXPECT_EQ(line->GetLastError().Code(), 20003u);
        const std::optional<Error> cause = line->GetLastError().Sub();
        EXPECT_EQ(cause ? std::optional(cause->Code()) : std::nullopt, c.cause);
        EXPECT_EQ(pollable.GetDescriptor(), -1);
        // From now on nothing touches the device.
        EXPECT_EQ(c.transfer(*line), -1);
        line.reset();
        EXPECT_THAT(Log(), ElementsAre("Connected", StartsWith("Disconnected")));
    }
}

// Input that came before the far end went is still delivered.
TEST_F(RS232InterfaceTest, InputBeforeAHangUpIsReadFirst) {
    std::unique_ptr<IConnection> line =
        Connect(TRs232Params(9, 115200, 8, PARITY_NONE, STOPBITS_ONE));
    ASSERT_TRUE(line);
    ASSERT_EQ(write(m_master.Get(), "abc", 3), 3);
    unsigned char buffer[8];
    long received = 0;
    ASSERT_TRUE(WaitFor([&] { return (received = line->Receive(buffer, sizeof buffer)) != 0; }));
    EXPECT_EQ(received, 3);
    m_master.Reset();
    EXPECT_EQ(line->Receive(buffer, sizeof buffer), -1);
    EXPECT_EQ(line->GetState(), CONNSTATE_DISCONNECTED);
}

}  // namespace
