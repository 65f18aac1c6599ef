// How serious a reported finding is, shared by validation and drift reports.
#pragma once

#include <cstdint>
#include <string_view>

namespace nolt {

enum class Severity : std::uint8_t { Warning, Error };

constexpr std::string_view severity_name(Severity severity) {
  return severity == Severity::Warning ? "warning" : "error";
}

struct SeverityCounts {
  std::uint64_t warnings = 0;
  std::uint64_t errors = 0;
};

// How many of the issues (records with a `severity`) are warnings and errors.
template <class Issues>
SeverityCounts count_severities(const Issues& issues) noexcept {
  SeverityCounts counts;
  for (const auto& issue : issues) (issue.severity == Severity::Warning ? counts.warnings : counts.errors) += 1;
  return counts;
}

}  // namespace nolt
