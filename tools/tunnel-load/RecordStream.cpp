#include "tunnel-load/RecordStream.h"

#include <algorithm>
#include <cstring>

namespace {

std::uint64_t SplitMix(std::uint64_t value) {
    value += 0x9E3779B97F4A7C15ull;
    value = (value ^ (value >> 30)) * 0xBF58476D1CE4E5B9ull;
    value = (value ^ (value >> 27)) * 0x94D049BB133111EBull;
    return value ^ (value >> 31);
}

// FNV-1a, 32 bits.
std::uint32_t Checksum(const std::uint8_t* data, std::size_t length) {
    std::uint32_t hash = 2166136261u;
    for (std::size_t i = 0; i < length; ++i) {
        hash = (hash ^ data[i]) * 16777619u;
    }
    return hash;
}

void PutBigEndian(std::uint32_t value, std::uint8_t* out) {
    for (int i = 3; i >= 0; --i) {
        out[i] = static_cast<std::uint8_t>(value);
        value >>= 8;
    }
}

}  // namespace

TRecordStream::TRecord TRecordStream::MakeRecord(std::uint32_t number) {
    TRecord record{};
    PutBigEndian(number, record.data());
    for (std::size_t word = 0; word < 3; ++word) {
        const std::uint64_t random = SplitMix((std::uint64_t{number} << 2) | word);
        std::memcpy(record.data() + 4 + word * 8, &random, 8);
    }
    PutBigEndian(Checksum(record.data(), 28), record.data() + 28);
    return record;
}

void TRecordStream::Fill(std::uint64_t offset, std::uint8_t* out, std::size_t length) {
    while (length > 0) {
        const TRecord record = MakeRecord(static_cast<std::uint32_t>(offset / kRecordSize));
        const std::size_t start = offset % kRecordSize;
        const std::size_t piece = std::min(length, kRecordSize - start);
        std::memcpy(out, record.data() + start, piece);
        out += piece;
        offset += piece;
        length -= piece;
    }
}

bool TRecordChecker::Feed(const std::uint8_t* data, std::size_t length) {
    std::uint8_t expected[TRecordStream::kRecordSize * 8];
    while (!m_failed && length > 0) {
        const std::size_t piece = std::min(length, sizeof expected);
        TRecordStream::Fill(m_verified, expected, piece);
        const std::size_t same = static_cast<std::size_t>(
            std::mismatch(data, data + piece, expected).first - data);
        m_verified += same;
        m_failed = same < piece;
        data += piece;
        length -= piece;
    }
    return !m_failed;
}
