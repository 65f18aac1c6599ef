// Schema drift between two versions of a dataset, reported as issues.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "data/severity.h"
#include "data/values.h"
#include "error/core_error.h"
#include "parallel/execution.h"

namespace nolt {

enum class DriftCode : std::uint8_t { ColumnAdded, ColumnRemoved, LogicalTypeChanged, NullabilityChanged };

constexpr std::string_view drift_code_name(DriftCode code) {
  switch (code) {
    case DriftCode::ColumnAdded: return "column_added";
    case DriftCode::ColumnRemoved: return "column_removed";
    case DriftCode::LogicalTypeChanged: return "logical_type_changed";
    case DriftCode::NullabilityChanged: return "nullability_changed";
  }
  return "";
}

struct DriftIssue {
  std::string column;
  Severity severity = Severity::Error;
  DriftCode code = DriftCode::ColumnAdded;
  friend bool operator==(const DriftIssue&, const DriftIssue&) = default;
};

struct DriftReport {
  std::vector<DriftIssue> issues;
};

// Prepares the before side, then the after side (equal lengths, then every
// value through numeric_value, the columns of a side over the context's
// threads; the first failing column in column order decides), then detects
// drift.
Result<DriftReport> detect_schema_drift(const std::vector<ColumnInput>& before, const std::vector<ColumnInput>& after,
                                        const ExecutionContext& context = kSerialContext);

}  // namespace nolt
