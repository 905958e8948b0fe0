#include "agent/ServiceStatus.h"

namespace {

// ", link up, terminal last heard 3 s ago" as far as it is known.
std::string Heard(const TServiceStatus& status) {
    std::string text;
    if (status.linkUp.has_value()) {
        text = *status.linkUp ? ", link up" : ", link down";
    }
    if (status.heardSecondsAgo == TServiceStatus::kNeverHeard) {
        text += ", terminal not heard yet";
    } else if (status.heardSecondsAgo.has_value()) {
        text += ", terminal last heard " + std::to_string(*status.heardSecondsAgo) + " s ago";
    }
    return text;
}

std::string Describe(const TServiceStatus& status) {
    const std::string& port = status.port;
    switch (status.state) {
        case TServiceStatus::EState::NoPort:
            return "no serial port configured";
        case TServiceStatus::EState::Disabled:
            return "idle on " + port + ", link down: disabled in agent.ini";
        case TServiceStatus::EState::PortUnavailable:
            return "waiting for " + port + ", link down: the port cannot be opened";
        case TServiceStatus::EState::PortBusy:
            return "waiting for " + port + ", link down: the port is in use by another program";
        case TServiceStatus::EState::Serving:
            return "serving " + port + Heard(status);
        case TServiceStatus::EState::LineLost:
            return "waiting for " + port + ", link down: the line was lost";
    }
    return {};
}

}  // namespace

std::string TServiceStatus::Line() const {
    std::string line = Describe(*this);
    for (const TFigure& figure : figures) {
        line += ", " + std::to_string(figure.value) + " " +
                (figure.value == 1 ? figure.singular : figure.plural);
    }
    if (!lastReset.empty()) {
        line += ", last reset " + lastReset;
    }
    return line;
}
