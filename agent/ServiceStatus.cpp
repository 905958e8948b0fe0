#include "agent/ServiceStatus.h"

namespace {

std::string Describe(TServiceStatus::EState state, const std::string& port) {
    switch (state) {
        case TServiceStatus::EState::NoPort:
            return "no serial port configured";
        case TServiceStatus::EState::Disabled:
            return "idle on " + port + ", link down: disabled in agent.ini";
        case TServiceStatus::EState::PortUnavailable:
            return "waiting for " + port + ", link down: the port cannot be opened";
        case TServiceStatus::EState::Serving:
            return "serving " + port + ", link up";
        case TServiceStatus::EState::LineLost:
            return "waiting for " + port + ", link down: the line was lost";
    }
    return {};
}

}  // namespace

std::string TServiceStatus::Line() const {
    std::string line = Describe(state, port);
    for (const TFigure& figure : figures) {
        line += ", " + std::to_string(figure.value) + " " +
                (figure.value == 1 ? figure.singular : figure.plural);
    }
    if (!lastReset.empty()) {
        line += ", last reset " + lastReset;
    }
    return line;
}
