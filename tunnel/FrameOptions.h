#pragma once

// Measures of the frame level that keep answers from being lost on a noisy line. Each uses only
// bytes that any peer following the protocol already accepts, so each can be switched off alone
// to measure what it brings; all are on by default.
struct TFrameOptions {
    // Takes an ACK or NAK whose header has one flipped bit (found through its check), one with
    // a garbage byte in front (a damaged END before it), and a whole NAK one bit off the number
    // of the one portion out (the portion's number was damaged on the way). Takes any frame
    // whose check fits while it still waits for its closing END, and a data frame with a
    // garbage byte in front. Refuses a data frame whose type byte is one bit off, so that its
    // sender does not wait for its timer.
    bool repairAnswers = true;
    // Sends every ACK twice. A peer ignores an ACK that does not carry its current number, so
    // the second copy is harmless and one damaged copy loses nothing.
    bool doubleAcks = true;
    // Frames end with END END: a peer's receiver shrugs off one damaged closing END, which
    // would otherwise leave the frame waiting until the next one.
    bool doubleDelimiters = true;
    // Sends the ACK of the data frame accepted last again a while after it, while nothing newer
    // has come. A peer whose ACK was lost and that has more data waiting drops it when its frame
    // timer runs out, without a gap in its frame numbers; the refreshes reach it well before
    // that. They stop in time: a late ACK after such a reset would bring the peer's link up again
    // and let its next data follow the dropped data as if nothing were missing.
    bool refreshAcks = true;
    // Sends the portions whose terms ask for it (notices that open or close a connection) twice
    // at once, under the same number: one damaged copy, which a peer may drop without refusing
    // it, costs nothing then instead of a wait for the frame timer.
    bool doubleNotices = true;
    // Asks for the peer's next portion with a NAK for its number a while after the last data
    // frame, while none has come since. A peer whose portion was lost whole (a damaged END or
    // length byte) sends nothing again on its own and drops its queue when its frame timer runs
    // out; the NAK gets the portion sent again first. A peer with nothing out ignores a NAK for
    // a number it has not used, and one that refused a portion truly did not take it.
    bool pollNext = true;
    // Rebuilds a data frame from two or three damaged transmissions of it (see TDamagedCopies),
    // so a portion gets through although no transmission of it arrived whole: a terminal sends
    // a portion at most three times and then drops its queue.
    bool combineCopies = true;
    // Asks, when a portion's answer is overdue, whether the peer read it: a data frame without
    // data under a number no portion has had lately or has next (see TFrameSender). A peer
    // answers every data frame it reads, in order, and takes one without data as nothing; ours
    // also knows it for no portion of the stream, so it neither refuses it as one nor marks a
    // break. A portion the answer shows unread goes out again under its own number: the peer
    // holds nothing of it, so nothing is delivered twice.
    bool probeUnanswered = true;

    static TFrameOptions AllOff() {
        return TFrameOptions{false, false, false, false, false, false, false, false};
    }
};
