#include "sysutil/SysUtil.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/DeviceOverlay.h"
#include "platform/ForwardingSystem.h"
#include "sysutil/BuildDateTime.h"
#include "sysutil/TerminalDevices.h"

namespace {

// The PC's own system with a clock, a serial number and terminal devices
// chosen by the test. Every call it sees is written into the journal, so the
// order of device calls and waits can be checked.
class TTerminalSystem : public TForwardingSystem {
  public:
    TTerminalSystem() : TForwardingSystem(ISystem::Instance()) {}

    IDeviceLayer* GetDeviceLayer() override { return &devices; }
    void Wait(unsigned long milliseconds) override {
        journal.push_back("wait " + std::to_string(milliseconds));
    }
    Error GetDateTime(unsigned long* date, unsigned long* time) override {
        if (setsDateTime) {
            *date = this->date;
            *time = this->time;
        }
        return Error(0);
    }
    Error GetSerialNumber(char* buffer, unsigned int size) override {
        std::strncpy(buffer, serial.c_str(), size - 1);
        return Error(0);
    }

    TDeviceOverlay devices;
    std::vector<std::string> journal;
    bool setsDateTime = true;
    unsigned long date = 0;
    unsigned long time = 0;
    std::string serial;
};

// Terminal devices that answer as told and note their calls in the journal.
class TJournalDevice {
  public:
    explicit TJournalDevice(std::vector<std::string>& journal) : journal_(journal) {}

  protected:
    void Note(const std::string& call) { journal_.push_back(call); }

