#include "typed_columns.h"

#include <algorithm>
#include <string_view>
#include <utility>

#include "common/utf8.h"
#include "memory/page_advice.h"
#include "profiling/total_order.h"

namespace nolt::engine {
namespace {

using arrow::TypedColumn;

bool is_typed(const TypedColumn& typed) noexcept { return typed.kind != TypedColumn::Kind::None; }

// A temporal column's keys sorted where they are: their runs are its distinct
// values (a value's text is a function of it that tells values apart), its
// ends the earliest and latest instants.
Status profile_temporal(arrow::NumberKeys& numbers, ColumnProfile& profile, TypedSummary& summary,
                        ColumnWorkspace& workspace, const ExecutionContext& context) {
  const std::size_t count = numbers.key_count;
  std::uint64_t* keys = numbers.key_data();
  profile.null_count = numbers.counts.null_count;
  workspace.reserve(count);
  if (count == 0) return Status();
  NOLT_ASSIGN_OR_RETURN(const std::span<std::uint64_t> sorted,
                        sort_keys(std::span<std::uint64_t>(keys, count),
                                  std::span<std::uint64_t>(workspace.second(), count), context));
  std::uint64_t distinct = 1;
  for (std::size_t key_idx = 1; key_idx < count; ++key_idx) distinct += sorted[key_idx] != sorted[key_idx - 1];
  profile.unique_count = distinct;
  summary.low = integer_from_order_key(sorted.front());
  summary.high = integer_from_order_key(sorted.back());
  return Status();
}

// A dictionary column, tallied as it was read: the texts that occur are its
// distinct values (each text has one index).
void profile_dictionary(TypedColumn& typed, ColumnProfile& profile, TypedSummary& summary) {
  std::vector<TextTally>& tallies = summary.tallies;
  tallies = std::move(typed.tallies);
  profile.null_count = typed.numbers.counts.null_count;
  profile.unique_count = static_cast<std::uint64_t>(
      std::count_if(tallies.begin(), tallies.end(), [](const TextTally& tally) { return tally.count != 0; }));
}

// The indexes of the texts that occur, by first appearance.
std::vector<std::size_t> texts_by_first_row(const std::vector<TextTally>& tallies) {
  std::vector<std::size_t> present;
  for (std::size_t text_idx = 0; text_idx < tallies.size(); ++text_idx) {
    if (tallies[text_idx].count != 0) present.push_back(text_idx);
  }
  std::sort(present.begin(), present.end(),
            [&](std::size_t lhs, std::size_t rhs) { return tallies[lhs].first_row < tallies[rhs].first_row; });
  return present;
}

// Every text is valid ISO 8601 of the one kind the column's type writes.
DatetimeDetails temporal_details(const TypedColumn& typed, const ColumnProfile& profile, const TypedSummary& summary,
                                 DetailTexts& texts) {
  const std::uint64_t count = profile.count - profile.null_count;
  DatetimeDetails details;
  switch (arrow::temporal_moment_kind(typed.format)) {
    case MomentKind::Naive: details.naive_count = count; break;
    case MomentKind::Aware: details.aware_count = count; break;
    case MomentKind::TimeOfDay: details.time_count = count; break;
  }
  if (count > 0) {
    details.earliest =
        std::string_view(texts.earliest.data(), arrow::temporal_text(typed.format, summary.low, texts.earliest.data()));
    details.latest =
        std::string_view(texts.latest.data(), arrow::temporal_text(typed.format, summary.high, texts.latest.data()));
  }
  return details;
}

// Lengths over the texts that occur; the top values by falling count, then
// first appearance.
TextDetails dictionary_details(const TypedColumn& typed, const TypedSummary& summary) {
  const std::vector<TextTally>& tallies = summary.tallies;
  std::vector<std::size_t> present = texts_by_first_row(tallies);
  TextDetails details;
  for (const std::size_t text_idx : present) {
    const std::uint64_t length = utf8_code_point_count(typed.texts[text_idx]);
    details.min_length = std::min(details.min_length.value_or(length), length);
    details.max_length = std::max(details.max_length.value_or(length), length);
  }
  const std::size_t top_count = std::min(present.size(), kTopValueCount);
  std::stable_sort(present.begin(), present.end(),
                   [&](std::size_t lhs, std::size_t rhs) { return tallies[lhs].count > tallies[rhs].count; });
  for (std::size_t top_idx = 0; top_idx < top_count; ++top_idx) {
    const std::string_view text = typed.texts[present[top_idx]];
    details.top_values.push_back(TopValue{FoundValue{Cell::text(0, text.size()), text}, tallies[present[top_idx]].count});
  }
  return details;
}

// A number column's profile from its keys, which the sort consumes. Keys
// whose reading was deferred are read here, into the workspace, whose memory
// the thread's next columns reuse.
Status profile_numbers(TypedColumn& typed, LogicalType type, ColumnProfile& profile, TypedSummary& summary,
                       ColumnWorkspace& workspace, const ExecutionContext& context) {
  arrow::NumberKeys& numbers = typed.numbers;
  workspace.reserve(typed.keys_deferred ? numbers.row_count : numbers.key_count);
  if (typed.keys_deferred && !arrow::read_number_keys(typed, workspace.first())) {
    return CoreError::value_error(str_cat("column '", profile.name, "' could not be read from its Arrow data"));
  }
  // The keys are sorted where they are; their scratch is the workspace's.
  const std::span<std::uint64_t> keys(numbers.key_data(), numbers.key_count);
  const std::span<std::uint64_t> scratch(workspace.second(), numbers.key_count);
  const bool integers = type == LogicalType::Integer;
  NOLT_ASSIGN_OR_RETURN(NumericSummary numeric,
                        integers ? summarize_numeric_keys(keys, scratch, {}, {}, numbers.counts, context)
                                 : summarize_numeric_keys({}, {}, keys, scratch, numbers.counts, context));
  profile.null_count = numeric.null_count;
  profile.unique_count = numeric.unique_count;
  profile.numeric_stats = numeric.stats;
  summary.numbers = numeric.counts;
  return Status();
}

void profile_booleans(const TypedColumn& typed, ColumnProfile& profile) {
  const arrow::NumberKeys& numbers = typed.numbers;
  profile.null_count = numbers.counts.null_count;
  profile.unique_count = (numbers.true_count != 0 ? 1 : 0) + (numbers.false_count != 0 ? 1 : 0);
}

// What each column costs, as column_cost counts it: the typed columns' work
// left after reading.
std::uint64_t typed_cost(const TypedColumn& typed) noexcept {
  switch (typed.kind) {
    case TypedColumn::Kind::Temporal: return 8 * typed.numbers.key_count;
    case TypedColumn::Kind::Number: return 8 * typed.numbers.row_count;  // its keys may be read later
    case TypedColumn::Kind::Dictionary: return typed.tallies.size();
    case TypedColumn::Kind::Boolean:
    case TypedColumn::Kind::None: break;
  }
  return 1;
}

std::uint64_t row_count_of(const ColumnInput& column, const TypedColumn& typed) noexcept {
  return typed.keys_only ? typed.numbers.row_count : column.values.size();
}

// check_equal_lengths over columns of either form.
Result<std::uint64_t> typed_row_count(const EngineColumns& input) {
  return check_equal_lengths(input.columns, [&](std::size_t column_idx) {
    return row_count_of(input.columns[column_idx], input.typed[column_idx]);
  });
}

// The typed columns profiled by the engine in the core's schedule of
// profile_plain(columns, row_count, caller), which profiles the others.
template <class ProfilePlain>
Result<TypedProfile> profile_typed(EngineColumns& input, ProfilePlain&& profile_plain) {
  const std::vector<ColumnInput>& columns = input.columns;
  NOLT_ASSIGN_OR_RETURN(const std::uint64_t row_count, typed_row_count(input));
  std::vector<TypedSummary> summaries(columns.size());
  CallerColumns caller;
  caller.owned.resize(columns.size());
  caller.costs.resize(columns.size());
  for (std::size_t column_idx = 0; column_idx < columns.size(); ++column_idx) {
    caller.owned[column_idx] = is_typed(input.typed[column_idx]) ? 1 : 0;
    caller.costs[column_idx] = typed_cost(input.typed[column_idx]);
  }
  caller.profile = [&](std::size_t column_idx, ColumnWorkspace& workspace, const ExecutionContext& column_context,
                       ColumnProfile& profile) -> Status {
    TypedColumn& typed = input.typed[column_idx];
    TypedSummary& summary = summaries[column_idx];
    switch (typed.kind) {
      case TypedColumn::Kind::Temporal:
        return profile_temporal(typed.numbers, profile, summary, workspace, column_context);
      case TypedColumn::Kind::Dictionary:
        profile_dictionary(typed, profile, summary);
        return Status();
      case TypedColumn::Kind::Number:
        return profile_numbers(typed, columns[column_idx].logical_type, profile, summary, workspace, column_context);
      case TypedColumn::Kind::Boolean: profile_booleans(typed, profile); return Status();
      case TypedColumn::Kind::None: break;
    }
    return Status();
  };
  NOLT_ASSIGN_OR_RETURN(DatasetProfile plain, profile_plain(columns, row_count, caller));
  return TypedProfile{std::move(plain), std::move(summaries)};
}

}  // namespace

Result<TypedProfile> profile_typed_columns(EngineColumns& input, const ExecutionContext& context) {
  return profile_typed(input,
                       [&](const std::vector<ColumnInput>& columns, std::uint64_t row_count,
                           const CallerColumns& caller) { return profile_columns(columns, row_count, context, &caller); });
}

Result<ProfileWithDetails> profile_typed_columns_with_details(EngineColumns& input, std::vector<DetailTexts>& texts,
                                                              const ExecutionContext& context) {
  // The other columns' details come with their profile; a typed column's
  // (computed there as of an empty column) from what profiling it learnt.
  std::vector<ColumnDetails> details;
  NOLT_ASSIGN_OR_RETURN(
      TypedProfile profiled,
      profile_typed(input,
                    [&](const std::vector<ColumnInput>& columns, std::uint64_t row_count,
                        const CallerColumns& caller) -> Result<DatasetProfile> {
        NOLT_ASSIGN_OR_RETURN(ProfileWithDetails both,
                              profile_columns_with_details(columns, row_count, context, &caller));
        details = std::move(both.details);
        return std::move(both.profile);
      }));
  texts.resize(input.columns.size());
  for (std::size_t column_idx = 0; column_idx < input.columns.size(); ++column_idx) {
    const TypedColumn& typed = input.typed[column_idx];
    const ColumnProfile& column_profile = profiled.profile.columns[column_idx];
    if (!is_typed(typed) || column_profile.logical_type == LogicalType::Unknown) continue;
    switch (typed.kind) {
      case TypedColumn::Kind::Temporal:
        details[column_idx] = temporal_details(typed, column_profile, profiled.summaries[column_idx], texts[column_idx]);
        break;
      case TypedColumn::Kind::Dictionary: details[column_idx] = dictionary_details(typed, profiled.summaries[column_idx]); break;
      case TypedColumn::Kind::Number: details[column_idx] = profiled.summaries[column_idx].numbers; break;
      case TypedColumn::Kind::Boolean:
        details[column_idx] = BooleanDetails{typed.numbers.true_count, typed.numbers.false_count};
        break;
      case TypedColumn::Kind::None: break;
    }
  }
  return ProfileWithDetails{std::move(profiled.profile), std::move(details)};
}

Result<TypedObservation> observe_typed_columns(EngineColumns& input, const ExecutionContext& context) {
  NOLT_ASSIGN_OR_RETURN(TypedProfile profiled, profile_typed_columns(input, context));
  // The observed values of a string or categorical column are its distinct
  // texts in the order of their first appearance, which is all they read.
  for (std::size_t column_idx = 0; column_idx < input.columns.size(); ++column_idx) {
    ColumnInput& column = input.columns[column_idx];
    const arrow::NumberKeys& numbers = input.typed[column_idx].numbers;
    if (input.typed[column_idx].kind == TypedColumn::Kind::Boolean) {
      // A boolean column's observed values are its values by first appearance.
      ColumnValues firsts;
      if (numbers.true_count + numbers.false_count != 0) firsts.push_boolean(numbers.first_true);
      if (numbers.true_count != 0 && numbers.false_count != 0) firsts.push_boolean(!numbers.first_true);
      column.values = std::move(firsts);
      continue;
    }
    if (input.typed[column_idx].kind != TypedColumn::Kind::Dictionary ||
        profiled.profile.columns[column_idx].unique_count > kObservedValuesLimit ||
        (column.logical_type != LogicalType::String && column.logical_type != LogicalType::Categorical)) {
      continue;
    }
    ColumnValues firsts;
    for (const std::size_t text_idx : texts_by_first_row(profiled.summaries[column_idx].tallies)) {
      firsts.push_text(input.typed[column_idx].texts[text_idx]);
    }
    column.values = std::move(firsts);
  }
  NOLT_ASSIGN_OR_RETURN(ObservedDatasetSchema observed, derive_observed_schema(profiled.profile, input.columns, context));
  return TypedObservation{std::move(profiled.profile), std::move(observed)};
}

}  // namespace nolt::engine
