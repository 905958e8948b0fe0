#include "agent/AgentApplication.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/NetworkInterface.h"
#include "platform/RS232.h"
#include "support/TestDeviceLayer.h"
#include "support/TestSystem.h"
#include "sysutil/TerminalDevices.h"
#include "tunnel/SerialNetworkInterface.h"

namespace {

constexpr unsigned short cPort = 9;

// Something the agent did to its devices, and when.
struct TEvent {
    std::uint32_t at;
    std::string what;
    bool operator==(const TEvent&) const = default;
};

std::ostream& operator<<(std::ostream& out, const TEvent& event) {
    return out << event.what << " at " << event.at;
}

// The agent's world on a fake clock: settings in a temporary directory, a
// serial line that records what is sent on it, an Ethernet interface and a
// keyboard. Waiting moves the clock and runs whatever the test planned for
// that moment.
class TAgentWorld : public TTestSystem {
  public:
    TAgentWorld() {
        auto devices = std::make_unique<TTestDeviceLayer>();
        devices->Provide(DEVICE_RS232, cPort, std::make_unique<TLine>(*this));
        devices->Provide(DEVICE_ETHERNET, 0, std::make_unique<TEthernet>(*this));
        auto keyboard = std::make_unique<TKeyboard>();
        m_keyboard = keyboard.get();
        devices->Provide(DEVICE_KEYBOARD, 0, std::move(keyboard));
        devices->Provide(DEVICE_USB, cPort, std::make_unique<TSerialNetworkInterface>(cPort));
        SetDeviceLayer(std::move(devices));
    }
    // The devices note their closing into this world, so they go first.
    ~TAgentWorld() override { ReleaseDevices(); }

    void Wait(unsigned long milliseconds) override {
        waits[milliseconds]++;
        for (unsigned long left = milliseconds; left > 0; --left) {
            TTestSystem::Wait(1);
            if (auto plan = m_plans.find(Now()); plan != m_plans.end()) {
                plan->second();
            }
        }
    }
    std::uint32_t Now() { return Clock().Now(); }

    // Writes a settings file beside the agent; null contents remove it.
    void WriteSetting(const std::string& name, const char* contents) {
        const std::string path = Home() + "/" + name;
        std::remove(path.c_str());
        if (contents != nullptr) {
            std::ofstream(path) << contents;
        }
    }

    // Runs action when the clock reaches at.
    void At(std::uint32_t at, std::function<void()> action) { m_plans[at] = std::move(action); }
    void PressKeyAt(std::uint32_t at) {
        At(at, [this] { m_keyboard->key = 0x0D; });
    }
    void EnableAt(std::uint32_t at, bool enabled) {
        At(at, [this, enabled] { SetEnabled(enabled); });
    }
    void SetEnabled(bool enabled) {
        WriteSetting("agent.ini", enabled ? "Enabled=1\r\n" : "Enabled=0\r\n");
    }
    void Note(const std::string& what) { events.push_back({Now(), what}); }

    // The serial line can be made to refuse opening.
    bool lineOpens = true;
    // Bytes sent on the line, one string per opening.
    std::vector<std::string> lineTraffic;
    std::vector<TEvent> events;
    std::map<unsigned long, int> waits;  // length -> count

  private:
    class TLine : public IRS232Interface {
      public:
        explicit TLine(TAgentWorld& world) : m_world(world) {}
        Error Open() override { return Error(0); }
        void Close() override {}
        Error Connect(const TRs232Params& params, IConnection** connection) override {
            *connection = nullptr;
            if (!m_world.lineOpens) {
                m_world.Note("line refused");
                return Error(20001);
            }
            EXPECT_EQ(params.baudRate, 115200u);
            m_world.Note("line opened");
            m_world.lineTraffic.emplace_back();
            *connection = new TLineEnd(m_world);
            return Error(0);
        }

      private:
        TAgentWorld& m_world;
    };

    // The agent's end of a line with a silent terminal at the other end.
    class TLineEnd : public IConnection {
      public:
        explicit TLineEnd(TAgentWorld& world) : m_world(world) {}
        ~TLineEnd() override { m_world.Note("line closed"); }
        long Send(const unsigned char* data, unsigned long length) override {
            m_world.lineTraffic.back().append(reinterpret_cast<const char*>(data), length);
            return static_cast<long>(length);
        }
        long Receive(unsigned char*, unsigned long) override { return 0; }
        unsigned long GetPeerAddress() override { return 0; }
        CONNSTATE GetState() override { return CONNSTATE_CONNECTED; }
        Error GetLastError() override { return Error(0); }

      private:
        TAgentWorld& m_world;
    };

    class TEthernet : public INetworkInterface {
      public:
        explicit TEthernet(TAgentWorld& world) : m_world(world) {}
        Error Open() override {
            m_world.Note("ethernet opened");
            return Error(0);
        }
        void Close() override { m_world.Note("ethernet closed"); }
        unsigned GetCurrentState() override { return 3; }
        Error GetNetworkError() override { return Error(0); }
        Error SetSelfParams(const TNetworkClientParam&) override { return Error(2); }
        Error GetSelfParams(TNetworkClientParam&) override { return Error(2); }
        Error Call(const TNetworkHostParam&, IConnection** connection) override {
            *connection = nullptr;
            return Error(20001);
        }
        Error Listen(unsigned short, IConnection** connection) override {
            *connection = nullptr;
            return Error(20001);
        }
        Error Ping(unsigned long) override { return Error(2); }
        Error ResolveAddressUsingDNS(const char*, unsigned long*) override { return Error(2); }

