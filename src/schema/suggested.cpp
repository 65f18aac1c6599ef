#include "schema/suggested.h"

namespace nolt {

namespace {

std::vector<SuggestedValue> to_suggested_values(const std::vector<ObservedValue>& observed) {
  std::vector<SuggestedValue> allowed;
  allowed.reserve(observed.size());
  for (const ObservedValue& value : observed) {
    if (const std::string* text = std::get_if<std::string>(&value)) {
      allowed.emplace_back(std::in_place_type<std::string>, *text);
    } else {
      allowed.emplace_back(std::in_place_type<bool>, std::get<bool>(value));
    }
  }
  return allowed;
}

}  // namespace

SuggestedDatasetSchema derive_suggested_schema(const std::vector<ObservedColumnSchema>& observed_columns) {
  SuggestedDatasetSchema schema;
  schema.columns.reserve(observed_columns.size());
  for (const ObservedColumnSchema& observed : observed_columns) {
    SuggestedColumnSchema& column = schema.columns.emplace_back();
    column.name = observed.name;
    column.logical_type = observed.logical_type;
    column.nullable = observed.observed_nullable;
    // The observed range describes this data only; it is never demanded of future data.
    if (observed.logical_type == LogicalType::Categorical && observed.observed_values &&
        !observed.observed_values->empty()) {
      column.constraints.allowed_values = to_suggested_values(*observed.observed_values);
    }
  }
  return schema;
}

}  // namespace nolt
