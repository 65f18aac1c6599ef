#include "schema/observed.h"

#include <string_view>
#include <utility>

#include "common/hashing.h"

namespace nolt {

namespace {

std::vector<ObservedValue> collect_booleans(const ColumnValues& values) {
  std::vector<ObservedValue> observed;
  bool seen_false = false;
  bool seen_true = false;
  for (const Cell& cell : values) {
    if (cell.kind() != ValueKind::Boolean) continue;
    const bool value = cell.as_boolean();
    bool& seen = value ? seen_true : seen_false;
    if (seen) continue;
    seen = true;
    observed.emplace_back(value);
    if (seen_false && seen_true) break;  // both values found; nothing more can appear
  }
  return observed;
}

Result<std::vector<ObservedValue>> collect_texts(const ColumnValues& values, std::uint64_t unique_count,
                                                 const ExecutionContext& context) {
  std::vector<ObservedValue> observed;
  // The limit check above keeps unique_count small, so this never over-reserves.
  observed.reserve(static_cast<std::size_t>(unique_count));
  // Texts are keyed by views into the column's arena, so nothing is copied
  // until a distinct text is appended to the owned list.
  TextViewSet seen;
  seen.reserve(static_cast<std::size_t>(unique_count));
  const std::size_t row_count = values.size();
  for (std::size_t row_idx = 0; row_idx < row_count; ++row_idx) {
    if (row_idx % kInterruptStride == 0 && row_idx != 0) NOLT_TRY(context.check());
    const Cell& cell = values[row_idx];
    if (cell.kind() != ValueKind::String) continue;
    const std::string_view text = values.text(cell);
    if (!seen.insert(text).second) continue;
    observed.emplace_back(std::in_place_type<std::string>, text);
    // The distinct count covers every kind, so once as many texts are listed
    // no later cell can bring a new one: a 20-level column of a million rows
    // is read only up to the row where its last level first appears.
    if (observed.size() == unique_count) break;
  }
  return observed;
}

Result<std::optional<std::vector<ObservedValue>>> observed_values_of(LogicalType type, const ColumnValues& values,
                                                                     std::uint64_t unique_count,
                                                                     const ExecutionContext& context) {
  switch (type) {
    case LogicalType::Boolean:
      return std::optional<std::vector<ObservedValue>>(collect_booleans(values));
    case LogicalType::String:
    case LogicalType::Categorical: {
      if (unique_count > kObservedValuesLimit) break;
      NOLT_ASSIGN_OR_RETURN(std::vector<ObservedValue> texts, collect_texts(values, unique_count, context));
      return std::optional<std::vector<ObservedValue>>(std::move(texts));
    }
    case LogicalType::Integer:
    case LogicalType::Float:
    case LogicalType::Datetime:
    case LogicalType::Unknown:
      break;
  }
  return std::optional<std::vector<ObservedValue>>();
}

}  // namespace

std::optional<std::vector<ObservedValue>> collect_observed_values(LogicalType type, const ColumnValues& values,
                                                                   std::uint64_t unique_count) {
  // The serial context is never interrupted, so collecting cannot fail.
  return observed_values_of(type, values, unique_count, kSerialContext).value();
}

Result<ObservedDatasetSchema> derive_observed_schema(const DatasetProfile& profile,
                                                     const std::vector<ColumnInput>& columns,
                                                     const ExecutionContext& context) {
  if (profile.columns.size() != columns.size()) {
    return CoreError::value_error(str_cat("Observed schema input has ", columns.size(), " columns; profile has ",
                                          profile.columns.size()));
  }
  // Every pair must match before any column is built.
  for (std::size_t column_idx = 0; column_idx < columns.size(); ++column_idx) {
    const ColumnInput& input = columns[column_idx];
    const ColumnProfile& column_profile = profile.columns[column_idx];
    if (input.name != column_profile.name) {
      return CoreError::value_error(str_cat("Column ", column_idx, " is named '", input.name,
                                            "' in the input but '", column_profile.name, "' in the profile"));
    }
    if (input.logical_type != column_profile.logical_type) {
      return CoreError::type_error(str_cat("Column '", input.name, "' has logical type ",
                                           logical_type_name(input.logical_type), " in the input; expected ",
                                           logical_type_name(column_profile.logical_type)));
    }
  }

  ObservedDatasetSchema schema;
  schema.row_count = profile.row_count;
  schema.columns.resize(columns.size());
  NOLT_TRY(run_until_failure(context, columns.size(), [&](std::size_t column_idx) -> Status {
    const ColumnProfile& column_profile = profile.columns[column_idx];
    NOLT_ASSIGN_OR_RETURN(std::optional<std::vector<ObservedValue>> observed_values,
                          observed_values_of(column_profile.logical_type, columns[column_idx].values,
                                             column_profile.unique_count, context));
    // The distinct count covers every kind of non-null cell; a list that
    // misses some of them would silently under-report the column.
    if (observed_values && observed_values->size() != column_profile.unique_count) {
      return CoreError::value_error(str_cat("Column '", column_profile.name, "' produced ",
                                            observed_values->size(), " observed values; expected ",
                                            column_profile.unique_count));
    }
    ObservedColumnSchema& column = schema.columns[column_idx];
    column.name = column_profile.name;
    column.logical_type = column_profile.logical_type;
    column.observed_nullable = column_profile.null_count != 0;
    column.observed_unique_count = column_profile.unique_count;
    if (column_profile.numeric_stats) {
      column.observed_range = ObservedRange{column_profile.numeric_stats->min, column_profile.numeric_stats->max};
    }
    column.observed_values = std::move(observed_values);
    return Status();
  }));
  return schema;
}

Result<ObservedDatasetSchema> observe_columns(const std::vector<ColumnInput>& columns,
                                              const ExecutionContext& context) {
  NOLT_ASSIGN_OR_RETURN(const std::uint64_t row_count, check_equal_lengths(columns));
  NOLT_ASSIGN_OR_RETURN(DatasetProfile profile, profile_columns(columns, row_count, context));
  return derive_observed_schema(profile, columns, context);
}

}  // namespace nolt
