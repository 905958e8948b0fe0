#pragma once

#include <optional>
#include <string>
#include <vector>

// How the agent is doing, in the one line a service manager shows beside the
// service, for example "serving /dev/ttyS0, link up, 2 connections, last
// reset 10:03:12". What the agent does not know is left out of the line.
// "link up" means the terminal has answered since the last reset; a terminal
// may close its end between transactions, so when it was last heard is the
// fact.
struct TServiceStatus {
    enum class EState {
        NoPort,           // no serial port configured: the agent ends
        Disabled,         // "Enabled" is off: the port stays closed
        PortUnavailable,  // enabled, but the port cannot be opened
        PortBusy,         // enabled, but another program holds the port
        Serving,          // the port is open and the tunnel runs on it
        LineLost,         // the serial device went away while serving
    };

    // A counted figure, printed as "1 connection" or "14 NAKs".
    struct TFigure {
        std::string singular;
        std::string plural;
        unsigned long value = 0;
    };

    EState state = EState::NoPort;
    std::string port;  // the serial device, such as "/dev/ttyS0"
    // While serving: whether the terminal answers on the line, when known.
    std::optional<bool> linkUp;
    std::vector<TFigure> figures;
    std::string lastReset;  // "HH:MM:SS"; empty before the first reset
    // While serving: the seconds since the terminal was last heard (any
    // frame), kNeverHeard before it ever was; left out when not known.
    static constexpr unsigned long kNeverHeard = ~0UL;
    std::optional<unsigned long> heardSecondsAgo;

    // The status line: the state and port (and the link and when the
    // terminal was last heard, while serving), then the figures in their order, then the time of
    // the last reset.
    [[nodiscard]] std::string Line() const;
};
