#include <gtest/gtest.h>

#include <atomic>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/hashing.h"
#include "compare/drift.h"
#include "parallel/execution.h"
#include "profiling/profile.h"
#include "schema/observed.h"
#include "schema/suggested.h"
#include "validation/engine.h"

namespace nolt {
namespace {

// --- the thread pool ---

TEST(ExecutorTest, RunsEveryTaskOnceNestedOrNot) {
  for (std::size_t thread_count : {1u, 2u, 5u}) {
    Executor executor(thread_count);
    std::vector<std::atomic<int>> runs(1000);
    executor.parallel_for(40, [&](std::size_t outer_idx) {
      executor.parallel_for(25, [&](std::size_t inner_idx) { ++runs[outer_idx * 25 + inner_idx]; });
    });
    for (const auto& count : runs) EXPECT_EQ(count.load(), 1) << thread_count << " threads";
    EXPECT_THROW(executor.parallel_for(10, [](std::size_t task_idx) {
      if (task_idx == 7) throw std::runtime_error("task 7");
    }), std::runtime_error);
  }
  EXPECT_GE(Executor::usable_cpu_count(), 1u);
}

TEST(ExecutorTest, LowestFailingTaskDecides) {
  Executor executor(4);
  for (const ExecutionContext& context : {kSerialContext, ExecutionContext{&executor, nullptr}}) {
    Status status = run_until_failure(context, 100, [](std::size_t task_idx) -> Status {
      if (task_idx == 37 || task_idx == 90) return CoreError::value_error(str_cat("task ", task_idx));
      return Status();
    });
    ASSERT_FALSE(status.ok());
    EXPECT_EQ(status.error().message(), "task 37");
  }
}

// --- the same results for every thread count ---

ColumnInput make_column(std::string name, LogicalType type) {
  ColumnInput column;
  column.name = std::move(name);
  column.logical_type = type;
  return column;
}

// Texts whose hashes share their top byte: they all fall into one partition
// of the distinct count, past the room it plans for one.
std::vector<std::string> colliding_texts(std::size_t count) {
  std::vector<std::string> texts;
  for (std::uint64_t candidate = 0; texts.size() < count; ++candidate) {
    std::string text = std::to_string(candidate);
    text.push_back('k');
    if (hash_text(text) >> 56 == 0) texts.push_back(std::move(text));
  }
  return texts;
}

// Columns of every kind over enough rows for the split sorts and counts:
// nulls, NaN payloads, zeros of both signs, infinities, duplicates, integers
// that share a double, kinds mixed in one column.
std::vector<ColumnInput> random_dataset(std::size_t rows, std::uint64_t seed) {
  std::mt19937_64 rng(seed);
  const double specials[] = {0.0, -0.0, std::bit_cast<double>(0x7FF8000000000000ULL),
                             std::bit_cast<double>(0xFFF0000000000001ULL), std::numeric_limits<double>::infinity(),
                             -std::numeric_limits<double>::infinity(), 1.5, -1.5};
  std::vector<ColumnInput> columns;
  columns.push_back(make_column("wide_integers", LogicalType::Integer));
  columns.push_back(make_column("narrow_integers", LogicalType::Integer));
  columns.push_back(make_column("floats", LogicalType::Float));
  columns.push_back(make_column("floats_and_integers", LogicalType::Float));
  columns.push_back(make_column("flags", LogicalType::Boolean));
  columns.push_back(make_column("levels", LogicalType::Categorical));
  columns.push_back(make_column("ids", LogicalType::String));
  columns.push_back(make_column("colliding", LogicalType::String));
  columns.push_back(make_column("anything", LogicalType::Unknown));
  const std::vector<std::string> colliding = colliding_texts(rows / 4);
  for (std::size_t row_idx = 0; row_idx < rows; ++row_idx) {
    const std::uint64_t draw = rng();
    const bool null = draw % 23 == 0;
    const auto small = static_cast<std::int64_t>(draw % 1000) - 500;
    auto push = [&](ColumnValues& values, auto&& push_value) {
      if (null) {
        values.push_null();
      } else {
        push_value(values);
      }
    };
    push(columns[0].values, [&](ColumnValues& values) {
      values.push_integer((std::int64_t{1} << 60) + static_cast<std::int64_t>(rng() % 100000));
    });
    push(columns[1].values, [&](ColumnValues& values) { values.push_integer(small); });
    push(columns[2].values, [&](ColumnValues& values) {
      values.push_float(draw % 11 == 1 ? specials[(draw >> 8) % std::size(specials)]
                                       : std::bit_cast<double>(rng() & 0x3FFFFFFFFFFFFFFFULL) - 1.0);
    });
    push(columns[3].values, [&](ColumnValues& values) {
      if (draw % 3 == 0) {
        values.push_integer(small);
      } else {
        values.push_float(static_cast<double>(small) / 4.0);
      }
    });
    push(columns[4].values, [&](ColumnValues& values) { values.push_boolean((draw >> 20) % 2 == 0); });
    push(columns[5].values, [&](ColumnValues& values) { values.push_text(std::to_string(draw % 20) + "_level"); });
    push(columns[6].values, [&](ColumnValues& values) { values.push_text(std::to_string(rng() % (rows * 2)) + "-id"); });
    push(columns[7].values, [&](ColumnValues& values) { values.push_text(colliding[rng() % colliding.size()]); });
    push(columns[8].values, [&](ColumnValues& values) {
      switch (draw % 5) {
        case 0: values.push_integer(small); break;
        case 1: values.push_float(static_cast<double>(small)); break;
        case 2: values.push_boolean(draw % 2 == 0); break;
        default: values.push_text(std::to_string(small)); break;
      }
    });
  }
  return columns;
}

std::uint64_t bits_of(double value) { return std::bit_cast<std::uint64_t>(value); }

void expect_same_profiles(const DatasetProfile& actual, const DatasetProfile& expected, const std::string& where) {
  EXPECT_EQ(actual.row_count, expected.row_count) << where;
  ASSERT_EQ(actual.columns.size(), expected.columns.size()) << where;
  for (std::size_t column_idx = 0; column_idx < expected.columns.size(); ++column_idx) {
    const ColumnProfile& lhs = actual.columns[column_idx];
    const ColumnProfile& rhs = expected.columns[column_idx];
    const std::string column = where + ", column " + rhs.name;
    EXPECT_EQ(lhs.name, rhs.name) << column;
    EXPECT_EQ(lhs.logical_type, rhs.logical_type) << column;
    EXPECT_EQ(lhs.count, rhs.count) << column;
    EXPECT_EQ(lhs.null_count, rhs.null_count) << column;
    EXPECT_EQ(lhs.unique_count, rhs.unique_count) << column;
    ASSERT_EQ(lhs.numeric_stats.has_value(), rhs.numeric_stats.has_value()) << column;
    if (!rhs.numeric_stats) continue;
    const NumericStats& a = *lhs.numeric_stats;
    const NumericStats& b = *rhs.numeric_stats;
    for (auto [x, y] : {std::pair{a.min, b.min}, std::pair{a.max, b.max}, std::pair{a.mean, b.mean},
                        std::pair{a.median, b.median}, std::pair{a.p25, b.p25}, std::pair{a.p50, b.p50},
                        std::pair{a.p75, b.p75}}) {
      EXPECT_EQ(bits_of(x), bits_of(y)) << column;
    }
  }
}

void expect_same_observed(const ObservedDatasetSchema& actual, const ObservedDatasetSchema& expected,
                          const std::string& where) {
  ASSERT_EQ(actual.columns.size(), expected.columns.size()) << where;
  for (std::size_t column_idx = 0; column_idx < expected.columns.size(); ++column_idx) {
    const ObservedColumnSchema& lhs = actual.columns[column_idx];
    const ObservedColumnSchema& rhs = expected.columns[column_idx];
    EXPECT_EQ(lhs.observed_nullable, rhs.observed_nullable) << where;
    EXPECT_EQ(lhs.observed_unique_count, rhs.observed_unique_count) << where;
    EXPECT_EQ(lhs.observed_range.has_value(), rhs.observed_range.has_value()) << where;
    EXPECT_EQ(lhs.observed_values, rhs.observed_values) << where;
  }
}

TEST(ParallelTest, ResultsAreTheSameForEveryThreadCount) {
  const std::vector<ColumnInput> columns = random_dataset(150000, 18);
  const std::vector<ColumnInput> after = random_dataset(1000, 19);
  auto serial_profile = profile_dataset_columns(columns);
  ASSERT_TRUE(serial_profile.ok());
  auto serial_observed = observe_columns(columns);
  ASSERT_TRUE(serial_observed.ok());
  std::vector<SuggestedColumnSchema> schema = derive_suggested_schema(serial_observed->columns).columns;
  // Ranges a little narrower than the data, so some columns break them.
  for (SuggestedColumnSchema& schema_column : schema) {
    if (is_numeric(schema_column.logical_type)) schema_column.constraints.numeric_range = SuggestedNumericRange{-400.0, 1e300};
  }
  const std::vector<ValidationIssue> serial_issues = validate_against_schema(columns, schema);
  auto serial_drift = detect_schema_drift(columns, after);
  ASSERT_TRUE(serial_drift.ok());
  EXPECT_FALSE(serial_issues.empty());

  for (std::size_t thread_count = 1; thread_count <= 8; ++thread_count) {
    Executor executor(thread_count);
    const ExecutionContext context{&executor, nullptr};
    const std::string where = std::to_string(thread_count) + " threads";
    auto profile = profile_dataset_columns(columns, context);
    ASSERT_TRUE(profile.ok()) << where;
    expect_same_profiles(*profile, *serial_profile, where);
    // One column at a time: its sort and its distinct count are split.
    for (std::size_t column_idx = 0; column_idx < columns.size(); ++column_idx) {
      const std::vector<ColumnInput> one{columns[column_idx]};
      auto column_profile = profile_dataset_columns(one, context);
      ASSERT_TRUE(column_profile.ok()) << where;
      DatasetProfile expected{serial_profile->row_count, {serial_profile->columns[column_idx]}};
      expect_same_profiles(*column_profile, expected, where + ", alone");
    }
    auto observed = observe_columns(columns, context);
    ASSERT_TRUE(observed.ok()) << where;
    expect_same_observed(*observed, *serial_observed, where);
    auto issues = validate_against_schema(columns, schema, context);
    ASSERT_TRUE(issues.ok()) << where;
    EXPECT_EQ(*issues, serial_issues) << where;
    auto drift = detect_schema_drift(columns, after, context);
    ASSERT_TRUE(drift.ok()) << where;
    EXPECT_EQ(drift->issues, serial_drift->issues) << where;
  }
}

TEST(ParallelTest, FirstFailingColumnWinsOnAnyThreadCount) {
  std::vector<ColumnInput> columns = random_dataset(2000, 5);
  for (std::size_t column_idx : {2u, 6u}) {
    columns[column_idx].logical_type = LogicalType::Integer;  // floats, then texts: both refused
  }
  for (std::size_t thread_count : {1u, 2u, 8u}) {
    Executor executor(thread_count);
    auto profile = profile_dataset_columns(columns, ExecutionContext{&executor, nullptr});
    ASSERT_FALSE(profile.ok());
    EXPECT_EQ(profile.error().message(), "Column 'floats' expected integer values but received Float");
  }
}

// --- interrupts ---

// Fails from its `allowed + 1`-th check on, so once one computation has
// failed every later one fails at its first check.
class CountingInterrupt final : public Interrupt {
 public:
  explicit CountingInterrupt(int allowed) : allowed_(allowed) {}
  Status check() const override {
    if (checks_.fetch_add(1) < allowed_) return Status();
    return CoreError::value_error("interrupted");
  }
  int checks() const { return checks_.load(); }

