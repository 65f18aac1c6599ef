// The suggested schema: what a validator should demand of future data.
#pragma once

#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "data/values.h"
#include "schema/observed.h"

namespace nolt {

// The two alternatives in their fixed order: string, then boolean.
using SuggestedValue = std::variant<std::string, bool>;

struct SuggestedNumericRange {
  std::optional<double> min;
  std::optional<double> max;
  friend bool operator==(const SuggestedNumericRange&, const SuggestedNumericRange&) = default;
};

struct SuggestedConstraints {
  std::optional<SuggestedNumericRange> numeric_range;
  std::optional<std::vector<SuggestedValue>> allowed_values;
  friend bool operator==(const SuggestedConstraints&, const SuggestedConstraints&) = default;
};

struct SuggestedColumnSchema {
  std::string name;
  LogicalType logical_type = LogicalType::Unknown;
  bool nullable = false;
  SuggestedConstraints constraints;
  friend bool operator==(const SuggestedColumnSchema&, const SuggestedColumnSchema&) = default;
};

struct SuggestedDatasetSchema {
  std::vector<SuggestedColumnSchema> columns;
  friend bool operator==(const SuggestedDatasetSchema&, const SuggestedDatasetSchema&) = default;
};

SuggestedDatasetSchema derive_suggested_schema(const std::vector<ObservedColumnSchema>& observed_columns);

}  // namespace nolt
