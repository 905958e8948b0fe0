#pragma once

#include <cstdint>
#include <string>
#include <vector>

// What crossed one direction of the line, counted frame by frame as the
// sender wrote it: SLIP frames delimited by END bytes, told apart by their
// type byte. Wire bytes include the stuffing and both END bytes of a frame.
struct TFrameCounts {
    std::uint64_t dataFrames = 0;
    std::uint64_t dataWireBytes = 0;
    std::uint64_t dataPayloadBytes = 0;  // the data the frames carry
    // Data frames without data: probes, and the empty portion a terminal sends when a NAK for
    // its current number finds nothing out.
    std::uint64_t emptyDataFrames = 0;
    std::uint64_t ackFrames = 0;
    std::uint64_t ackWireBytes = 0;
    std::uint64_t nakFrames = 0;
    std::uint64_t nakWireBytes = 0;
    std::uint64_t otherFrames = 0;
};

// Watches a byte stream and counts the frames in it.
class TFrameCounter {
  public:
    void Feed(std::uint8_t byte);
    const TFrameCounts& Counts() const { return m_counts; }

  private:
    void CountFrame();

    TFrameCounts m_counts;
    std::vector<std::uint8_t> m_frame;  // unstuffed bytes of the frame being collected
    std::uint64_t m_wireBytes = 0;      // its bytes as sent, without END bytes
    bool m_escaped = false;
    bool m_inFrame = false;
};
