#include "log/PcapngBlocks.h"

#include <algorithm>

namespace pcapng {

namespace {

constexpr std::uint32_t kSectionHeaderType = 0x0A0D0D0A;
constexpr std::uint32_t kInterfaceDescriptionType = 1;
constexpr std::uint32_t kEnhancedPacketType = 6;
constexpr std::uint32_t kByteOrderMagic = 0x1A2B3C4D;

constexpr std::uint16_t kOptionEnd = 0;
constexpr std::uint16_t kOptionComment = 1;
constexpr std::uint16_t kSectionApplication = 4;
constexpr std::uint16_t kInterfaceName = 2;
constexpr std::uint16_t kInterfaceDescription = 3;
constexpr std::uint16_t kInterfaceTimeResolution = 9;
constexpr std::uint16_t kPacketFlags = 2;
constexpr std::uint8_t kMicroseconds = 6;

void Put16(TBytes& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void Put32(TBytes& out, std::uint32_t value) {
    Put16(out, static_cast<std::uint16_t>(value));
    Put16(out, static_cast<std::uint16_t>(value >> 16));
}

void PadTo32Bits(TBytes& out) {
    while (out.size() % 4 != 0) {
        out.push_back(0);
    }
}

void PutOption(TBytes& out, std::uint16_t code, const void* value, std::size_t length) {
    Put16(out, code);
    Put16(out, static_cast<std::uint16_t>(length));
    const auto* bytes = static_cast<const std::uint8_t*>(value);
    out.insert(out.end(), bytes, bytes + length);
    PadTo32Bits(out);
}

// A text option, left out when empty; longer texts are cut to what an option can hold.
void PutText(TBytes& out, std::uint16_t code, const std::string& text) {
    if (!text.empty()) {
        PutOption(out, code, text.data(), std::min<std::size_t>(text.size(), 0xFFFC));
    }
}

// Starts a block of the type; Finish fills in its length at both ends.
TBytes Start(std::uint32_t type) {
    TBytes block;
    Put32(block, type);
    Put32(block, 0);
    return block;
}

TBytes Finish(TBytes block, bool withOptions) {
    if (withOptions) {
        Put16(block, kOptionEnd);
        Put16(block, 0);
    }
    const auto total = static_cast<std::uint32_t>(block.size() + 4);
    Put32(block, total);
    for (int i = 0; i < 4; ++i) {
        block[4 + i] = static_cast<std::uint8_t>(total >> (8 * i));
    }
    return block;
}

}  // namespace

TBytes SectionHeader(const std::string& comment, const std::string& application) {
    TBytes block = Start(kSectionHeaderType);
    Put32(block, kByteOrderMagic);
    Put16(block, 1);  // version 1.0
    Put16(block, 0);
    Put32(block, 0xFFFFFFFF);  // section length not given
    Put32(block, 0xFFFFFFFF);
    PutText(block, kOptionComment, comment);
    PutText(block, kSectionApplication, application);
    return Finish(std::move(block), true);
}

TBytes InterfaceDescription(std::uint16_t linkType, const std::string& name,
                            const std::string& description) {
    TBytes block = Start(kInterfaceDescriptionType);
    Put16(block, linkType);
    Put16(block, 0);
    Put32(block, 0);  // no snapshot length: packets are whole
    PutText(block, kInterfaceName, name);
    PutText(block, kInterfaceDescription, description);
    PutOption(block, kInterfaceTimeResolution, &kMicroseconds, 1);
    return Finish(std::move(block), true);
}

TBytes EnhancedPacket(std::uint32_t interface, std::uint64_t microseconds, TDirection direction,
                      const std::uint8_t* data, std::size_t length, const std::string& comment) {
    TBytes block = Start(kEnhancedPacketType);
    block.reserve(length + 64);
    Put32(block, interface);
    Put32(block, static_cast<std::uint32_t>(microseconds >> 32));
    Put32(block, static_cast<std::uint32_t>(microseconds));
    Put32(block, static_cast<std::uint32_t>(length));
    Put32(block, static_cast<std::uint32_t>(length));
    block.insert(block.end(), data, data + length);
    PadTo32Bits(block);
    const bool withOptions = direction != TDirection::Unknown || !comment.empty();
    if (direction != TDirection::Unknown) {
        const std::uint8_t flags[4] = {static_cast<std::uint8_t>(direction), 0, 0, 0};
        PutOption(block, kPacketFlags, flags, sizeof flags);
    }
    PutText(block, kOptionComment, comment);
    return Finish(std::move(block), withOptions);
}

}  // namespace pcapng
