#pragma once

#include <cstdint>
#include <functional>

// Decides on a call or listen request from the terminal before anything is done for it:
// 0 lets it go ahead, any other value refuses it with that error code.
using TCallFilter = std::function<unsigned long(std::uint32_t socketId, std::uint32_t ipAddr,
                                                std::uint16_t port, bool calling)>;
