#include "sysutil/SysUtil.h"

#include <cstring>

#include "base/Conversions.h"
#include "base/ErrorCodes.h"
#include "platform/System.h"
#include "sysutil/BuildDateTime.h"
#include "sysutil/TerminalDevices.h"

namespace {

// The device of the given kind as the contract the facade needs, or null.
template <typename Contract>
Contract* FindDevice(DEVICE kind, unsigned int index = 0) {
    return dynamic_cast<Contract*>(ISystem::Instance()->GetDeviceLayer()->GetDevice(kind, index));
}

// Text of a fixed-size buffer up to its terminator, or all of it without one.
std::string TextOf(const char* buffer, std::size_t size) {
    return std::string(buffer, strnlen(buffer, size));
}

std::string ReadSerialNumber() {
    char buffer[255] = {};
    // Without a serial number the text stays empty.
    static_cast<void>(ISystem::Instance()->GetSerialNumber(buffer, sizeof buffer));
    return TextOf(buffer, sizeof buffer);
}

struct TDateTime {
    unsigned long date = 0;
    unsigned long time = 0;
};

TDateTime ReadDateTime() {
    TDateTime now;
    // Without a clock the date and time read as zero.
    static_cast<void>(ISystem::Instance()->GetDateTime(&now.date, &now.time));
    return now;
}

// Sounds the beeper, if there is one, that many times 200 ms apart. A beep that fails changes
// nothing for the caller, so its error is not looked at.
void Beep(Error (IBeeper::*sound)(), int times) {
    IBeeper* beeper = FindDevice<IBeeper>(DEVICE_BEEPER);
    for (int beep = 0; beeper != nullptr && beep < times; ++beep) {
        if (beep > 0) {
            ISystem::Instance()->Wait(200);
        }
        static_cast<void>((beeper->*sound)());
    }
}

}  // namespace

bool SysUtil::ShowTopWindow(unsigned long window, TScreenOptions* options) {
    IDesktop* desktop = IDesktop::Instance();
    return desktop != nullptr && desktop->ShowTopWindow(window, options);
}

Error SysUtil::GetTopWindowStatus() {
    IDesktop* desktop = IDesktop::Instance();
    return desktop != nullptr ? desktop->GetTopWindowStatus() : Error(kErrorNothingHappened);
}

IDevice* SysUtil::DefaultPinpad() {
    return ISystem::Instance()->GetDeviceLayer()->GetDevice(DEVICE_PINPAD, 0);
}

IFileSystem* SysUtil::DefaultFS() {
    return ISystem::Instance()->GetDefaultFileSystem();
}

unsigned char SysUtil::GetKeyPressed() {
    IKeyboard* keyboard = FindDevice<IKeyboard>(DEVICE_KEYBOARD);
    return keyboard != nullptr ? keyboard->GetKeyPressed() : 0;
}

void SysUtil::BeepOK() {
    Beep(&IBeeper::BeepOK, 1);
}

void SysUtil::BeepTwice() {
    Beep(&IBeeper::BeepOK, 2);
}

void SysUtil::BeepError() {
    Beep(&IBeeper::BeepError, 1);
}

std::string SysUtil::GetPaperState() {
    IPrinter* printer = FindDevice<IPrinter>(DEVICE_PRINTER);
    if (printer == nullptr || printer->Open().Code() != 0) {
        return "";
    }
    std::string state = printer->HasPaper() ? "0" : "1";
    printer->Close();
    return state;
}

std::string SysUtil::GetOsVersion() {
    // One byte more than offered, so a text that fills the offer stays terminated.
    char buffer[256] = {};
    ISystem::Instance()->FillOsVersion(buffer, 255);
    return TextOf(buffer, sizeof buffer);
}

std::string SysUtil::GetModelName() {
    char buffer[128] = {};
    ISystem::Instance()->FillModelName(buffer, sizeof buffer);
    return TextOf(buffer, sizeof buffer);
}

std::string SysUtil::GetBuildDateTime() {
    return ::GetBuildDateTime();
}

std::string SysUtil::GetTime() {
    return IntToStdString(ReadDateTime().time, 6);
}

std::string SysUtil::GetDate() {
    return IntToStdString(ReadDateTime().date % 1000000, 6);
}

std::string SysUtil::GetSoftwareVersion() {
    return IntToStdString(29, 2) + "." + IntToStdString(24, 2) + "." + IntToStdString(5, 2);
}

std::string SysUtil::GetKeyCheckValue(unsigned char key, unsigned int pinpad) {
    char text[7] = {};
    unsigned char value[3] = {};
    IPinpad* device = FindDevice<IPinpad>(DEVICE_PINPAD, pinpad);
    if (device != nullptr && device->GetKeyCheckValue(key, value)) {
        BytesToHex(value, text, sizeof value);
    }
    return text;
}

std::string SysUtil::GetSerial() {
    std::string serial = ReadSerialNumber();
    return serial.substr(0, serial.find('/'));
}

std::string SysUtil::GetSerialInOldFormat() {
    constexpr std::size_t kOldLength = 12;
    std::string serial = ReadSerialNumber();
    if (std::size_t slash = serial.find('/'); slash != std::string::npos) {
        return serial.substr(slash + 1);
    }
    if (serial.size() < kOldLength) {
        serial.insert(0, kOldLength - serial.size(), '0');
    }
    return serial.substr(serial.size() - kOldLength);
}
