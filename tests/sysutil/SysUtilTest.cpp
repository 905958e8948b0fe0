#include "sysutil/SysUtil.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "support/TestDeviceLayer.h"
#include "support/TestSystem.h"
#include "sysutil/BuildDateTime.h"
#include "sysutil/TerminalDevices.h"

namespace {

// What the fake devices were asked to do, each call with the test clock's
// time, so the order of calls and the waits between them can be checked.
class TJournal {
  public:
    explicit TJournal(const TFakeClock& clock) : m_clock(clock) {}
    void Note(const std::string& call) {
        calls.push_back(call + "@" + std::to_string(m_clock.Now()));
    }
    std::vector<std::string> calls;

  private:
    const TFakeClock& m_clock;
};

class TFakeKeyboard : public IKeyboard {
  public:
    explicit TFakeKeyboard(const unsigned char& key) : m_key(key) {}
    Error Open() override { return Error(0); }
    void Close() override {}
    unsigned char GetKeyPressed() override { return m_key; }

  private:
    const unsigned char& m_key;
};

class TFakeBeeper : public IBeeper {
  public:
    explicit TFakeBeeper(TJournal& journal) : m_journal(journal) {}
    Error Open() override { return Error(0); }
    void Close() override {}
    Error BeepOK() override {
        m_journal.Note("ok");
        return Error(0);
    }
    Error BeepError() override {
        m_journal.Note("error");
        return Error(7);
    }

  private:
    TJournal& m_journal;
};

struct TPrinterBehaviour {
    unsigned long openResult = 0;
    bool paper = true;
};

class TFakePrinter : public IPrinter {
  public:
    TFakePrinter(TJournal& journal, const TPrinterBehaviour& behaviour)
        : m_journal(journal), m_behaviour(behaviour) {}
    Error Open() override {
        m_journal.Note("open");
        return Error(m_behaviour.openResult);
    }
    void Close() override { m_journal.Note("close"); }
    bool HasPaper() override {
        m_journal.Note("paper");
        return m_behaviour.paper;
    }

  private:
    TJournal& m_journal;
    const TPrinterBehaviour& m_behaviour;
};

// Knows the check value of key 3 only.
class TFakePinpad : public IPinpad {
  public:
    Error Open() override { return Error(0); }
    void Close() override {}
    bool GetKeyCheckValue(unsigned char key, unsigned char value[3]) override {
        if (key != 3) {
            return false;
        }
        const unsigned char checkValue[3] = {0x0A, 0xBC, 0x12};
        std::memcpy(value, checkValue, sizeof checkValue);
        return true;
    }
};

// A test system whose disk has the serial number the test chooses.
class TTerminalSystem : public TTestSystem {
  public:
    Error GetSerialNumber(char* buffer, unsigned int size) override {
        std::strncpy(buffer, serial.c_str(), size - 1);
        return Error(0);
    }
    std::string serial;
};

// A terminal with a keyboard, a beeper, a printer and PIN pad number 1.
class SysUtilTest : public testing::Test {
  protected:
    SysUtilTest() {
        auto devices = std::make_unique<TTestDeviceLayer>();
        devices->Provide(DEVICE_KEYBOARD, 0, std::make_unique<TFakeKeyboard>(key));
        devices->Provide(DEVICE_BEEPER, 0, std::make_unique<TFakeBeeper>(journal));
        devices->Provide(DEVICE_PRINTER, 0, std::make_unique<TFakePrinter>(journal, printer));
        devices->Provide(DEVICE_PINPAD, 1, std::make_unique<TFakePinpad>());
        system.SetDeviceLayer(std::move(devices));
    }

    TTerminalSystem system;
    TJournal journal{system.Clock()};
    unsigned char key = 0;
    TPrinterBehaviour printer;
};

TEST(SysUtilAbsentDevicesTest, PlatformWithoutTerminalDevicesGivesFixedAnswers) {
    TTestSystem system;  // with the PC's own device layer, which makes no
                         // keyboard, beeper, printer or PIN pad
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
    TTestSystem system;
    EXPECT_EQ(SysUtil::GetOsVersion(), "PC system");
    EXPECT_EQ(SysUtil::GetModelName(), "LINUX");
    EXPECT_EQ(SysUtil::GetSoftwareVersion(), "29.24.05");
    EXPECT_EQ(SysUtil::GetBuildDateTime(), std::string(GetBuildDateTime()));
}

TEST_F(SysUtilTest, KeyPressedIsTheKeyboardsAnswer) {
    EXPECT_EQ(SysUtil::GetKeyPressed(), 0);
    key = 0x1B;
    EXPECT_EQ(SysUtil::GetKeyPressed(), 0x1B);
}

TEST_F(SysUtilTest, BeepsSoundInOrderWithAPauseBetweenTwo) {
    SysUtil::BeepOK();
    SysUtil::BeepTwice();
    SysUtil::BeepError();
    EXPECT_EQ(journal.calls, (std::vector<std::string>{"ok@0", "ok@0", "ok@200", "error@200"}));
}

TEST_F(SysUtilTest, PaperStateOpensQueriesAndClosesThePrinter) {
    struct Case {
        unsigned long openResult;
        bool paper;
        std::string state;
        std::vector<std::string> calls;
    };
    const Case cases[] = {
        {0, true, "0", {"open@0", "paper@0", "close@0"}},
        {0, false, "1", {"open@0", "paper@0", "close@0"}},
        {20001, true, "", {"open@0"}},  // a printer that will not open is not closed
    };
    for (const Case& c : cases) {
        journal.calls.clear();
        printer.openResult = c.openResult;
        printer.paper = c.paper;
        EXPECT_EQ(SysUtil::GetPaperState(), c.state) << "open result " << c.openResult;
        EXPECT_EQ(journal.calls, c.calls) << "open result " << c.openResult;
    }
}

TEST_F(SysUtilTest, KeyCheckValueOfTheChosenPinpad) {
    EXPECT_EQ(SysUtil::GetKeyCheckValue(3, 1), "0ABC12");
    EXPECT_EQ(SysUtil::GetKeyCheckValue(4, 1), "");  // the PIN pad does not know the key
    EXPECT_EQ(SysUtil::GetKeyCheckValue(3, 0), "");  // no PIN pad number 0
    EXPECT_EQ(SysUtil::DefaultPinpad(), nullptr);
}

TEST_F(SysUtilTest, DefaultPinpadIsPinpadNumberZero) {
    auto devices = std::make_unique<TTestDeviceLayer>();
    auto pinpad = std::make_unique<TFakePinpad>();
    IDevice* expected = pinpad.get();
    devices->Provide(DEVICE_PINPAD, 0, std::move(pinpad));
    system.SetDeviceLayer(std::move(devices));
    EXPECT_EQ(SysUtil::DefaultPinpad(), expected);
}

TEST_F(SysUtilTest, DateAndTimeAsSixDigits) {
    struct Case {
        unsigned long date, time;
        std::string shortDate, shortTime;
    };
    const Case cases[] = {
        {20190903, 94501, "190903", "094501"},
        {20001231, 235959, "001231", "235959"},
        {0, 0, "000000", "000000"},  // a clock that tells nothing
    };
    for (const Case& c : cases) {
        EXPECT_EQ(system.SetDateTime(c.date, c.time).Code(), 0u);
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
