#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "TerminalKind.h"
#include "TerminalModel.h"
#include "tunnel/FrameOptions.h"

// Checked transfers through the agent's tunnel code on an in-memory line under the fake clock,
// with our terminal half or the terminal model on the other end. The agent's TCP connections
// are real ones to a peer on 127.0.0.1 that sends or takes the data. Time passes as the bytes
// cross the line at 11520 bytes/s and while nobody has anything to do; the line damages bytes
// at random from a fixed seed.
//
// The terminal's application behaves as a terminal's does: it gives up a call that is not
// answered within 5 s; when its upload connection is closed (a send found the link down) it
// goes on with a new call at once; when the data it handed over has not all arrived 3 s after
// the last byte did, it gives the connection up.
// Whatever happens to a transfer, the run ends with the line made clean and a fresh call from
// the same terminal, which must be answered.
struct TTransferPlan {
    TTerminalKind terminal = TTerminalKind::Ours;
    bool download = true;  // and, at the same time:
    bool upload = false;
    std::size_t bytes = 64 * 1024;
    double bitErrorRate = 0;  // per bit, either way
    double byteDropRate = 0;
    unsigned seed = 1;
    // Both ends in stream mode, as on the first serial port.
    bool streamMode = false;
    // Once a third of the data has moved: the terminal's application makes no call into its
    // tunnel for this long, and the line carries nothing for this long (one after the other).
    unsigned long pauseMs = 0;
    unsigned long silenceMs = 0;
    // Cuts of the line at random moments while it is noisy, this many per second on average,
    // each 5 to 50 ms long: every byte crossing the line during one is lost, either way.
    double cutsPerSecond = 0;
    // The measures of the agent's frame level, and of our terminal half's.
    TFrameOptions agentOptions;
    TFrameOptions ourTerminalOptions;
};

// How one transfer ended.
struct TTransferOutcome {
    std::size_t delivered = 0;
    bool completed = false;
    // Ended short with an explicit close: the terminal's application saw its connection closed
    // (a notice, a failed send, or it gave the connection up); closeAfterMs is the time from
    // the last progress to then.
    bool closed = false;
    unsigned long closeAfterMs = 0;
    // An upload closed at the terminal whose TCP peer the agent had not let go within the
    // close limit after that: the terminal dropped the connection's requests before any of
    // their bytes reached the agent, and told nobody.
    bool tcpLeftOpen = false;
    // A byte delivered twice, out of order, missing from the middle or from another packet;
    // the transfer ends there.
    bool wrongBytes = false;
    // The call was not answered within 5 s, and the application gave it up.
    bool callUnanswered = false;
};

struct TTransferRun {
    TTransferOutcome download;
    TTransferOutcome upload;
    // The fresh call after it, on a clean line: answered, and how long it took.
    bool serviceBack = false;
    unsigned long serviceMs = 0;
    TModelCounters model;
};

// A transfer that does not complete must be closed within this time of its last progress, or it
// failed silently: 5 s against the model; our own half sends an unanswered portion again for up
// to 16 s before it gives up.
unsigned long CloseLimitMs(TTerminalKind terminal);
// A fresh call on a clean line is answered within this time.
constexpr unsigned long kServiceLimitMs = 5000;

// Neither completed nor closed in time, nor given up at a wrong byte or an unanswered call.
bool IsSilentFailure(const TTransferOutcome& outcome, TTerminalKind terminal);

TTransferRun RunMemoryTransfer(const TTransferPlan& plan);

// The checked data of the transfers: every byte depends on its offset, so a byte repeated,
// dropped, moved or taken from elsewhere does not match.
unsigned char CheckedByte(std::size_t offset);

// Completion figures of many runs, per direction.
struct TTransferTally {
    unsigned runs = 0;
    unsigned completed = 0;
    unsigned closed = 0;
    unsigned wrong = 0;
    unsigned silent = 0;
    unsigned unanswered = 0;
    unsigned tcpLeftOpen = 0;

    void Add(const TTransferOutcome& outcome, TTerminalKind terminal);
    // The counts as a table row under Header().
    std::string Row() const;
    static std::string Header();
};
