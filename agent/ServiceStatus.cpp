#include "agent/ServiceStatus.h"

namespace {

std::string Describe(const TServiceStatus& status) {
    const std::string& port = status.port;
    switch (status.state) {
        case TServiceStatus::EState::NoPort:
            return "no serial port configured";
        case TServiceStatus::EState::Disabled:
            return "idle on " + port + ", link down: disabled in agent.ini";
        case TServiceStatus::EState::PortUnavailable:
            return "waiting for " + port + ", link down: the port cannot be opened";
        case TServiceStatus::EState::Serving:
            if (!status.linkUp.has_value()) {
                return "serving " + port;
            }
            return "serving " + port + (*status.linkUp ? ", link up" : ", link down");
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
