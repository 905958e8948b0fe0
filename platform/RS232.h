#pragma once

#include <cstdint>

#include "base/Error.h"
#include "platform/Connection.h"
#include "platform/Device.h"
#include "platform/WaitSet.h"

// Parity, as character codes: 'N' none, 'O' odd; any other value is even.
enum QERN2_PARITY : std::uint32_t {
    PARITY_NONE = 'N',
    PARITY_ODD = 'O',
    PARITY_EVEN = 'E',
};

// Stop bits: 2 gives two; any other value gives one.
enum STOPBITS : std::uint32_t {
    STOPBITS_ONE = 1,
    STOPBITS_TWO = 2,
};

// How to open a serial port. The constructor takes the values in a different
// order from the fields.
struct TRs232Params {
    TRs232Params(unsigned short port, unsigned long baudRate, unsigned char dataBits,
                 QERN2_PARITY parity, STOPBITS stopBits)
        : port(port),
          dataBits(dataBits),
          parity(parity),
          stopBits(stopBits),
          baudRate(static_cast<std::uint32_t>(baudRate)) {}

    // 1 is the first serial port of the machine.
    std::uint16_t port;
    // 5, 6, 7 or 8.
    std::uint8_t dataBits;
    QERN2_PARITY parity;
    STOPBITS stopBits;
    std::uint32_t baudRate;
};

// A serial port that can be opened into a connection. Open and Close of a
// serial port do nothing; Connect does the work.
class IRS232Interface : public IDevice {
  public:
    // Opens the port; `*connection` is null first and stays null on failure.
    virtual Error Connect(const TRs232Params& params, IConnection** connection) = 0;
};

// A serial line connection that a loop can sleep on in a wait set. Such a
// loop lets Receive only look instead of wait, so that one idle line does not
// hold up the loop's other work.
class ISerialLine : public IPollable {
  public:
    // How long Receive waits for input when none is pending; 0 only looks.
    virtual void SetReceiveWait(unsigned long milliseconds) = 0;

  protected:
    ~ISerialLine() = default;
};