  private:
    std::vector<std::string>& journal_;
};

class TFakeKeyboard : public IKeyboard {
  public:
    Error Open() override { return Error(0); }
    void Close() override {}
    unsigned char GetKeyPressed() override { return key; }
    unsigned char key = 0;
};

class TFakeBeeper : public IBeeper, TJournalDevice {
  public:
    using TJournalDevice::TJournalDevice;
    Error Open() override { return Error(0); }
    void Close() override {}
    Error BeepOK() override {
        Note("ok");
        return Error(0);
    }
    Error BeepError() override {
        Note("error");
        return Error(7);
    }
};

class TFakePrinter : public IPrinter, TJournalDevice {
  public:
    using TJournalDevice::TJournalDevice;
    Error Open() override {
        Note("open");
        return Error(openResult);
    }
    void Close() override { Note("close"); }
    bool HasPaper() override {
        Note("paper");
        return paper;
    }
    unsigned long openResult = 0;
    bool paper = true;
};

class TFakePinpad : public IPinpad {
  public:
    Error Open() override { return Error(0); }
    void Close() override {}
    bool GetKeyCheckValue(unsigned char key, unsigned char value[3]) override {
        if (key != knownKey) {
            return false;
        }
        std::memcpy(value, checkValue, 3);
        return true;
    }
    unsigned char knownKey = 3;
    unsigned char checkValue[3] = {0x0A, 0xBC, 0x12};
};

class SysUtilTest : public testing::Test {
  protected:
    TTerminalSystem system;
    TSystemInstallation installation{&system};
};

TEST(SysUtilAbsentDevicesTest, PlatformWithoutTerminalDevicesGivesFixedAnswers) {
    // The PC's own device layer makes no keyboard, beeper, printer or PIN pad.
    EXPECT_EQ(SysUtil::GetKeyPressed(), 0);
    SysUtil::BeepOK();
    SysUtil::BeepTwice();
    SysUtil::BeepError();
    EXPECT_EQ(SysUtil::GetPaperState(), "");
    EXPECT_EQ(SysUtil::GetKeyCheckValue(1, 0), "");
    EXPECT_EQ(SysUtil::DefaultPinpad(), nullptr);
    EXPECT_FALSE(SysUtil::ShowTopWindow(1, nullptr));
    EXPECT_EQ(SysUtil::GetTopWindowStatus().Code(), 5u);
    EXPECT_EQ(SysUtil::DefaultFS(), ISystem::Instance()->GetDefaultFileSystem());
    EXPECT_NE(SysUtil::DefaultFS(), nullptr);
}

TEST(SysUtilAbsentDevicesTest, IdentityTextsOfThePC) {
    EXPECT_EQ(SysUtil::GetOsVersion(), "PC system");
    EXPECT_EQ(SysUtil::GetModelName(), "LINUX");
    EXPECT_EQ(SysUtil::GetSoftwareVersion(), "29.24.05");
    EXPECT_EQ(SysUtil::GetBuildDateTime(), std::string(GetBuildDateTime()));
}

TEST_F(SysUtilTest, KeyPressedIsTheKeyboardsAnswer) {
    TFakeKeyboard keyboard;
    system.devices.Add(DEVICE_KEYBOARD, 0, &keyboard);
    EXPECT_EQ(SysUtil::GetKeyPressed(), 0);
    keyboard.key = 0x1B;
    EXPECT_EQ(SysUtil::GetKeyPressed(), 0x1B);
}

TEST_F(SysUtilTest, BeepsSoundInOrderWithAPauseBetweenTwo) {
    TFakeBeeper beeper(system.journal);
    system.devices.Add(DEVICE_BEEPER, 0, &beeper);
    SysUtil::BeepOK();
    SysUtil::BeepTwice();
    SysUtil::BeepError();
    EXPECT_EQ(system.journal, (std::vector<std::string>{"ok", "ok", "wait 200", "ok", "error"}));
}

TEST_F(SysUtilTest, PaperStateOpensQueriesAndClosesThePrinter) {
    struct Case {
        unsigned long openResult;
        bool paper;
        std::string state;
        std::vector<std::string> calls;
    };
    const Case cases[] = {
        {0, true, "0", {"open", "paper", "close"}},
        {0, false, "1", {"open", "paper", "close"}},
        {20001, true, "", {"open"}},  // a printer that will not open is not closed
    };
    for (const Case& c : cases) {
        system.journal.clear();
        TFakePrinter printer(system.journal);
        printer.openResult = c.openResult;
        printer.paper = c.paper;
        system.devices.Add(DEVICE_PRINTER, 0, &printer);
        EXPECT_EQ(SysUtil::GetPaperState(), c.state) << "open result " << c.openResult;
        EXPECT_EQ(system.journal, c.calls) << "open result " << c.openResult;
    }
}

TEST_F(SysUtilTest, KeyCheckValueOfTheChosenPinpad) {
    TFakePinpad pinpad;
    system.devices.Add(DEVICE_PINPAD, 1, &pinpad);
    EXPECT_EQ(SysUtil::GetKeyCheckValue(3, 1), "0ABC12");
    EXPECT_EQ(SysUtil::GetKeyCheckValue(4, 1), "");  // the PIN pad does not know the key
    EXPECT_EQ(SysUtil::GetKeyCheckValue(3, 0), "");  // no PIN pad number 0
    EXPECT_EQ(SysUtil::DefaultPinpad(), nullptr);
}

TEST_F(SysUtilTest, DefaultPinpadIsNumberZero) {
    TFakePinpad pinpad;
    system.devices.Add(DEVICE_PINPAD, 0, &pinpad);
    EXPECT_EQ(SysUtil::DefaultPinpad(), &pinpad);
}

TEST_F(SysUtilTest, DateAndTimeAsSixDigits) {
    struct Case {
        bool setsDateTime;
        unsigned long date, time;
        std::string shortDate, shortTime;
    };
    const Case cases[] = {
        {true, 20190903, 94501, "190903", "094501"},
        {true, 20001231, 235959, "001231", "235959"},
        {false, 0, 0, "000000", "000000"},  // a clock that answers nothing
    };
    for (const Case& c : cases) {
        system.setsDateTime = c.setsDateTime;
        system.date = c.date;
        system.time = c.time;
        EXPECT_EQ(SysUtil::GetDate(), c.shortDate) << c.date;
        EXPECT_EQ(SysUtil::GetTime(), c.shortTime) << c.time;
    }
}

TEST_F(SysUtilTest, SerialNumberInBothFormats) {
    struct Case {
        std::string serial, cut, oldFormat;
    };
    const Case cases[] = {
        {"ABC/123", "ABC", "123"},
        {"A/B/C", "A", "B/C"},
        {"12345", "12345", "000000012345"},
        {"ABCDEFGHIJKL", "ABCDEFGHIJKL", "ABCDEFGHIJKL"},
        {"ABCDEFGHIJKLMN", "ABCDEFGHIJKLMN", "CDEFGHIJKLMN"},
        {"", "", "000000000000"},
        {std::string(300, 'S'), std::string(254, 'S'), std::string(12, 'S')},
    };
    for (const Case& c : cases) {
        system.serial = c.serial;
        EXPECT_EQ(SysUtil::GetSerial(), c.cut) << c.serial;
        EXPECT_EQ(SysUtil::GetSerialInOldFormat(), c.oldFormat) << c.serial;
    }
}

TEST(BuildDateTimeTest, CompilerDateAndTimeInDayMonthYearOrder) {
    struct Case {
        const char* date;
        const char* time;
        const char* stamp;
    };
    const Case cases[] = {
        {"Jan 31 2020", "00:00:01", "31.01.2020 00:00:01"},
        {"Feb  1 2021", "23:59:59", " 1.02.2021 23:59:59"},
        {"Mar 10 2019", "11:47:18", "10.03.2019 11:47:18"},
        {"Apr 10 2019", "11:47:18", "10.04.2019 11:47:18"},
        {"May 10 2019", "11:47:18", "10.05.2019 11:47:18"},
        {"Jun 15 2020", "08:00:00", "15.06.2020 08:00:00"},
        {"Jul 10 2019", "11:47:18", "10.07.2019 11:47:18"},
        {"Aug 10 2019", "11:47:18", "10.08.2019 11:47:18"},
        {"Sep  3 2019", "11:47:18", " 3.09.2019 11:47:18"},
        {"Oct 10 2019", "11:47:18", "10.10.2019 11:47:18"},
        {"Nov 10 2019", "11:47:18", "10.11.2019 11:47:18"},
        {"Dec 10 2019", "11:47:18", "10.12.2019 11:47:18"},
    };
    for (const Case& c : cases) {
        char stamp[kBuildDateTimeLength + 1];
        FormatBuildDateTime(c.date, c.time, stamp);
        EXPECT_STREQ(stamp, c.stamp) << c.date;
    }
}

TEST(BuildDateTimeTest, ProgramStampHasTheFixedForm) {
    std::string stamp = GetBuildDateTime();
    ASSERT_EQ(stamp.size(), kBuildDateTimeLength);
    EXPECT_EQ(stamp[2], '.');
    EXPECT_EQ(stamp[5], '.');
    EXPECT_EQ(stamp[10], ' ');
    EXPECT_EQ(stamp.substr(11, 8).find_first_not_of("0123456789:"), std::string::npos);
}

}  // namespace
