#include "agent/DestinationPolicy.h"

#include <algorithm>

namespace {

constexpr const char* kListSeparators = ", \t";
constexpr unsigned kAddressBits = 32;

std::vector<std::string> SplitList(const std::string& text) {
    std::vector<std::string> entries;
    for (std::size_t start = text.find_first_not_of(kListSeparators); start != std::string::npos;
         start = text.find_first_not_of(kListSeparators, start)) {
        const std::size_t end = std::min(text.find_first_of(kListSeparators, start), text.size());
        entries.push_back(text.substr(start, end - start));
        start = end;
    }
    return entries;
}

// Plain decimal digits, no sign, no leading zero, at most `highest`.
std::optional<std::uint32_t> ParseNumber(const std::string& text, std::uint32_t highest) {
    if (text.empty() || text.size() > 10 || (text.size() > 1 && text[0] == '0') ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    const unsigned long long value = std::stoull(text);
    if (value > highest) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(value);
}

// A port a connection can use: 1 to 65535.
std::optional<std::uint16_t> ParsePort(const std::string& text) {
    const std::optional<std::uint32_t> port = ParseNumber(text, 0xFFFF);
    if (!port || *port == 0) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(*port);
}

std::optional<std::uint32_t> ParseAddress(const std::string& text) {
    std::uint32_t address = 0;
    std::size_t start = 0;
    for (int octet = 0; octet < 4; ++octet) {
        const std::size_t dot = text.find('.', start);
        if ((octet < 3) == (dot == std::string::npos)) {
            return std::nullopt;
        }
        const std::optional<std::uint32_t> value =
            ParseNumber(text.substr(start, dot == std::string::npos ? dot : dot - start), 255);
        if (!value) {
            return std::nullopt;
        }
        address = (address << 8) | *value;
        start = dot + 1;
    }
    return address;
}

std::uint32_t PrefixMask(std::uint32_t length) {
    return length == 0 ? 0 : ~std::uint32_t{0} << (kAddressBits - length);
}

}  // namespace

TDestinationPolicy::TDestinationPolicy(const std::optional<std::string>& callList,
                                       const std::optional<std::string>& listenList) {
    if (callList) {
        m_callRules.emplace();
        for (const std::string& entry : SplitList(*callList)) {
            const std::size_t colon = entry.find(':');
            const std::string host = entry.substr(0, colon);
            const std::size_t slash = host.find('/');
            const std::optional<std::uint32_t> address = ParseAddress(host.substr(0, slash));
            const std::optional<std::uint32_t> prefix =
                slash == std::string::npos ? kAddressBits
                                           : ParseNumber(host.substr(slash + 1), kAddressBits);
            const std::optional<std::uint16_t> port =
                colon == std::string::npos ? std::nullopt : ParsePort(entry.substr(colon + 1));
            if (!address || !prefix || (colon != std::string::npos && !port)) {
                m_badCallEntries.push_back(entry);
                continue;
            }
            const std::uint32_t mask = PrefixMask(*prefix);
            m_callRules->push_back({*address & mask, mask, port});
        }
    }
    if (listenList) {
        m_listenPorts.emplace();
        for (const std::string& entry : SplitList(*listenList)) {
            if (const std::optional<std::uint16_t> port = ParsePort(entry)) {
                m_listenPorts->push_back(*port);
            } else {
                m_badListenEntries.push_back(entry);
            }
        }
    }
}

bool TDestinationPolicy::AdmitsCall(std::uint32_t address, std::uint16_t port) const {
    return !m_callRules ||
           std::any_of(m_callRules->begin(), m_callRules->end(), [&](const TCallRule& rule) {
               return (address & rule.mask) == rule.network && (!rule.port || *rule.port == port);
           });
}

bool TDestinationPolicy::AdmitsListen(std::uint16_t port) const {
    return !m_listenPorts ||
           std::find(m_listenPorts->begin(), m_listenPorts->end(), port) != m_listenPorts->end();
}

std::string DottedAddress(std::uint32_t address) {
    return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xFF) + "." +
           std::to_string((address >> 8) & 0xFF) + "." + std::to_string(address & 0xFF);
}
