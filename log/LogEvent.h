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

    const unsigned char* GetData() const { return data_; }
    int GetLength() const { return length_; }

  private:
    const unsigned char* data_;
    std::int32_t length_;
    [[maybe_unused]] std::uint32_t tag_;  // kept for the record layout; never read
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
    const char* GetEventMarker() const override { return marker_; }

  private:
    char marker_[17];
};
