#pragma once

#include <optional>
#include <string>
#include <vector>

// How the agent is doing, in the one line a service manager shows beside the
// service, for example "serving /dev/ttyS0, link up, 2 connections, last
// reset 10:03:12". What the agent does not know is left out of the line.
struct TServiceStatus {
    enum class EState {
        NoPort,           // no serial port configured: the agent ends
        Disabled,         // "Enabled" is off: the port stays closed
        PortUnavailable,  // enabled, but the port cannot be opened
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

    // The status line: the state and port (and the link, while serving),
    // then the figures in their order, then the time of the last reset.
    [[nodiscard]] std::string Line() const;
};
