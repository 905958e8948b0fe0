#pragma once

#include <functional>

#include "base/BinaryData.h"
#include "tunnel/SlipDecoder.h"

// Cuts one direction of a serial line's raw bytes into what a reader of the line would see:
// each SLIP frame, unstuffed, and each run of bytes that belongs to no frame (noise between
// frames, a frame too long to be one) as it was. A passive observer with nothing behind it, so
// that a live capture and a traffic log reader cut alike.
class TLineCutter {
  public:
    enum class TKind { Frame, Garbage };
    // Hears each piece; the bytes are valid during the call only.
    using TSink = std::function<void(TKind kind, const T_BinaryData& bytes)>;

    explicit TLineCutter(TSink sink) : m_sink(std::move(sink)) {}

    // Takes the next raw bytes of the direction. Garbage is told when a frame opens after it
    // and at the end of the call, so that it keeps its place in time.
    void Feed(const unsigned char* data, unsigned long length);

  private:
    void TellGarbage();

    TSlipDecoder m_decoder;
    T_BinaryData m_garbage;
    TSink m_sink;
};
