#include "base/StringKeyValueParser.h"

TStringKeyValueParser::TStringKeyValueParser(const std::string& line) : m_line(line) {}

bool TStringKeyValueParser::IsSectionName() const {
    return m_line.size() > 2 && m_line[0] == '[' && m_line.find(']') != std::string::npos;
}

bool TStringKeyValueParser::IsSectionNameMatched(const std::string& name) const {
    return m_line.starts_with("[" + name + "]");
}

bool TStringKeyValueParser::IsKeyMatched(const std::string& key) {
    if (m_line.size() <= key.size() || !m_line.starts_with(key)) {
        return false;
    }
    const char separator = m_line[key.size()];
    if (separator != '=' && separator != ':') {
        return false;
    }
    m_valueStart = m_line.find_first_not_of(cDelims, key.size() + 1);
    m_listCursor = m_valueStart;
    return true;
}

std::string TStringKeyValueParser::GetValue() const {
    return m_valueStart == std::string::npos ? std::string() : m_line.substr(m_valueStart);
}

std::string TStringKeyValueParser::GetFirstValueFromList() {
    m_listCursor = m_valueStart;
    return GetNextValueFromList();
}

std::string TStringKeyValueParser::GetNextValueFromList() {
    if (m_listCursor == std::string::npos) {
        return std::string();
    }
    const std::string::size_type delimiter = m_line.find_first_of(cDelims, m_listCursor);
    std::string item = m_line.substr(m_listCursor, delimiter - m_listCursor);
    m_listCursor = delimiter == std::string::npos ? std::string::npos
                                                  : m_line.find_first_not_of(cDelims, delimiter);
    return item;
}

TPlainStringParser::TPlainStringParser(const std::string& text) : TStringKeyValueParser(text) {
    m_valueStart = 0;
    m_listCursor = 0;
}
