#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Where the terminal may reach through the agent: the destinations it may call
// and the ports it may listen on. Each list is text as written in the settings:
// entries separated by commas, spaces or tabs. A list that is not set admits
// everything; a set list admits only what it names, so an empty one admits
// nothing. Entries that cannot be read are left out and kept for the record.
//
// Call entries: a dotted address ("10.0.0.5") or a network given as address and
// prefix length ("10.0.0.0/24"), either with an optional port ("10.0.0.5:443").
// Listen entries: port numbers.
class TDestinationPolicy {
  public:
    // Admits everything.
    TDestinationPolicy() = default;
    TDestinationPolicy(const std::optional<std::string>& callList,
                       const std::optional<std::string>& listenList);

    // Addresses hold the first octet in their most significant byte.
    bool AdmitsCall(std::uint32_t address, std::uint16_t port) const;
    bool AdmitsListen(std::uint16_t port) const;

    // The entries left out, as written, in list order.
    const std::vector<std::string>& BadCallEntries() const { return m_badCallEntries; }
    const std::vector<std::string>& BadListenEntries() const { return m_badListenEntries; }

  private:
    struct TCallRule {
        std::uint32_t network;
        std::uint32_t mask;
        std::optional<std::uint16_t> port;  // any port when absent
    };

    std::optional<std::vector<TCallRule>> m_callRules;
    std::optional<std::vector<std::uint16_t>> m_listenPorts;
    std::vector<std::string> m_badCallEntries;
    std::vector<std::string> m_badListenEntries;
};

// "a.b.c.d" for an address with the first octet in its most significant byte.
std::string DottedAddress(std::uint32_t address);
