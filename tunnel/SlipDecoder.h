#pragma once

#include "base/BinaryData.h"

// Cuts SLIP frames out of a byte stream fed one byte at a time, with no
// connection behind it: the receiving half of the link and the traffic log
// reader share it. Bytes outside a frame are dropped, an END that closes a
// frame does not open the next one, and a frame longer than any legal one is
// dropped whole.
class TSlipDecoder {
  public:
    // Takes one raw byte; true when it closed a frame, which TakeFrame then
    // hands out.
    bool Feed(unsigned char byte);
    // Takes the raw bytes before the first END among data at once, as Feed would take them one
    // at a time, and returns how many it took; the END, if any, is left for Feed.
    unsigned long FeedRun(const unsigned char* data, unsigned long length);
    // The completed frame, unstuffed; the collection starts over.
    T_BinaryData TakeFrame();

    // Whether a frame has been opened and is still being collected.
    bool InFrame() const { return m_inFrame; }
    // The raw bytes of the frame being collected, still stuffed.
    const T_BinaryData& Collected() const { return m_received; }
    // Throws away what the open frame has collected; the frame stays open.
    void DropCollected() { m_received.Clear(); }
    // With this on, the END that closes a frame also opens the next one: bytes between two
    // frames are collected as a frame of their own, so a frame whose opening END was damaged
    // arrives with one garbage byte in front instead of being lost.
    void SetClosingEndOpens(bool on) { m_closingEndOpens = on; }
    // How many bytes were thrown away (outside frames or in an overlong one)
    // since the last call.
    unsigned long TakeDroppedCount();

  private:
    void Collect(unsigned char byte);

    bool m_inFrame = false;
    bool m_closingEndOpens = false;
    T_BinaryData m_received;
    unsigned long m_dropped = 0;
};