      private:
        TAgentWorld& m_world;
    };

    class TKeyboard : public IKeyboard {
      public:
        Error Open() override { return Error(0); }
        void Close() override {}
        unsigned char GetKeyPressed() override {
            ++queries;
            return key;
        }
        unsigned char key = 0;
        int queries = 0;
    };

    TKeyboard* m_keyboard;
    std::map<std::uint32_t, std::function<void()>> m_plans;

  public:
    int KeyboardQueries() const { return m_keyboard->queries; }
};

class AgentApplicationTest : public testing::Test {
  protected:
    AgentApplicationTest() { world.WriteSetting("pinpad.ini", "ComPort=9\r\n"); }

    // The tunnel's reset request as it appears inside a frame on the line.
    static std::string ResetPacket() { return std::string("\x00\x05\x09\x00\x00\x00\x00", 7); }

    TAgentWorld world;  // installs itself as the system
};

TEST_F(AgentApplicationTest, PortNumberComesFromPinpadIniCutTo16Bits) {
    struct Case {
        const char* contents;  // null: no file
        unsigned short port;
    };
    const Case cases[] = {
        {nullptr, 0},           {"ComPort=9\r\n", 9},    {"ComPort=0\n", 0}, {"Other=3\n", 0},
        {"ComPort=65545\n", 9}, {"[x]\nComPort=4\n", 0}, {"ComPort=12", 12},
    };
    for (const Case& c : cases) {
        world.WriteSetting("pinpad.ini", c.contents);
        EXPECT_EQ(TAgentApplication::LoadSerialPortNumber(), c.port)
            << (c.contents ? c.contents : "(no file)");
        EXPECT_EQ(TAgentApplication().SerialPortNumber(), c.port);
    }
}

TEST_F(AgentApplicationTest, EnabledIsReadAnewOnEveryCheck) {
    EXPECT_FALSE(TAgentApplication::IsEnabled());  // no agent.ini
    world.SetEnabled(true);
    EXPECT_TRUE(TAgentApplication::IsEnabled());
    world.SetEnabled(false);
    EXPECT_FALSE(TAgentApplication::IsEnabled());
    world.WriteSetting("agent.ini", "Enabled=7\n");
    EXPECT_TRUE(TAgentApplication::IsEnabled());
}

TEST_F(AgentApplicationTest, WithoutAPortRunEndsAtOnceAndTouchesNoDevice) {
    world.WriteSetting("pinpad.ini", "ComPort=0\r\n");
    world.SetEnabled(true);
    TAgentApplication agent;
    agent.Run(true);
    EXPECT_TRUE(world.events.empty());
    EXPECT_TRUE(world.waits.empty());
    EXPECT_EQ(world.KeyboardQueries(), 0);
}

TEST_F(AgentApplicationTest, KeyboardIsPolledOnlyWhenAllowedAndAStopIsFinal) {
    TAgentApplication agent;
    world.PressKeyAt(1);
    world.Wait(1);
    EXPECT_FALSE(agent.IsStopped(false));
    EXPECT_EQ(world.KeyboardQueries(), 0);
    EXPECT_TRUE(agent.IsStopped(true));
    EXPECT_TRUE(agent.IsStopped(false));  // seen once, the stop stays
    EXPECT_EQ(world.KeyboardQueries(), 1);
}

TEST_F(AgentApplicationTest, DisabledAgentIdlesInFiveSecondStepsWithThePortClosed) {
    world.PressKeyAt(12000);
    TAgentApplication agent;
    agent.Run(true);
    EXPECT_TRUE(world.events.empty());
    EXPECT_EQ(world.waits, (std::map<unsigned long, int>{{5000, 3}}));
    EXPECT_EQ(world.Now(), 15000u);
}

TEST_F(AgentApplicationTest, ServiceFollowsTheEnabledSettingWithinFiveSeconds) {
    world.SetEnabled(true);
    world.EnableAt(12000, false);  // seen by the check at 15000
    world.EnableAt(20000, true);   // seen by the attempt after the 5000 ms pause
    world.PressKeyAt(30000);       // ends the cycle after the current pass
    TAgentApplication agent;
    agent.Run(true);

    const std::vector<TEvent> expected = {
        {0, "line opened"},         {0, "ethernet opened"}, {15000, "ethernet closed"},
        {15000, "line closed"},     {20000, "line opened"}, {20000, "ethernet opened"},
        {30000, "ethernet closed"}, {30000, "line closed"},
    };
    EXPECT_EQ(world.events, expected);
    EXPECT_EQ(world.Now(), 35000u);  // the pause after the last cycle
    EXPECT_EQ(world.waits[5000], 2);
    EXPECT_EQ(world.waits[5], (15000 + 10000) / 5);
    // Every cycle starts with the tunnel's reset request.
    ASSERT_EQ(world.lineTraffic.size(), 2u);
    for (const std::string& traffic : world.lineTraffic) {
        EXPECT_NE(traffic.find(ResetPacket()), std::string::npos);
    }
}

TEST_F(AgentApplicationTest, LineThatWillNotOpenIsRetriedEveryFiveSeconds) {
    world.SetEnabled(true);
    world.lineOpens = false;
    world.PressKeyAt(12000);
    TAgentApplication agent;
    agent.Run(true);
    const std::vector<TEvent> expected = {
        {0, "line refused"}, {5000, "line refused"}, {10000, "line refused"}};
    EXPECT_EQ(world.events, expected);
    EXPECT_EQ(world.Now(), 15000u);
}

}  // namespace
