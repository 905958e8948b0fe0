#include "base/StringReader.h"

namespace {

bool IsLineEnd(unsigned char c) {
    return c == '\r' || c == '\n';
}

}  // namespace

TStringReader::TStringReader(const T_BinaryData& source, bool wholeLinesOnly,
                             unsigned long maxLineLength)
    : m_source(source),
      m_maxLineLength(static_cast<std::uint32_t>(maxLineLength)),
      m_wholeLinesOnly(wholeLinesOnly) {}

bool TStringReader::GetNextString(std::string& line) {
    line.clear();
    const unsigned char* data = m_source.GetData();
    const unsigned long length = m_source.Length();
    for (std::uint32_t taken = 0; m_position < length && taken < m_maxLineLength; ++taken) {
        const unsigned char c = data[m_position++];
        if (IsLineEnd(c)) {
            // A different line-end byte right after pairs with this one.
            if (m_position < length && IsLineEnd(data[m_position]) && data[m_position] != c) {
                ++m_position;
            }
            return true;
        }
        if (c != '\0') {
            line += static_cast<char>(c);
        }
    }
    return !line.empty() && !m_wholeLinesOnly;
}

T_BinaryData TStringReader::GetRemainingData(unsigned long count) {
    const unsigned long remaining = GetRemainingDataSize();
    if (count > remaining) {
        count = remaining;
    }
    T_BinaryData data = m_source.Copy(m_position, count);
    m_position += static_cast<std::uint32_t>(count);
    return data;
}

unsigned long TStringReader::GetRemainingDataSize() const {
    return m_source.Length() - m_position;
}
