#pragma once

#include <cstdint>

// What the layer above says about the data of one TFrameLevel::SendData call.
struct TPortionTerms {
    // Handed back in the outcome of the data; 0 asks for no outcome.
    std::uint64_t tag = 0;
    // Whether a portion of the data that stays unanswered may be sent again. A peer delivers
    // every good frame it gets, a repeat included, so only data whose second delivery changes
    // nothing may be repeated after a time-out; the rest is given up instead.
    bool repeatAfterTimeOut = false;
    // Whether each transmission goes out twice at once, under the same number (when the frame
    // level's options allow): for short notices whose second delivery changes nothing, so that
    // one copy damaged beyond a refusal costs no wait for the timer.
    bool twiceAtOnce = false;
    // The portion resets the peer. One the peer refused or never read goes out again only
    // while nothing was sent after it and nothing came from the peer since: a reset read late
    // would undo what either began.
    bool resetsPeer = false;
};

// How the data of a tagged SendData call ended: acknowledged whole, or given up (a portion of it
// unanswered or refused too often, or the link reset), in which case the peer may hold any
// prefix of it.
struct TPortionOutcome {
    std::uint64_t tag;
    bool delivered;
};
