#include "base/LogEvent.h"

#include <cstdio>

TLogEvent::TLogEvent(unsigned long tag, const unsigned char* data, int length)
    : m_data(data), m_length(length), m_tag(static_cast<std::uint32_t>(tag)) {}

T_LE_Connected::T_LE_Connected(const char* text)
    : TLogEvent(0, reinterpret_cast<const unsigned char*>(text), 0) {}

T_LE_Disconnected::T_LE_Disconnected() : TLogEvent(0, nullptr, 0) {}

T_LE_Sent::T_LE_Sent(const unsigned char* data, int length) : TLogEvent(0, data, length) {}

T_LE_Received::T_LE_Received(const unsigned char* data, int length) : TLogEvent(0, data, length) {}

T_LE_ComError::T_LE_ComError(unsigned long code) : TLogEvent(0, nullptr, 0) {
    std::snprintf(m_marker, sizeof m_marker, "Error %lu",
                  static_cast<unsigned long>(static_cast<std::uint32_t>(code)));
}
