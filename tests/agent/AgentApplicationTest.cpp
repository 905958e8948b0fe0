#include "agent/AgentApplication.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/NetworkInterface.h"
#include "platform/RS232.h"
#include "platform/WaitSet.h"
#include "support/TestDeviceLayer.h"
#include "support/TestSystem.h"
#include "sysutil/TerminalDevices.h"
#include "tunnel/SerialNetworkInterface.h"

namespace {

constexpr unsigned short kPort = 9;

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
        devices->Provide(DEVICE_RS232, kPort, std::make_unique<TLine>(*this));
        devices->Provide(DEVICE_ETHERNET, 0, std::make_unique<TEthernet>(*this));
        auto keyboard = std::make_unique<TKeyboard>();
        m_keyboard = keyboard.get();
        devices->Provide(DEVICE_KEYBOARD, 0, std::move(keyboard));
        devices->Provide(DEVICE_USB, kPort, std::make_unique<TSerialNetworkInterface>(kPort));
        SetDeviceLayer(std::move(devices));
    }
    // The devices note their closing into this world, so they go first.
    ~TAgentWorld() override { ReleaseDevices(); }

    void Wait(unsigned long milliseconds) override {
        waits[milliseconds]++;
        Advance(milliseconds);
    }
    // The loop sleeps the whole time-out unless a plan changes the world
    // meanwhile (a frame from the terminal, say), which wakes it as input on
    // a descriptor would.
    bool WaitForActivity(TWaitSet& set, unsigned long milliseconds) override {
        if (set.IsEmpty()) {  // a pause that only a signal ends
            Wait(milliseconds);
            return false;
        }
        activityWaits.push_back({milliseconds, set.Contains(lineDescriptor, READINESS_READABLE)});
        for (unsigned long left = milliseconds; left > 0; --left) {
            if (Tick()) {
                return true;
            }
        }
        return false;
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

    // The serial line can be made to refuse opening, and to be lost.
    bool lineOpens = true;
    bool lineLost = false;
    // Another program holds the port.
    bool lineBusy = false;
    // What the terminal sends next, read by the agent's next receive.
    std::string terminalSends;
    // When the agent's end of the line was read (the clock at each receive).
    std::vector<std::uint32_t> lineReads;
    // The descriptor the line offers for waiting, and the receive wait the
    // agent asked the line for (-1: never asked).
    int lineDescriptor = 1000;
    long lineReceiveWait = -1;
    struct TActivityWait {
        unsigned long timeout;
        bool onLine;  // the line's descriptor was among those waited on
    };
    std::vector<TActivityWait> activityWaits;
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
            if (m_world.lineBusy) {
                m_world.Note("line busy");
                return SubError(20001, kLinErrnoBase + EBUSY);
            }
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

    // The agent's end of a line to a terminal that says what the test makes
    // it say.
    class TLineEnd : public IConnection, public ISerialLine {
      public:
        explicit TLineEnd(TAgentWorld& world) : m_world(world) {}
        ~TLineEnd() override { m_world.Note("line closed"); }
        long Send(const unsigned char* data, unsigned long length) override {
            m_world.lineTraffic.back().append(reinterpret_cast<const char*>(data), length);
            return static_cast<long>(length);
        }
        long Receive(unsigned char* buffer, unsigned long length) override {
            m_world.lineReads.push_back(m_world.Now());
            const std::size_t count = std::min<std::size_t>(length, m_world.terminalSends.size());
            m_world.terminalSends.copy(reinterpret_cast<char*>(buffer), count);
            m_world.terminalSends.erase(0, count);
            return static_cast<long>(count);
        }
        unsigned long GetPeerAddress() override { return 0; }
        CONNSTATE GetState() override {
            return m_world.lineLost ? CONNSTATE_DISCONNECTED : CONNSTATE_CONNECTED;
        }
        Error GetLastError() override { return Error(0); }
        int GetDescriptor() const override { return m_world.lineDescriptor; }
        void SetReceiveWait(unsigned long milliseconds) override {
            m_world.lineReceiveWait = static_cast<long>(milliseconds);
        }

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

    // Moves the clock one millisecond at a time, carrying out the plans.
    void Advance(unsigned long milliseconds) {
        for (unsigned long left = milliseconds; left > 0; --left) {
            Tick();
        }
    }
    // One millisecond on; true when a plan was carried out.
    bool Tick() {
        TTestSystem::Wait(1);
        const auto plan = m_plans.find(Now());
        if (plan == m_plans.end()) {
            return false;
        }
        plan->second();
        return true;
    }

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

// "ComPort" is a whole number from 0 to 65535 with blanks around it allowed.
// No file and 0 mean no port, silently; everything else that gives no port is
// a problem naming the file, the key and the value.
TEST_F(AgentApplicationTest, PortNumberIsReadStrictly) {
    struct Case {
        const char* contents;  // null: no file
        unsigned short port;
        const char* problem;  // after the file's path; empty: none
    };
    const Case cases[] = {
        {nullptr, 0, ""},
        {"ComPort=9\r\n", 9, ""},
        {"ComPort=0\n", 0, ""},
        {"ComPort=12", 12, ""},
        {"ComPort= 9 \t\r\n", 9, ""},
        {"ComPort=65535\n", 65535, ""},
        {"ComPort=65536\n", 0,
         ": ComPort \"65536\" is not a port number (a whole number from 0 to 65535)"},
        {"ComPort=4294967297\n", 0,
         ": ComPort \"4294967297\" is not a port number (a whole number from 0 to 65535)"},
        {"ComPort=abc\n", 0,
         ": ComPort \"abc\" is not a port number (a whole number from 0 to 65535)"},
        {"ComPort=-3\n", 0,
         ": ComPort \"-3\" is not a port number (a whole number from 0 to 65535)"},
        {"ComPort=9 1\n", 0,
         ": ComPort \"9 1\" is not a port number (a whole number from 0 to 65535)"},
        {"ComPort=\n", 0, ": ComPort \"\" is not a port number (a whole number from 0 to 65535)"},
        {"Other=3\n", 0, ": ComPort is not set (it must start a line before any [section])"},
        {"[x]\nComPort=4\n", 0, ": ComPort is not set (it must start a line before any [section])"},
        {"\x7f\x45LF garbage", 0,
         ": ComPort is not set (it must start a line before any [section])"},
        {"\xEF\xBB\xBF"
         "ComPort=7\r\n",
         7, ""},  // an editor's byte-order mark
    };
    const std::string path = world.Home() + "/pinpad.ini";
    for (const Case& c : cases) {
        world.WriteSetting("pinpad.ini", c.contents);
        const char* shown = c.contents ? c.contents : "(no file)";
        EXPECT_EQ(TAgentApplication::LoadSerialPortNumber(), c.port) << shown;
        TAgentApplication agent;
        EXPECT_EQ(agent.SerialPortNumber(), c.port) << shown;
        EXPECT_EQ(agent.SettingsProblem().value_or(path), path + c.problem) << shown;
    }
}

// A second "ComPort" line is told, and the first one is used as before.
TEST_F(AgentApplicationTest, RepeatedPortIsTold) {
    world.WriteSetting("pinpad.ini", "ComPort=9\r\nComPort=3\r\n");
    std::vector<std::string> told;
    TAgentApplication agent([&](const std::string& line) { told.push_back(line); });
    EXPECT_EQ(agent.SerialPortNumber(), 9);
    EXPECT_FALSE(agent.SettingsProblem());
    EXPECT_EQ(told, std::vector<std::string>{world.Home() +
                                             "/pinpad.ini: ComPort is set 2 times; the first "
                                             "line is used"});
}

TEST_F(AgentApplicationTest, UnreadablePinpadIniIsAProblem) {
    world.WriteSetting("pinpad.ini", nullptr);
    ASSERT_EQ(mkdir((world.Home() + "/pinpad.ini").c_str(), 0755), 0);
    TAgentApplication agent;
    EXPECT_EQ(agent.SerialPortNumber(), 0);
    EXPECT_EQ(agent.SettingsProblem(),
              world.Home() + "/pinpad.ini: cannot be read: " + std::strerror(EISDIR));
    agent.Run(true);
    EXPECT_TRUE(world.events.empty());
    rmdir((world.Home() + "/pinpad.ini").c_str());
}

// "Enabled" is read anew on every check. A value that is not a whole number
// keeps the service off and is told once, and again only after it changed.
TEST_F(AgentApplicationTest, EnabledIsReadAnewAndStrictlyOnEveryCheck) {
    std::vector<std::string> told;
    TAgentApplication agent([&told](const std::string& line) { told.push_back(line); });
    const std::string path = world.Home() + "/agent.ini";
    auto problem = [&path](const char* value) {
        return path + ": Enabled \"" + value + "\" is not a whole number; the service stays off";
    };
    struct Step {
        const char* contents;  // null: no file
        bool enabled;
        std::vector<std::string> told;
    };
    const Step steps[] = {
        {nullptr, false, {}},
        {"Enabled=1\r\n", true, {}},
        {"Enabled=0\r\n", false, {}},
        {"Enabled=7\n", true, {}},
        {"Enabled=1 \n", true, {}},
        {"Other=1\n", false, {}},
        {"Enabled=yes\n", false, {problem("yes")}},
        {"Enabled=yes\n", false, {}},  // the same value again: not told again
        {"Enabled=on\n", false, {problem("on")}},
        {"Enabled=1\n", true, {}},
        {"Enabled=on\n", false, {problem("on")}},  // bad again after a good value
        {"Enabled=-1\n", false, {problem("-1")}},
        {"Enabled=\n", false, {problem("")}},
    };
    for (const Step& step : steps) {
        world.WriteSetting("agent.ini", step.contents);
        told.clear();
        EXPECT_EQ(agent.IsEnabled(), step.enabled) << (step.contents ? step.contents : "(none)");
        EXPECT_EQ(told, step.told) << (step.contents ? step.contents : "(none)");
    }
}

// A port that another program holds is told once, then tried every 5 seconds
// like any port that will not open; told again only after it was had.
TEST_F(AgentApplicationTest, PortInUseIsToldOnceAndRetried) {
    std::vector<std::string> told;
    world.SetEnabled(true);
    world.lineBusy = true;
    world.At(12000, [this] { world.lineBusy = false; });
    world.At(16000, [this] { world.SetEnabled(false); });
    world.At(22000, [this] {
        world.SetEnabled(true);
        world.lineBusy = true;
    });
    world.PressKeyAt(28000);
    TAgentApplication agent([&told](const std::string& line) { told.push_back(line); });
    agent.Run(true);

    const std::vector<TEvent> expected = {
        {0, "line busy"},       {5000, "line busy"},        {10000, "line busy"},
        {15000, "line opened"}, {15000, "ethernet opened"}, {20000, "ethernet closed"},
        {20000, "line closed"}, {25000, "line busy"},
    };
    EXPECT_EQ(world.events, expected);
    // A device named relative to the working directory is told with its directory.
    const std::string once = "serial port " + std::filesystem::current_path().string() +
                             "/ttyS99 is in use by another program; trying again every 5 s";
    EXPECT_EQ(told, (std::vector<std::string>{once, once}));
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
    EXPECT_EQ(world.waits, (std::map<unsigned long, int>{{5000, 2}}));
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

// An idle serving agent costs nothing: it steps once, finds nothing to do and
// sleeps until the line has input (or a bounded time has passed, for its
// timers), never blind and never inside the line's receive.
TEST_F(AgentApplicationTest, IdleServingAgentSleepsOnTheLine) {
    world.SetEnabled(true);
    world.PressKeyAt(1000);
    TAgentApplication agent;
    agent.Run(true);

    EXPECT_EQ(world.lineReceiveWait, 0);
    EXPECT_EQ(world.waits, (std::map<unsigned long, int>{{5000, 1}}));  // only the retry pause
    ASSERT_FALSE(world.activityWaits.empty());
    for (const auto& wait : world.activityWaits) {
        EXPECT_TRUE(wait.onLine);
        EXPECT_GE(wait.timeout, 10u);  // a sleep, not a spin
        EXPECT_LE(wait.timeout, 1000u);
    }
    // After the start, one look at the line per sleep (the last sleep ends
    // with the key press).
    const std::vector<std::uint32_t> later(
        std::upper_bound(world.lineReads.begin(), world.lineReads.end(), 0u),
        world.lineReads.end());
    EXPECT_EQ(later.size(), world.activityWaits.size() - 1);
    EXPECT_EQ(std::set<std::uint32_t>(later.begin(), later.end()).size(), later.size());
}

// A step that got something done is followed by the next one at once: the
// agent sleeps only when a step found nothing to do.
TEST_F(AgentApplicationTest, AStepWithWorkIsFollowedAtOnceByTheNext) {
    world.SetEnabled(true);
    // The terminal's first frame: its reset request, as the agent's own.
    world.At(500, [this] { world.terminalSends = world.lineTraffic.at(0); });
    world.PressKeyAt(1000);
    TAgentApplication agent;
    agent.Run(true);

    const std::size_t readsAt500 =
        static_cast<std::size_t>(std::count(world.lineReads.begin(), world.lineReads.end(), 500u));
    EXPECT_GE(readsAt500, 2u);  // the frame, then at once a look for more
    EXPECT_TRUE(world.terminalSends.empty());
    // The frame was acknowledged.
    ASSERT_EQ(world.lineTraffic.size(), 1u);
    EXPECT_GT(world.lineTraffic[0].size(), world.lineTraffic[0].find(ResetPacket()) + 7);
}

// A line that is lost (a device unplugged) ends the service cycle as if the
// service had been switched off; the port is tried every 5 seconds and
// service comes back with the device, beginning with a new reset.
TEST_F(AgentApplicationTest, LostLineEndsTheCycleAndServiceReturnsWithTheDevice) {
    world.SetEnabled(true);
    world.At(1000, [this] {
        world.lineLost = true;
        world.lineOpens = false;  // the device is gone
    });
    world.At(8000, [this] {
        world.lineLost = false;
        world.lineOpens = true;  // and back
    });
    world.PressKeyAt(12000);
    TAgentApplication agent;
    agent.Run(true);

    const std::vector<TEvent> expected = {
        {0, "line opened"},         {0, "ethernet opened"},     {1000, "ethernet closed"},
        {1000, "line closed"},      {6000, "line refused"},     {11000, "line opened"},
        {11000, "ethernet opened"}, {12000, "ethernet closed"}, {12000, "line closed"},
    };
    EXPECT_EQ(world.events, expected);
    ASSERT_EQ(world.lineTraffic.size(), 2u);
    EXPECT_EQ(world.lineTraffic[1].find(ResetPacket()) != std::string::npos, true);
}

}  // namespace
