#pragma once

// Which terminal's half of the tunnel a test plays: our own, or the model of the terminal as
// the field runs it (TerminalModel.h).
enum class TTerminalKind { Ours, Model };

inline const char* Name(TTerminalKind terminal) {
    return terminal == TTerminalKind::Model ? "model" : "ours";
}
