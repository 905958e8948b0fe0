#include "tunnel/SlipCodec.h"

#include <cstring>

namespace {

// Appends the bytes of [from, to) that need no stuffing in one piece.
void AddRun(T_BinaryData& out, const unsigned char* from, const unsigned char* to) {
    if (to != from) {
        out.Add(from, static_cast<unsigned long>(to - from));
    }
}

}  // namespace

T_BinaryData TSlipCodec::Escape(const T_BinaryData& payload) {
    static constexpr unsigned char kEscapedEnd[2] = {ESC, ESC_END};
    static constexpr unsigned char kEscapedEsc[2] = {ESC, ESC_ESC};
    T_BinaryData stuffed;
    const unsigned char* run = payload.GetData();
    const unsigned char* const end = run + payload.Length();
    for (const unsigned char* at = run; at != end; ++at) {
        if (*at == END || *at == ESC) {
            AddRun(stuffed, run, at);
            stuffed.Add(*at == END ? kEscapedEnd : kEscapedEsc, 2);
            run = at + 1;
        }
    }
    AddRun(stuffed, run, end);
    return stuffed;
}

T_BinaryData TSlipCodec::Unescape(const T_BinaryData& stuffed) {
    T_BinaryData payload;
    const unsigned char* at = stuffed.GetData();
    const unsigned char* const end = at + stuffed.Length();
    while (at != end) {
        const auto* escape = static_cast<const unsigned char*>(
            std::memchr(at, ESC, static_cast<std::size_t>(end - at)));
        if (escape == nullptr) {
            AddRun(payload, at, end);
            break;
        }
        AddRun(payload, at, escape);
        if (escape + 1 == end) {
            break;  // an ESC at the very end yields nothing
        }
        const unsigned char next = escape[1];
        if (next == ESC) {
            at = escape + 1;  // the second ESC starts the escape
            continue;
        }
        if (next == ESC_END || next == ESC_ESC) {
            payload.AddDirectBytes(next == ESC_END ? END : ESC, 1);
        }
        at = escape + 2;
    }
    return payload;
}
