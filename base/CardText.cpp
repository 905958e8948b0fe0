#include "base/CardText.h"

#include <algorithm>

#include "base/Conversions.h"

namespace {

constexpr std::string::size_type kShortestMaskablePan = 13;
constexpr std::string::size_type kVisiblePanDigits = 4;
constexpr std::string::size_type kDigitGroup = 3;
constexpr std::string::size_type kShownFractionDigits = 2;

// Up to count characters from position, none when position is past the end.
std::string SafeSubstr(const std::string& s, std::string::size_type position,
                       std::string::size_type count) {
    return position < s.size() ? s.substr(position, count) : std::string();
}

}  // namespace

std::string GetPANFromTrack2(const std::string& track2) {
    const auto separator = track2.find('D');
    return separator == std::string::npos ? std::string() : track2.substr(0, separator);
}

std::string GetMaskedPANFromPAN(const std::string& pan) {
    if (pan.size() < kShortestMaskablePan) {
        return std::string();
    }
    const auto masked = pan.size() - kVisiblePanDigits;
    return std::string(masked, '*') + pan.substr(masked);
}

std::string AmountWithSpaces(const std::string& amount) {
    const auto integerLength = std::min(amount.find('.'), amount.size());
    std::string out(amount);
    // Inserting from the right keeps the positions to the left valid.
    for (auto position = integerLength; position >= kDigitGroup; position -= kDigitGroup) {
        out.insert(position - kDigitGroup, 1, ' ');
    }
    return out;
}

std::string PrintableAmount(const std::string& digits, int decimals) {
    const auto fractionLength = static_cast<std::string::size_type>(std::max(decimals, 0));
    const std::string trimmed = TrimLeadingZeroes(digits, fractionLength + 1);
    if (fractionLength == 0) {
        return trimmed;
    }
    const std::string padded =
        PadStringWithZeroes(trimmed, std::max(trimmed.size(), fractionLength + 1));
    const auto integerLength = padded.size() - fractionLength;
    return padded.substr(0, integerLength) + "." +
           padded.substr(integerLength, kShownFractionDigits);
}

std::string FormatYYMMDDtoMMDDYY(const std::string& s) {
    return SafeSubstr(s, 2, 4) + SafeSubstr(s, 0, 2);
}
