#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One machine-readable line: a JSON object built field by field.
class TJsonLine {
  public:
    TJsonLine& Add(const std::string& key, const std::string& text);
    TJsonLine& Add(const std::string& key, const char* text) { return Add(key, std::string(text)); }
    TJsonLine& Add(const std::string& key, std::uint64_t number);
    TJsonLine& Add(const std::string& key, double number);
    std::string Text() const { return "{" + m_fields + "}"; }

  private:
    void Key(const std::string& key);
    std::string m_fields;
};

// Durations of repeated exchanges, for their percentiles.
class TSamples {
  public:
    void Add(double milliseconds) { m_values.push_back(milliseconds); }
    std::size_t Count() const { return m_values.size(); }
    // The nearest-rank percentile (0 < percent <= 100); 0 without samples.
    double Percentile(double percent) const;
    // p50, p95 and p99 of the samples, as fields of a report.
    void AddTo(TJsonLine& line) const;

  private:
    std::vector<double> m_values;
};

// What a test run ended with.
struct TReport {
    std::string json;
    bool passed = false;  // completed as asked
};
