#include "typed_columns.h"

#include <algorithm>
#include <limits>
#include <string_view>
#include <utility>

#include "common/utf8.h"

namespace nolt::engine {
namespace {

using arrow::TypedColumn;

// A temporal column's text grows with its value: the smallest value is the
// earliest instant and the only cell showing it; every text is valid ISO 8601
// of the one kind the column's type writes.
DatetimeDetails temporal_details(const ColumnValues& values, const TypedColumn& typed, DetailTexts& texts) {
  std::int64_t low = std::numeric_limits<std::int64_t>::max();
  std::int64_t high = std::numeric_limits<std::int64_t>::min();
  std::uint64_t count = 0;
  for (const Cell& cell : values) {
    if (cell.is_null()) continue;
    const std::int64_t value = cell.as_integer();
    low = value < low ? value : low;
    high = value > high ? value : high;
    ++count;
  }
  DatetimeDetails details;
  switch (arrow::temporal_moment_kind(typed.format)) {
    case MomentKind::Naive: details.naive_count = count; break;
    case MomentKind::Aware: details.aware_count = count; break;
    case MomentKind::TimeOfDay: details.time_count = count; break;
  }
  if (count > 0) {
    details.earliest = std::string_view(texts.earliest.data(), arrow::temporal_text(typed.format, low, texts.earliest.data()));
    details.latest = std::string_view(texts.latest.data(), arrow::temporal_text(typed.format, high, texts.latest.data()));
  }
  return details;
}

// How often a dictionary text occurs and where it first does.
struct Tally {
  std::uint64_t count = 0;
  std::uint64_t first_row = 0;
  std::size_t text_idx = 0;
};

// Every cell is a text of the dictionary: lengths over the texts that occur,
// the top values by falling count, then first appearance.
TextDetails dictionary_details(const ColumnValues& values, const TypedColumn& typed) {
  std::vector<Tally> tallies(typed.texts.size());
  for (std::size_t row_idx = 0; row_idx < values.size(); ++row_idx) {
    const Cell& cell = values[row_idx];
    if (cell.is_null()) continue;
    Tally& tally = tallies[static_cast<std::size_t>(cell.as_integer())];
    if (tally.count++ == 0) tally.first_row = row_idx;
  }
  TextDetails details;
  std::vector<Tally> present;
  for (std::size_t text_idx = 0; text_idx < tallies.size(); ++text_idx) {
    if (tallies[text_idx].count == 0) continue;
    tallies[text_idx].text_idx = text_idx;
    present.push_back(tallies[text_idx]);
    const std::uint64_t length = utf8_code_point_count(typed.texts[text_idx]);
    details.min_length = std::min(details.min_length.value_or(length), length);
    details.max_length = std::max(details.max_length.value_or(length), length);
  }
  const std::size_t top_count = std::min(present.size(), kTopValueCount);
  std::partial_sort(present.begin(), present.begin() + static_cast<std::ptrdiff_t>(top_count), present.end(),
                    [](const Tally& lhs, const Tally& rhs) {
                      return lhs.count != rhs.count ? lhs.count > rhs.count : lhs.first_row < rhs.first_row;
                    });
  for (std::size_t top_idx = 0; top_idx < top_count; ++top_idx) {
    const std::string_view text = typed.texts[present[top_idx].text_idx];
    details.top_values.push_back(TopValue{FoundValue{Cell::text(0, text.size()), text}, present[top_idx].count});
  }
  return details;
}

ColumnDetails typed_column_details(const ColumnInput& column, const TypedColumn& typed, const ColumnProfile& profile,
                                   DetailTexts& texts) {
  if (typed.kind == TypedColumn::Kind::None || column.logical_type == LogicalType::Unknown) {
    return column_details(column, profile);
  }
  if (typed.kind == TypedColumn::Kind::Temporal) return temporal_details(column.values, typed, texts);
  return dictionary_details(column.values, typed);
}

// Each text of a dictionary column at its first appearance, in row order,
// until `distinct` texts are found.
ColumnValues first_appearances(const ColumnValues& values, const TypedColumn& typed, std::uint64_t distinct) {
  ColumnValues firsts;
  std::vector<char> seen(typed.texts.size(), 0);
  for (const Cell& cell : values) {
    if (firsts.size() == distinct) break;
    if (cell.is_null()) continue;
    const auto text_idx = static_cast<std::size_t>(cell.as_integer());
    if (seen[text_idx] != 0) continue;
    seen[text_idx] = 1;
    firsts.push_text(typed.texts[text_idx]);
  }
  return firsts;
}

}  // namespace

Result<std::vector<ColumnDetails>> typed_profile_details(const EngineColumns& input, const DatasetProfile& profile,
                                                         std::vector<DetailTexts>& texts,
                                                         const ExecutionContext& context) {
  const std::vector<ColumnInput>& columns = input.columns;
  std::vector<ColumnDetails> details(columns.size());
  NOLT_TRY(run_until_failure(context, columns.size(), [&](std::size_t column_idx) -> Status {
    details[column_idx] = typed_column_details(columns[column_idx], input.typed[column_idx],
                                               profile.columns[column_idx], texts[column_idx]);
    return Status();
  }));
  return details;
}

Result<TypedObservation> observe_typed_columns(EngineColumns& input, const ExecutionContext& context) {
  std::vector<ColumnInput>& columns = input.columns;
  NOLT_ASSIGN_OR_RETURN(const std::uint64_t row_count, check_equal_lengths(columns));
  NOLT_ASSIGN_OR_RETURN(DatasetProfile profile, profile_columns(columns, row_count, context));
  // The observed values of a string or categorical column are its distinct
  // texts in the order of their first appearance, which is all they read.
  for (std::size_t column_idx = 0; column_idx < columns.size(); ++column_idx) {
    ColumnInput& column = columns[column_idx];
    const std::uint64_t distinct = profile.columns[column_idx].unique_count;
    if (input.typed[column_idx].kind != TypedColumn::Kind::Dictionary || distinct > kObservedValuesLimit ||
        (column.logical_type != LogicalType::String && column.logical_type != LogicalType::Categorical)) {
      continue;
    }
    column.values = first_appearances(column.values, input.typed[column_idx], distinct);
  }
  NOLT_ASSIGN_OR_RETURN(ObservedDatasetSchema observed, derive_observed_schema(profile, columns, context));
  return TypedObservation{std::move(profile), std::move(observed)};
}

}  // namespace nolt::engine
