#include "tunnel/SlipCodec.h"

T_BinaryData TSlipCodec::Escape(const T_BinaryData& payload) {
    T_BinaryData stuffed;
    for (unsigned long i = 0; i < payload.Length(); ++i) {
        const unsigned char byte = payload[i];
        if (byte == END) {
            stuffed.AddDirectBytes(ESC, 1);
            stuffed.AddDirectBytes(ESC_END, 1);
        } else if (byte == ESC) {
            stuffed.AddDirectBytes(ESC, 1);
            stuffed.AddDirectBytes(ESC_ESC, 1);
        } else {
            stuffed.AddDirectBytes(byte, 1);
        }
    }
    return stuffed;
}

T_BinaryData TSlipCodec::Unescape(const T_BinaryData& stuffed) {
    T_BinaryData payload;
    bool escapePending = false;
    for (unsigned long i = 0; i < stuffed.Length(); ++i) {
        const unsigned char byte = stuffed[i];
        if (byte == ESC) {
            escapePending = true;
        } else if (escapePending) {
            escapePending = false;
            if (byte == ESC_END) {
                payload.AddDirectBytes(END, 1);
            } else if (byte == ESC_ESC) {
                payload.AddDirectBytes(ESC, 1);
            }
        } else {
            payload.AddDirectBytes(byte, 1);
        }
    }
    return payload;
}
