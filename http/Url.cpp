#include "http/Url.h"

#include <optional>

#include "base/Conversions.h"

namespace {

// The value of a decimal field of 1 to maxDigits digits that is at most
// maxValue; nothing for any other text. Fields with other characters are
// refused rather than folded into a number, so that "80 " or "1.2.3.a"
// never turn into a port or address the user did not write.
std::optional<std::uint32_t> DecimalField(const std::string& text, std::size_t maxDigits,
                                          std::uint32_t maxValue) {
    if (text.empty() || text.size() > maxDigits || !ContainsOnlyDigits(text)) {
        return std::nullopt;
    }
    const auto value = static_cast<std::uint32_t>(IntFromStdString(text));
    if (value > maxValue) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

TUrl::TUrl(const std::string& url, unsigned short defaultPort) {
    Parse(url, defaultPort);
}

TUrl::TUrl(std::uint32_t address, unsigned short port, const std::string& document)
    : m_address(address), m_port(port), m_document(document) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        if (!m_host.empty()) {
            m_host += '.';
        }
        m_host += IntToStdString((m_address >> shift) & 0xFF, 0);
    }
}

void TUrl::Clear() {
    m_address = 0;
    m_port = 0;
    m_protocol.clear();
    m_host.clear();
    m_document.clear();
}

void TUrl::Parse(const std::string& url, unsigned short defaultPort) {
    Clear();

    std::size_t hostStart = 0;
    const std::size_t marker = url.find(cUrlProtocolMarker);
    if (marker != std::string::npos) {
        m_protocol = url.substr(0, marker);
        hostStart = marker + std::char_traits<char>::length(cUrlProtocolMarker);
    }

    std::size_t hostEnd = url.size();
    const std::size_t slash = url.find('/', hostStart);
    if (slash != std::string::npos) {
        m_document = url.substr(slash + 1);
        hostEnd = slash;
    }

    // The colon is searched in the whole rest of the text: one that stands
    // in the document spoils the host.
    const std::size_t colon = url.find(':', hostStart);
    if (colon == std::string::npos) {
        m_port = defaultPort;
        m_host = url.substr(hostStart, hostEnd - hostStart);
    } else {
        if (colon >= hostEnd) {
            return;
        }
        const auto portValue = DecimalField(url.substr(colon + 1, hostEnd - colon - 1), 5, 65535);
        if (!portValue) {
            return;
        }
        m_port = static_cast<unsigned short>(*portValue);
        m_host = url.substr(hostStart, colon - hostStart);
    }
    ParseHost();
}

void TUrl::ParseHost() {
    std::uint32_t dotted = 0;
    std::size_t fieldStart = 0;
    for (int field = 0; field < 4; ++field) {
        const std::size_t dot = m_host.find('.', fieldStart);
        if ((field < 3) == (dot == std::string::npos)) {
            return;  // not exactly four fields
        }
        const std::size_t fieldEnd = field < 3 ? dot : m_host.size();
        const auto value = DecimalField(m_host.substr(fieldStart, fieldEnd - fieldStart), 3, 255);
        if (!value) {
            return;
        }
        dotted = dotted << 8 | *value;
        fieldStart = fieldEnd + 1;
    }
    m_address = dotted;
}

std::string TUrl::GetFullUrl() const {
    std::string url = m_host + ":" + IntToStdString(m_port, 0);
    if (!m_protocol.empty()) {
        url = m_protocol + cUrlProtocolMarker + url;
    }
    if (!m_document.empty()) {
        url += "/" + m_document;
    }
    return url;
}

bool TUrl::IsValidSymbolicAddress() const {
    return !m_host.empty() && m_port != 0;
}
