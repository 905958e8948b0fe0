#include "tunnel/DamagedCopies.h"

#include <algorithm>

#include "base/Conversions.h"

namespace {

constexpr std::size_t kCheckSize = 2;
// Type, sequence and length, which must agree between copies of one frame.
constexpr std::size_t kHeaderSize = 3;

bool CheckFits(const std::vector<unsigned char>& frame) {
    const std::size_t checked = frame.size() - kCheckSize;
    const unsigned check = (static_cast<unsigned>(frame[checked]) << 8) | frame[checked + 1];
    return CountCrc(frame.data(), static_cast<unsigned long>(checked)) == check;
}

}  // namespace

std::optional<T_BinaryData> TDamagedCopies::Add(const T_BinaryData& frame) {
    const TBytes copy(frame.GetData(), frame.GetData() + frame.Length());
    if (copy.size() < kHeaderSize + kCheckSize) {
        return std::nullopt;
    }
    const bool sameFrame =
        std::all_of(m_copies.begin(), m_copies.end(), [&](const TBytes& earlier) {
            return earlier.size() == copy.size() &&
                   std::equal(copy.begin(), copy.begin() + kHeaderSize, earlier.begin());
        });
    if (!sameFrame) {
        Clear();  // not a copy of the same frame: start over with this one
    }
    std::optional<TBytes> rebuilt;
    for (std::size_t i = 0; !rebuilt && i < m_copies.size(); ++i) {
        rebuilt = FromPair(m_copies[i], copy);
    }
    if (rebuilt) {
        Clear();
        return T_BinaryData(rebuilt->data(), static_cast<unsigned long>(rebuilt->size()));
    }
    if (m_copies.size() == kMaxCopies) {
        m_copies.erase(m_copies.begin());
    }
    m_copies.push_back(copy);
    return std::nullopt;
}

std::optional<TDamagedCopies::TBytes> TDamagedCopies::FromPair(const TBytes& a,
                                                               const TBytes& b) const {
    std::vector<std::size_t> differing;  // bit positions
    for (std::size_t i = kHeaderSize; i < a.size(); ++i) {
        for (unsigned bit = 0; bit < 8; ++bit) {
            if (((a[i] ^ b[i]) >> bit) & 1U) {
                if (differing.size() == kMaxDifferingBits) {
                    return std::nullopt;
                }
                differing.push_back(i * 8 + bit);
            }
        }
    }
    if (differing.size() < 2) {
        return std::nullopt;  // equal, or one flip that either copy may carry
    }
    // Each candidate takes every differing bit from one copy or the other; the copies
    // themselves (no bit taken from b, or all of them) are known to be damaged.
    const std::size_t all = (std::size_t{1} << differing.size()) - 1;
    std::optional<TBytes> fitting;
    for (std::size_t takeFromB = 1; takeFromB < all; ++takeFromB) {
        TBytes candidate = a;
        for (std::size_t k = 0; k < differing.size(); ++k) {
            if ((takeFromB >> k) & 1U) {
                candidate[differing[k] / 8] ^= static_cast<unsigned char>(1U << (differing[k] % 8));
            }
        }
        if (CheckFits(candidate)) {
            if (fitting) {
                return std::nullopt;  // two fit: neither can be trusted
            }
            fitting = std::move(candidate);
        }
    }
    return fitting;
}
