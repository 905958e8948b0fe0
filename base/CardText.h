#pragma once

// Stateless helpers for card data and amounts held as strings of digits.

#include <string>

// The characters before the first 'D' separator; empty when there is none.
std::string GetPANFromTrack2(const std::string& track2);
// All but the last 4 characters replaced by '*'; empty for 12 characters or
// fewer, which are too short to mask.
std::string GetMaskedPANFromPAN(const std::string& pan);
// amount with a space before every group of three characters of its integer
// part (the part before the first '.'), including one at position 0 when
// that part's length is a multiple of 3: "1234" gives "1 234", "123456"
// gives " 123 456".
std::string AmountWithSpaces(const std::string& amount);
// An amount in minor units as text with a decimal point: leading zeros are
// dropped and missing ones supplied so that one integer digit remains, and
// the fraction shows at most two digits. "000012345" with 2 gives "123.45",
// "5" with 2 gives "0.05", "1234567" with 3 gives "1234.56". Negative
// decimals count as 0.
std::string PrintableAmount(const std::string& digits, int decimals);
// YYMMDD as MMDDYY: characters 2 to 5, then 0 and 1, as far as they exist.
std::string FormatYYMMDDtoMMDDYY(const std::string& s);
