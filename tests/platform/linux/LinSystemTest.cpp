#include "platform/System.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>
#include <ostream>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/DeviceLayer.h"
#include "platform/WaitSet.h"
#include "platform/linux/LinDeviceLayer.h"
#include "platform/linux/LinSystem.h"
#include "support/FakeClock.h"
#include "support/Loopback.h"
#include "support/TempDir.h"
#include "support/TestDeviceLayer.h"
#include "support/TestSystem.h"

namespace {

// A Linux system whose program lies in a temporary directory and whose shell
// commands are recorded instead of run.
class LinSystemTest : public ::testing::Test {
  protected:
    std::string Program() const { return m_dir / "agent"; }

    TempDir m_dir;
    std::vector<std::string> m_commands;
    TLinSystem m_system{Program(), [this](const std::string& commandLine) {
                            m_commands.push_back(commandLine);
                            return 0;
                        }};
};

TEST(SystemInstanceTest, OneSystemUnlessAReplacementIsInstalled) {
    ISystem* system = ISystem::Instance();
    ASSERT_NE(system, nullptr);
    EXPECT_EQ(ISystem::Instance(), system);
    {
        TTestSystem test;
        EXPECT_EQ(ISystem::Instance(), &test);
        {
            TTestSystem inner;
            EXPECT_EQ(ISystem::Instance(), &inner);
        }
        EXPECT_EQ(ISystem::Instance(), &test);
    }
    EXPECT_EQ(ISystem::Instance(), system);
}

// Counts the file systems it mounts.
class MountCountingSystem : public TLinSystem {
  public:
    using TLinSystem::TLinSystem;
    Error MountFileSystem(const char* name, IFileSystem** fileSystem) override {
        mounted.push_back(name);
        return TLinSystem::MountFileSystem(name, fileSystem);
    }
    std::vector<std::string> mounted;
};

TEST(SystemDeviceLayerTest, MadeOnceWithTheTraceFileSystem) {
    TempDir dir;
    MountCountingSystem system(dir / "agent", [](const std::string&) { return 0; });
    EXPECT_FALSE(dir.Exists("Trace"));
    IDeviceLayer* layer = system.GetDeviceLayer();
    ASSERT_NE(layer, nullptr);
    EXPECT_NE(dynamic_cast<TLinDeviceDebugLayer*>(layer), nullptr);
    EXPECT_EQ(system.GetDeviceLayer(), layer);
    EXPECT_EQ(system.mounted, std::vector<std::string>{"Trace"});
    EXPECT_TRUE(dir.Exists("Trace"));
}

TEST_F(LinSystemTest, FileSystemsLieBesideTheProgram) {
    m_dir.WriteFile("pinpad.ini", "[Settings]\r\n");
    EXPECT_EQ(m_system.GetDefaultFileSystem()->GetFileLength("pinpad.ini"), 12u);

    IFileSystem* logs = nullptr;
    EXPECT_EQ(m_system.MountFileSystem("Logs", &logs).Code(), 0u);
    ASSERT_NE(logs, nullptr);
    EXPECT_TRUE(m_dir.Exists("Logs"));
    delete logs->OpenForWrite("a.txt", 0x04);
    EXPECT_TRUE(m_dir.Exists("Logs/a.txt"));
    EXPECT_EQ(m_system.UnmountFileSystem(logs).Code(), 0u);
    EXPECT_EQ(m_system.UnmountFileSystem(nullptr).Code(), 0u);
}

struct UpdateCase {
    const char* name;
    const char* program;                // the executable's name inside the directory
    const char* newContent;             // contents of the waiting ".new" file; null for none
    std::vector<std::string> commands;  // with "D/" standing for the directory
};

void PrintTo(const UpdateCase& c, std::ostream* os) {
    *os << c.name;
}

class UpdateSoftwareTest : public ::testing::TestWithParam<UpdateCase> {};

TEST_P(UpdateSoftwareTest, RunsTheRenameCommandsOnlyForAWaitingUpdate) {
    const UpdateCase& c = GetParam();
    TempDir dir;
    if (c.newContent != nullptr) {
        dir.WriteFile(std::string(c.program) + ".new", c.newContent);
    }
    std::vector<std::string> commands;
    TLinSystem system(dir / c.program, [&](const std::string& commandLine) {
        commands.push_back(commandLine);
        return 0;
    });
    EXPECT_EQ(system.UpdateSoftware(nullptr).Code(), 0u);

    // The search goes on after each replacement: the directory's own name may
    // end in "D" and would otherwise be replaced again and again.
    const std::string directory = dir.Path() + "/";
    std::vector<std::string> expected;
    for (std::string command : c.commands) {
        for (std::size_t at = 0; (at = command.find("D/", at)) != std::string::npos;
             at += directory.size()) {
            command.replace(at, 2, directory);
        }
        expected.push_back(command);
    }
    EXPECT_EQ(commands, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UpdateSoftwareTest,
    ::testing::Values(UpdateCase{"WaitingUpdate",
                                 "agent",
                                 "new version",
                                 {"rm 'D/agent.old'", "mv -f 'D/agent' 'D/agent.old'",
                                  "cp 'D/agent.new' 'D/agent'"}},
                      UpdateCase{"EmptyUpdateFile", "agent", "", {}},
                      UpdateCase{"NoUpdateFile", "agent", nullptr, {}},
                      // Shell characters in the name stay inside one quoted word.
                      UpdateCase{"ShellCharactersInTheName",
                                 "a'b;$(id)",
                                 "x",
                                 {"rm 'D/a'\\''b;$(id).old'",
                                  "mv -f 'D/a'\\''b;$(id)' 'D/a'\\''b;$(id).old'",
                                  "cp 'D/a'\\''b;$(id).new' 'D/a'\\''b;$(id)'"}}),
    [](const ::testing::TestParamInfo<UpdateCase>& info) { return info.param.name; });

TEST(UpdateSoftwareNoPathTest, AProgramWithoutADirectoryIsNotUpdated) {
    std::vector<std::string> commands;
    TLinSystem system("agent", [&](const std::string& commandLine) {
        commands.push_back(commandLine);
        return 0;
    });
    EXPECT_EQ(system.UpdateSoftware(nullptr).Code(), 2u);
    EXPECT_TRUE(commands.empty());
}

TEST_F(LinSystemTest, SetDateTimePassesDateThenTimeToTheShell) {
    EXPECT_EQ(m_system.SetDateTime(20190903, 90507).Code(), 0u);
    EXPECT_EQ(m_commands, (std::vector<std::string>{"date 3-9-2019", "time 9:5:7"}));
}

TEST_F(LinSystemTest, RandomBytesComeFromTheOperatingSystem) {
    EXPECT_EQ(m_system.GenerateRandom(nullptr).Code(), 3u);
    unsigned char first[9] = {};
    unsigned char second[9] = {};
    EXPECT_EQ(m_system.GenerateRandom(first).Code(), 0u);
    EXPECT_EQ(m_system.GenerateRandom(second).Code(), 0u);
    // Two calls in the same second differ (equal by chance once in 2^64).
    EXPECT_NE(std::memcmp(first, second, 8), 0);
    EXPECT_EQ(first[8], 0);  // exactly 8 bytes
}

TEST_F(LinSystemTest, IdentityTexts) {
    char buffer[32];
    std::memset(buffer, 'x', sizeof buffer);
    m_system.FillModelName(buffer, sizeof buffer);
    EXPECT_STREQ(buffer, "LINUX");
    m_system.FillModelName(buffer, 3);
    EXPECT_STREQ(buffer, "LI");

    std::memset(buffer, 'x', sizeof buffer);
    m_system.FillOsVersion(buffer, sizeof buffer);
    EXPECT_STREQ(buffer, "PC system");
    EXPECT_EQ(std::string(buffer, sizeof buffer), std::string("PC system") + std::string(23, '\0'));
    // A short buffer still ends in a terminator.
    std::memset(buffer, 'x', sizeof buffer);
    m_system.FillOsVersion(buffer, 9);
    EXPECT_STREQ(buffer, "PC syste");

    unsigned short width = 1, height = 1;
    bool color = true;
    m_system.GetScreenSize(width, height, color);
    EXPECT_EQ(width, 0);
    EXPECT_EQ(height, 0);
    EXPECT_FALSE(color);
    EXPECT_EQ(m_system.OpenSystemOptions().Code(), 2u);
    EXPECT_EQ(m_system.Restart().Code(), 0u);
}

TEST_F(LinSystemTest, SerialNumberWithoutADiskIsUnknown) {
    struct stat status;
    if (stat("/dev/hda", &status) == 0) {
        GTEST_SKIP() << "this machine has /dev/hda";
    }
    char buffer[16] = {};
    EXPECT_EQ(m_system.GetSerialNumber(buffer, sizeof buffer).Code(), 0u);
    EXPECT_STREQ(buffer, "UNKNOWN");
}

TEST(SerialNumberTest, TakesOnlyTheSerialNumberField) {
    unsigned char identity[512] = {};
    std::memcpy(identity + 20, "WD-1234567890ABCDEFG", 20);  // fills the field
    std::memcpy(identity + 40, "FW01", 4);                   // the next field
    char buffer[64];
    SerialNumberFromIdentity(identity, buffer, sizeof buffer);
    EXPECT_STREQ(buffer, "WD-1234567890ABCDEFG");
    SerialNumberFromIdentity(identity, buffer, 6);
    EXPECT_STREQ(buffer, "WD-12");

    std::memset(identity + 20, 0, 20);
    std::memcpy(identity + 20, "S123", 4);
    SerialNumberFromIdentity(identity, buffer, sizeof buffer);
    EXPECT_STREQ(buffer, "S123");
}

TEST(DateTimeTest, LocalTimeAsDecimalNumbers) {
    std::tm local{};
    local.tm_year = 119;  // 2019
    local.tm_mon = 8;     // September
    local.tm_mday = 3;
    local.tm_hour = 9;
    local.tm_min = 5;
    local.tm_sec = 7;
    unsigned long date = 0, time = 0;
    DateTimeFromLocalTime(local, &date, &time);
    EXPECT_EQ(date, 20190903u);
    EXPECT_EQ(time, 90507u);
    DateTimeFromLocalTime(local, nullptr, &time);
    DateTimeFromLocalTime(local, &date, nullptr);
}

TEST_F(LinSystemTest, GetDateTimeTellsTheLocalTime) {
    // Retried until no second boundary falls between the readings. The
    // readings use the same clock as the system: time() may lag it by a tick.
    auto seconds = [] {
        timeval now{};
        gettimeofday(&now, nullptr);
        return now.tv_sec;
    };
    for (;;) {
        time_t before = seconds();
        unsigned long date = 0, time = 0;
        EXPECT_EQ(m_system.GetDateTime(&date, &time).Code(), 0u);
        if (seconds() != before) {
            continue;
        }
        std::tm local{};
        localtime_r(&before, &local);
        unsigned long expectedDate = 0, expectedTime = 0;
        DateTimeFromLocalTime(local, &expectedDate, &expectedTime);
        EXPECT_EQ(date, expectedDate);
        EXPECT_EQ(time, expectedTime);
        break;
    }
    EXPECT_EQ(m_system.GetDateTime(nullptr, nullptr).Code(), 0u);
}

volatile sig_atomic_t g_alarms = 0;

TEST_F(LinSystemTest, WaitSleepsOnAfterASignal) {
    struct sigaction action {};
    action.sa_handler = [](int) { g_alarms = g_alarms + 1; };
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no restart: the signal interrupts the sleep
    struct sigaction previous {};
    sigaction(SIGALRM, &action, &previous);
    itimerval alarm{{0, 0}, {0, 20000}};
    g_alarms = 0;

    auto start = std::chrono::steady_clock::now();
    setitimer(ITIMER_REAL, &alarm, nullptr);
    m_system.Wait(150);
    auto slept = std::chrono::steady_clock::now() - start;
    sigaction(SIGALRM, &previous, nullptr);

    EXPECT_EQ(g_alarms, 1);
    EXPECT_GE(slept, std::chrono::milliseconds(150));
}

TEST_F(LinSystemTest, TimersRunFromCreation) {
    std::unique_ptr<ITimer> expired(m_system.CreateTimer(0));
    EXPECT_TRUE(expired->IsExpired());
    std::unique_ptr<ITimer> hour(m_system.CreateTimer(3600000));
    EXPECT_FALSE(hour->IsExpired());
}

TEST(SystemShutdownTest, EndsTheProcessWithStatusZero) {
    TempDir dir;
    TLinSystem system(dir / "agent", [](const std::string&) { return 0; });
    EXPECT_EXIT(system.Shutdown(), ::testing::ExitedWithCode(0), "");
}

// Records what the system switches, on fake timers.
class BacklightSystem : public TLinSystem {
  public:
    explicit BacklightSystem(const std::string& program)
        : TLinSystem(program, [](const std::string&) { return 0; }) {}
    ITimer* CreateTimer(unsigned long milliseconds) override {
        ++timers;
        return new TFakeTimer(clock, milliseconds);
    }
    void IdleWithBacklight() { TSystem::Idle(); }

    TFakeClock clock;
    int timers = 0;
    std::vector<bool> switched;

  protected:
    void Backlight(bool on) override { switched.push_back(on); }
};

TEST(BacklightTest, GoesOffThirtySecondsAfterTheLastSetting) {
    TempDir dir;
    BacklightSystem system(dir / "agent");
    system.Init();
    EXPECT_EQ(system.switched, std::vector<bool>{true});
    system.SetBacklight(true);  // already on: only the timer starts
    EXPECT_EQ(system.switched, std::vector<bool>{true});
    EXPECT_EQ(system.timers, 1);

    system.clock.Advance(29999);
    system.IdleWithBacklight();
    EXPECT_EQ(system.switched, std::vector<bool>{true});
    system.SetBacklight(true);  // restarts the period
    system.clock.Advance(29999);
    system.IdleWithBacklight();
    EXPECT_EQ(system.switched, std::vector<bool>{true});
    system.clock.Advance(1);
    system.IdleWithBacklight();
    EXPECT_EQ(system.switched, (std::vector<bool>{true, false}));
    system.IdleWithBacklight();
    EXPECT_EQ(system.switched, (std::vector<bool>{true, false}));
    EXPECT_EQ(system.timers, 1);

    system.Idle();  // the Linux idle only pauses
    EXPECT_EQ(system.timers, 1);
}

// On deletion asks the current system for the time and writes a line into
// its default file system, as a connection logging its close does.
class LoggingDevice : public IDevice {
  public:
    ~LoggingDevice() override {
        ISystem* system = ISystem::Instance();
        unsigned long date = 0, time = 0;
        EXPECT_EQ(system->GetDateTime(&date, &time).Code(), 0u);
        std::unique_ptr<IFileWritable> file(
            system->GetDefaultFileSystem()->OpenForWrite("closed.txt", 0x10));
        std::string line = std::to_string(date) + "\r\n";
        file->Write(reinterpret_cast<const unsigned char*>(line.data()), line.size());
    }
    Error Open() override { return Error(0); }
    void Close() override {}
};

// A Linux system into which a test puts its own device layer.
class LayerSystem : public TLinSystem {
  public:
    using TLinSystem::TLinSystem;
    void UseLayer(std::unique_ptr<IDeviceLayer> layer) {
        AdoptDeviceLayer(std::move(layer), nullptr);
    }
};

TEST(SystemTeardownTest, DevicesMayUseTheSystemWhileTheyAreDeleted) {
    TempDir dir;
    auto system =
        std::make_unique<LayerSystem>(dir / "agent", [](const std::string&) { return 0; });
    auto layer = std::make_unique<TTestDeviceLayer>();
    layer->Provide(DEVICE_ETHERNET, 0, std::make_unique<LoggingDevice>());
    system->UseLayer(std::move(layer));
    ASSERT_NE(system->GetDeviceLayer()->GetDevice(DEVICE_ETHERNET, 0), nullptr);

    ISystem* previous = ISystem::Install(system.get());
    system.reset();
    ISystem::Install(previous);
    EXPECT_FALSE(dir.ReadFile("closed.txt").empty());
}

TEST(TestSystemTest, FakeClockDatesFilesAndDevices) {
    TTestSystem system;
    ISystem* current = ISystem::Instance();
    std::unique_ptr<ITimer> timer(current->CreateTimer(2000));
    current->Wait(1999);
    EXPECT_FALSE(timer->IsExpired());
    current->Idle();
    EXPECT_TRUE(timer->IsExpired());

    unsigned long date = 0, time = 0;
    EXPECT_EQ(current->SetDateTime(20240229, 235959).Code(), 0u);
    EXPECT_EQ(current->GetDateTime(&date, &time).Code(), 0u);
    EXPECT_EQ(date, 20240229u);
    EXPECT_EQ(time, 235959u);

    delete current->GetDefaultFileSystem()->OpenForWrite("agent.ini", 0x04);
    EXPECT_TRUE(std::filesystem::exists(system.Home() + "/agent.ini"));

    auto layer = std::make_unique<TTestDeviceLayer>([](DEVICE kind, unsigned int) -> IDevice* {
        return kind == DEVICE_USB ? new LoggingDevice : nullptr;
    });
    system.SetDeviceLayer(std::move(layer));
    EXPECT_NE(current->GetDeviceLayer()->GetDevice(DEVICE_USB, 1), nullptr);
    EXPECT_EQ(current->GetDeviceLayer()->GetDevice(DEVICE_COM, 1), nullptr);
}

// A loop with nothing to do sleeps in the wait set: a ready descriptor ends
// the wait at once. The test system only looks, and moves its clock by the
// whole time-out when nothing is ready.
TEST(WaitForActivityTest, EndsWhenADescriptorIsReady) {
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    TDescriptor reading(ends[0]);
    TDescriptor writing(ends[1]);
    TWaitSet waits;
    waits.Add(reading.Get(), READINESS_READABLE);

    TLinSystem system("/nonexistent/agent", nullptr);
    EXPECT_FALSE(system.WaitForActivity(waits, 0));
    ASSERT_EQ(write(writing.Get(), "x", 1), 1);
    EXPECT_TRUE(system.WaitForActivity(waits, 60000));  // would hang the test if it slept on

    TTestSystem fake;
    EXPECT_TRUE(fake.WaitForActivity(waits, 100));
    EXPECT_EQ(fake.Clock().Now(), 0u);
    char byte = 0;
    ASSERT_EQ(read(reading.Get(), &byte, 1), 1);
    EXPECT_FALSE(fake.WaitForActivity(waits, 100));
    EXPECT_EQ(fake.Clock().Now(), 100u);
    EXPECT_EQ(fake.ActivityWaits(), 2);
}

}  // namespace
