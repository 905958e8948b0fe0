#include "tunnel-load/Report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

void TJsonLine::Key(const std::string& key) {
    if (!m_fields.empty()) {
        m_fields += ',';
    }
    m_fields += '"' + key + "\":";
}

TJsonLine& TJsonLine::Add(const std::string& key, const std::string& text) {
    Key(key);
    m_fields += '"' + text + '"';  // our own words only: nothing to escape
    return *this;
}

TJsonLine& TJsonLine::Add(const std::string& key, std::uint64_t number) {
    Key(key);
    m_fields += std::to_string(number);
    return *this;
}

TJsonLine& TJsonLine::Add(const std::string& key, double number) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", number);
    Key(key);
    m_fields += text;
    return *this;
}

double TSamples::Percentile(double percent) const {
    if (m_values.empty()) {
        return 0;
    }
    std::vector<double> sorted = m_values;
    std::sort(sorted.begin(), sorted.end());
    const auto rank = static_cast<std::size_t>(std::ceil(percent / 100 * sorted.size()));
    return sorted[std::clamp<std::size_t>(rank, 1, sorted.size()) - 1];
}

void TSamples::AddTo(TJsonLine& line) const {
    line.Add("p50_ms", Percentile(50)).Add("p95_ms", Percentile(95)).Add("p99_ms", Percentile(99));
}
