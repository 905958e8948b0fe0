#pragma once

#include "base/Error.h"
#include "platform/Device.h"

// Terminal devices that only a real payment terminal provides: the PC's
// device layer never creates them, but applications written against these
// contracts run unchanged on hardware that does. Each is handed out by the
// device layer as an IDevice and reached through a dynamic_cast.

// DEVICE_KEYBOARD: the terminal's keypad.
class IKeyboard : public IDevice {
  public:
    // The code of a key pressed since the last query, 0 when none was.
    virtual unsigned char GetKeyPressed() = 0;
};

// DEVICE_BEEPER: the terminal's sounder.
class IBeeper : public IDevice {
  public:
    virtual Error BeepOK() = 0;
    virtual Error BeepError() = 0;
};

// DEVICE_PRINTER: the receipt printer.
class IPrinter : public IDevice {
  public:
    // True while the printer holds paper; valid between Open and Close.
    virtual bool HasPaper() = 0;
};

// DEVICE_PINPAD: the PIN entry device with its key store.
class IPinpad : public IDevice {
  public:
    // Fills the 3-byte check value of the stored key number key; false when
    // the key is absent or cannot be checked.
    virtual bool GetKeyCheckValue(unsigned char key, unsigned char value[3]) = 0;
};
