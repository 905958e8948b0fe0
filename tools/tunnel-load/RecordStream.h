#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// Checked data for transfers: numbered 32-byte records, each its number (4
// bytes, most significant first), 24 pseudo-random bytes derived from the
// number, and a checksum of those 28 bytes (4 bytes). Any piece of the
// stream can be made from its offset alone, so both ends agree on every byte
// without sharing anything but the length.
class TRecordStream {
  public:
    static constexpr std::size_t kRecordSize = 32;

    // The bytes at offset..offset+length of the stream.
    static void Fill(std::uint64_t offset, std::uint8_t* out, std::size_t length);

  private:
    using TRecord = std::array<std::uint8_t, kRecordSize>;
    static TRecord MakeRecord(std::uint32_t number);
};

// Checks a received stream against TRecordStream, byte by byte and in order.
class TRecordChecker {
  public:
    // False from the first byte that differs on.
    bool Feed(const std::uint8_t* data, std::size_t length);
    // Bytes found correct, from the start of the stream.
    std::uint64_t Verified() const { return m_verified; }
    bool Failed() const { return m_failed; }

  private:
    std::uint64_t m_verified = 0;
    bool m_failed = false;
};
