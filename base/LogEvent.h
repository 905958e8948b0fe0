#pragma once

#include <cstdint>

// One loggable event: an optional block of bytes or text and how to show it.
// Events are short-lived stack objects; the data they point to belongs to
// the caller and is valid only during the LogData call.
class TLogEvent {
  public:
    // A length of 0 with non-null data means the data is zero-terminated text.
    TLogEvent(unsigned long tag, const unsigned char* data, int length);

    virtual bool NeedsHexDump() const { return false; }
    virtual const char* GetEventMarker() const { return ""; }

    const unsigned char* GetData() const { return m_data; }
    int GetLength() const { return m_length; }

  private:
    const unsigned char* m_data;
    std::int32_t m_length;
    [[maybe_unused]] std::uint32_t m_tag;  // kept for the record layout; never read
};

// A connection came up; the text (may be null) is the peer's address.
class T_LE_Connected : public TLogEvent {
  public:
    explicit T_LE_Connected(const char* text);
    const char* GetEventMarker() const override { return "Connected"; }
};

class T_LE_Disconnected : public TLogEvent {
  public:
    T_LE_Disconnected();
    const char* GetEventMarker() const override { return "Disconnected\n"; }
};

class T_LE_Sent : public TLogEvent {
  public:
    T_LE_Sent(const unsigned char* data, int length);
    bool NeedsHexDump() const override { return true; }
    const char* GetEventMarker() const override { return ">"; }
};

class T_LE_Received : public TLogEvent {
  public:
    T_LE_Received(const unsigned char* data, int length);
    bool NeedsHexDump() const override { return true; }
    const char* GetEventMarker() const override { return "<"; }
};

// A communication error; its code is part of the marker ("Error 20003").
class T_LE_ComError : public TLogEvent {
  public:
    explicit T_LE_ComError(unsigned long code);
    const char* GetEventMarker() const override { return m_marker; }

  private:
    char m_marker[17];
};
