#pragma once

#include <string>

#include "base/Error.h"
#include "platform/Device.h"
#include "platform/FileSystem.h"
#include "sysutil/Desktop.h"

// One-call helpers over the system services and the terminal's devices. Every
// call fetches what it needs afresh and keeps nothing; a device or desktop
// that the platform does not provide gives a fixed answer, never an error.
class SysUtil {
  public:
    SysUtil() = delete;

    // The desktop's answer; false without a desktop.
    static bool ShowTopWindow(unsigned long window, TScreenOptions* options);
    // The desktop's status; code 5 (nothing happened) without a desktop.
    static Error GetTopWindowStatus();

    // PIN pad number 0, or null.
    static IDevice* DefaultPinpad();
    static IFileSystem* DefaultFS();

    // The key code the keyboard reports; 0 for no key or no keyboard.
    static unsigned char GetKeyPressed();
    static void BeepOK();
    // Two OK signals 200 ms apart.
    static void BeepTwice();
    static void BeepError();
    // "0" with paper, "1" without, "" when the printer is absent or will not open.
    static std::string GetPaperState();

    static std::string GetOsVersion();
    static std::string GetModelName();
    static std::string GetBuildDateTime();
    // HHMMSS.
    static std::string GetTime();
    // YYMMDD.
    static std::string GetDate();
    static std::string GetSoftwareVersion();
    // Six upper-case hex digits of the key's check value; "" when the PIN pad
    // or the key is missing.
    static std::string GetKeyCheckValue(unsigned char key, unsigned int pinpad);
    // The serial number up to its first "/".
    static std::string GetSerial();
    // Twelve characters: the part after the first "/", or the whole serial
    // zero-padded on the left and cut to its last twelve characters.
    static std::string GetSerialInOldFormat();
};