 private:
  int allowed_;
  mutable std::atomic<int> checks_{0};
};

TEST(ParallelTest, AnInterruptEndsEveryComputation) {
  const std::vector<ColumnInput> columns = random_dataset(3000, 7);
  const std::vector<SuggestedColumnSchema> schema =
      derive_suggested_schema(observe_columns(columns)->columns).columns;
  Executor executor(2);
  for (Executor* pool : {static_cast<Executor*>(nullptr), &executor}) {
    for (int allowed : {0, 3}) {
      CountingInterrupt interrupt(allowed);
      const ExecutionContext context{pool, &interrupt};
      auto profile = profile_dataset_columns(columns, context);
      auto observed = observe_columns(columns, context);
      auto issues = validate_against_schema(columns, schema, context);
      auto drift = detect_schema_drift(columns, columns, context);
      for (const std::string& message : {profile.ok() ? std::string() : profile.error().message(),
                                         observed.ok() ? std::string() : observed.error().message(),
                                         issues.ok() ? std::string() : issues.error().message(),
                                         drift.ok() ? std::string() : drift.error().message()}) {
        EXPECT_EQ(message, "interrupted") << "allowed " << allowed;
      }
      EXPECT_GT(interrupt.checks(), allowed);
    }
  }
}

}  // namespace
}  // namespace nolt
