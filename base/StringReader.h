#pragma once

#include <cstdint>
#include <string>

#include "base/BinaryData.h"

// Cuts a byte buffer into lines. A line ends at CR or LF; CR LF and LF CR
// count as one line end, CR CR and LF LF as two. Zero bytes are dropped.
class TStringReader {
  public:
    // source is not copied and must outlive the reader. With wholeLinesOnly
    // a last piece without a line end is not handed out. Every byte beyond
    // maxLineLength ends a line early (0xFFFFFFFF: no limit).
    TStringReader(const T_BinaryData& source, bool wholeLinesOnly, unsigned long maxLineLength);

    // The next line, without its line end; false when there is none. Bytes
    // examined stay consumed even when false is returned.
    bool GetNextString(std::string& line);
    // Up to count bytes from the position on, sharing the source's storage;
    // 0xFFFFFFFF or a count past the end takes the rest.
    T_BinaryData GetRemainingData(unsigned long count);
    unsigned long GetRemainingDataSize() const;

  private:
    const T_BinaryData& m_source;
    std::uint32_t m_position = 0;
    std::uint32_t m_maxLineLength;
    bool m_wholeLinesOnly;
};
