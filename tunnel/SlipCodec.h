#pragma once

#include "base/BinaryData.h"

// The byte values of SLIP framing and the stuffing of a frame's payload, shared by the framing
// layer (SLIP) and the passive decoder behind it. Every frame travels between two END bytes;
// END and ESC inside it become two-byte escape sequences.
struct TSlipCodec {
    static constexpr unsigned char END = 0xC0;
    static constexpr unsigned char ESC = 0xDB;
    static constexpr unsigned char ESC_END = 0xDC;  // ESC ESC_END stands for END
    static constexpr unsigned char ESC_ESC = 0xDD;  // ESC ESC_ESC stands for ESC

    // The longest run of raw bytes a frame may have: 255 data bytes with the 5 bytes of frame
    // header and check, every one of them escaped. A longer frame is dropped and the receiver
    // waits for the next END.
    static constexpr unsigned long kMaxRawFrameLength = 2 * (3 + 255 + 2);

    static T_BinaryData Escape(const T_BinaryData& payload);
    // An ESC followed by anything but ESC_END or ESC_ESC yields nothing, and so does an ESC at
    // the very end.
    static T_BinaryData Unescape(const T_BinaryData& stuffed);
};
