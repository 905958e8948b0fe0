#pragma once

#include <cstdint>
#include <string>

// Separates the protocol name from the rest of a URL.
inline constexpr char cUrlProtocolMarker[] = "://";

// A URL split into protocol, host, port and document. A host written as a
// dotted IPv4 address is also kept as a number (first octet in the most
// significant byte); any other host is a name for whoever connects to
// resolve. Parsing never fails loudly: a text that does not fit leaves the
// host empty and the port 0, which IsValidSymbolicAddress reports.
class TUrl {
  public:
    TUrl() = default;
    TUrl(const std::string& url, unsigned short defaultPort);
    TUrl(std::uint32_t address, unsigned short port, const std::string& document);

    void Clear();
    void Parse(const std::string& url, unsigned short defaultPort);
    // Sets the address when the host is a dotted IPv4 address; otherwise
    // leaves it as it is.
    void ParseHost();

    // protocol://host:port/document; the port is always written, the
    // protocol and document only when present.
    std::string GetFullUrl() const;

    std::uint32_t GetAddr() const { return m_address; }
    unsigned short GetPort() const { return m_port; }
    std::string GetHost() const { return m_host; }
    std::string GetDoc() const { return m_document; }
    std::string GetProtocol() const { return m_protocol; }

    // A host to connect to and a port: enough for a connection attempt.
    bool IsValidSymbolicAddress() const;

  private:
    std::uint32_t m_address = 0;
    unsigned short m_port = 0;
    std::string m_protocol;
    std::string m_host;
    std::string m_document;
};
