#pragma once

#include <cstddef>
#include <optional>
#include <vector>

#include "base/BinaryData.h"

// Damaged transmissions of one data frame, and the frame they agree on. Noise seldom strikes
// the same bit of two transmissions, so the bits where the copies differ hold the damage: of
// the frames they can be rebuilt into, the one whose check fits is the frame that was sent.
// A rebuilt frame is taken only when two copies differ in a bit or two and exactly one
// candidate fits. A wrong candidate keeps only the damage the copies share, so it fits no more
// often than a damaged frame fits its own 16-bit check: that check finds every damage of up to
// three bits in a frame of this size. Copies that differ more are left alone: on a line that
// damages frames that heavily, a transfer kept going would mostly hold up the peer's next call.
class TDamagedCopies {
  public:
    // Copies kept; a sender that transmits a frame three times has then sent them all, and the
    // last is paired with each of the two before it.
    static constexpr std::size_t kMaxCopies = 2;
    // Two copies that differ in more bits than this are not combined: too many candidates.
    static constexpr std::size_t kMaxDifferingBits = 2;

    // Forgets the copies: another frame is expected now.
    void Clear() { m_copies.clear(); }
    // Adds a damaged transmission whose length byte matches its length (header, data, check).
    // Returns the frame rebuilt from it and the copies before it, if they agree on one whose
    // check fits; otherwise keeps it.
    [[nodiscard]] std::optional<T_BinaryData> Add(const T_BinaryData& frame);

  private:
    using TBytes = std::vector<unsigned char>;

    std::optional<TBytes> FromPair(const TBytes& a, const TBytes& b) const;

    std::vector<TBytes> m_copies;
};
