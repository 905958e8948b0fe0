#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "tunnel-load/Report.h"

// Checks of a bare serial line, without any protocol on it.

// Sends back every byte that arrives on the line at path until stop() is
// true: the far end of a raw echo check.
int EchoLine(const std::string& path, const std::function<bool()>& stop, std::string& error);

// Writes bytes of random data to the line at path while reading them back
// from an echoing far end, and checks them. The report gives the time and
// the rate: on a paced line, the rate of the line.
TReport CheckLine(const std::string& path, std::uint64_t bytes, unsigned stallSeconds);
