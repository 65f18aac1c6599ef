// How serious a reported finding is, shared by validation and drift reports.
#pragma once

#include <cstdint>
#include <string_view>

namespace nolt {

enum class Severity : std::uint8_t { Warning, Error };

constexpr std::string_view severity_name(Severity severity) {
  return severity == Severity::Warning ? "warning" : "error";
}

}  // namespace nolt
