// The core's kernels timed on columns built in C++ (no interpreter), best of
// N wall times, printed as Markdown tables:
//
//   1. the exact sorts of 64-bit keys at 10^4 .. 10^7 keys: the byte-wise
//      LSD radix sort the profile used before, two 11-bit radix passes (only
//      for narrow key ranges), Highway's vectorised sort, and the dispatch
//      that picks among them (KeySorter);
//   2. the profile of single columns of each kind and of all five together,
//      on 1 and on 2 threads (thread scaling of the parallel paths: columns
//      spread, a large sort split, a distinct count split by hash).
//
// Build with -DNOLT_BUILD_BENCH=ON; run `nolt_core_bench [rows] [repeats]`.
#include <algorithm>
#include <array>
#include <bit>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "parallel/execution.h"
#include "profiling/profile.h"
#include "profiling/total_order.h"
#include "validation/engine.h"

namespace nolt {
namespace {

double best_seconds(int repeats, const std::function<void()>& work) {
  double best = 1e30;
  for (int repeat_idx = 0; repeat_idx < repeats; ++repeat_idx) {
    const auto start = std::chrono::steady_clock::now();
    work();
    best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  return best;
}

// The byte-wise LSD radix sort the statistics used before: eight passes,
// those where every key has the same byte skipped.
void byte_radix_sort(std::span<std::uint64_t> keys, std::span<std::uint64_t> scratch) {
  std::uint64_t all_and = ~std::uint64_t{0};
  std::uint64_t all_or = 0;
  for (const std::uint64_t key : keys) {
    all_and &= key;
    all_or |= key;
  }
  std::uint64_t* source = keys.data();
  std::uint64_t* target = scratch.data();
  for (unsigned shift = 0; shift < 64; shift += 8) {
    if ((((all_and ^ all_or) >> shift) & 0xFF) == 0) continue;
    std::array<std::size_t, 257> counts{};
    for (std::size_t key_idx = 0; key_idx < keys.size(); ++key_idx) ++counts[((source[key_idx] >> shift) & 0xFF) + 1];
    for (std::size_t bucket_idx = 0; bucket_idx < 256; ++bucket_idx) counts[bucket_idx + 1] += counts[bucket_idx];
    for (std::size_t key_idx = 0; key_idx < keys.size(); ++key_idx) {
      target[counts[(source[key_idx] >> shift) & 0xFF]++] = source[key_idx];
    }
    std::swap(source, target);
  }
  if (source != keys.data()) std::copy(source, source + keys.size(), keys.data());
}

void sort_table(int repeats) {
  std::printf("### Sorting 64-bit keys exactly (ns per key)\n\n");
  std::printf("| keys | data | byte radix (before) | 11-bit radix passes | vectorised sort | dispatch |\n");
  std::printf("|---:|---|---:|---:|---:|---:|\n");
  std::mt19937_64 rng(1);
  const KeySorter sorter;
  for (std::size_t count : {10'000u, 100'000u, 1'000'000u, 10'000'000u}) {
    std::normal_distribution<double> normal(0.0, 1000.0);
    const char* const kinds[] = {"normal doubles", "integers +-10^12", "integers 0..2^20"};
    for (std::size_t kind_idx = 0; kind_idx < std::size(kinds); ++kind_idx) {
      const char* data = kinds[kind_idx];
      std::vector<std::uint64_t> keys(count);
      for (std::uint64_t& key : keys) {
        switch (kind_idx) {
          case 0: key = order_key(normal(rng)); break;
          case 1: key = integer_order_key(static_cast<std::int64_t>(rng() % 2'000'000'000'000) - 1'000'000'000'000); break;
          default: key = integer_order_key(static_cast<std::int64_t>(rng() % (1u << 20))); break;
        }
      }
      const auto [low, high] = std::minmax_element(keys.begin(), keys.end());
      const std::uint64_t min_key = *low;
      const auto bits = static_cast<unsigned>(std::bit_width(*high - *low));
      std::vector<std::uint64_t> work(count);
      std::vector<std::uint64_t> scratch(count);
      const int runs = count >= 10'000'000 ? std::max(2, repeats / 3) : repeats;
      auto time = [&](auto&& sort) {
        const double copy = best_seconds(runs, [&] { std::copy(keys.begin(), keys.end(), work.begin()); });
        const double total = best_seconds(runs, [&] {
          std::copy(keys.begin(), keys.end(), work.begin());
          sort();
        });
        return (total - copy) * 1e9 / static_cast<double>(count);
      };
      const double byte_radix = time([&] { byte_radix_sort(work, scratch); });
      std::string narrow = "-";
      if (bits <= 33) {
        char text[32];
        std::snprintf(text, sizeof text, "%.2f", time([&] { radix_sort_keys(work, scratch, min_key, bits); }));
        narrow = text;
      }
      const double vectorised = time([&] { sorter.sort(work, {}); });
      const double dispatch = time([&] { sorter.sort(work, scratch); });
      std::printf("| %zu | %s | %.2f | %s | %.2f | %.2f |\n", count, data, byte_radix, narrow.c_str(), vectorised,
                  dispatch);
    }
  }
  std::printf("\n");
}

ColumnInput make_column(const std::string& kind, std::size_t rows, std::uint64_t seed) {
  std::mt19937_64 rng(seed);
  ColumnInput column;
  column.name = kind;
  column.values.reserve(rows);
  if (kind == "integers") {
    column.logical_type = LogicalType::Integer;
    for (std::size_t row_idx = 0; row_idx < rows; ++row_idx) {
      column.values.push_integer(static_cast<std::int64_t>(rng() % 2'000'000'000'000) - 1'000'000'000'000);
    }
  } else if (kind == "floats") {
    column.logical_type = LogicalType::Float;
    std::normal_distribution<double> draw(0.0, 1000.0);
    for (std::size_t row_idx = 0; row_idx < rows; ++row_idx) {
      if (rng() % 20 == 0) {
        column.values.push_null();
      } else {
        column.values.push_float(draw(rng));
      }
    }
  } else if (kind == "booleans") {
    column.logical_type = LogicalType::Boolean;
    for (std::size_t row_idx = 0; row_idx < rows; ++row_idx) column.values.push_boolean(rng() % 2 == 0);
  } else if (kind == "categorical") {
    column.logical_type = LogicalType::Categorical;
    char text[16];
    for (std::size_t row_idx = 0; row_idx < rows; ++row_idx) {
      std::snprintf(text, sizeof text, "segment_%02d", static_cast<int>(rng() % 20));
      column.values.push_text(text);
    }
  } else {
    column.logical_type = LogicalType::String;
    std::vector<std::uint32_t> order(rows);
    for (std::size_t row_idx = 0; row_idx < rows; ++row_idx) order[row_idx] = static_cast<std::uint32_t>(row_idx);
    std::shuffle(order.begin(), order.end(), rng);
    char text[24];
    for (std::size_t row_idx = 0; row_idx < rows; ++row_idx) {
      std::snprintf(text, sizeof text, "id-%09u", order[row_idx]);
      column.values.push_text(text);
    }
  }
  return column;
}

void scaling_table(std::size_t rows, int repeats) {
  std::vector<ColumnInput> all;
  for (const char* kind : {"integers", "floats", "booleans", "categorical", "unique ids"}) {
    all.push_back(make_column(kind, rows, 42));
  }
  Executor one_thread(1);
  Executor two_threads(2);
  const ExecutionContext contexts[] = {{&one_thread, nullptr}, {&two_threads, nullptr}};
  std::printf("### Profile on 1 and 2 threads, %zu rows (ms; ns per cell on 1 thread)\n\n", rows);
  std::printf("| columns | parallel path | 1 thread | ns/cell | 2 threads | speed-up |\n");
  std::printf("|---|---|---:|---:|---:|---:|\n");
  auto row = [&](const std::string& label, const char* path, const std::vector<ColumnInput>& columns,
                 const std::function<void(const ExecutionContext&)>& work) {
    double seconds[2];
    for (int context_idx = 0; context_idx < 2; ++context_idx) {
      seconds[context_idx] = best_seconds(repeats, [&] { work(contexts[context_idx]); });
    }
    const double cells = static_cast<double>(rows * columns.size());
    std::printf("| %s | %s | %.2f | %.2f | %.2f | %.2fx |\n", label.c_str(), path, seconds[0] * 1e3,
                seconds[0] * 1e9 / cells, seconds[1] * 1e3, seconds[0] / seconds[1]);
  };
  const char* paths[] = {"split sort", "split sort", "split count", "split count (tables merged)",
                         "hash partitions"};
  for (std::size_t column_idx = 0; column_idx < all.size(); ++column_idx) {
    const std::vector<ColumnInput> one{all[column_idx]};
    row(all[column_idx].name, paths[column_idx], one,
        [&](const ExecutionContext& context) { (void)profile_columns(one, rows, context); });
  }
  row("all five", "columns spread", all, [&](const ExecutionContext& context) { (void)profile_columns(all, rows, context); });
  std::vector<SuggestedColumnSchema> schema;
  for (const ColumnInput& column : all) {
    SuggestedColumnSchema& schema_column = schema.emplace_back();
    schema_column.name = column.name;
    schema_column.logical_type = column.logical_type;
    if (is_numeric(column.logical_type)) schema_column.constraints.numeric_range = SuggestedNumericRange{-1e300, 1e300};
    if (column.logical_type == LogicalType::Categorical) {
      schema_column.constraints.allowed_values = std::vector<SuggestedValue>{std::string("segment_00")};
    }
  }
  row("all five, validated", "columns spread", all,
      [&](const ExecutionContext& context) { (void)validate_against_schema(all, schema, context); });
  std::printf("\n");
}

}  // namespace
}  // namespace nolt

int main(int argc, char** argv) {
  const std::size_t rows = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1'000'000;
  const int repeats = argc > 2 ? std::atoi(argv[2]) : 7;
  std::printf("Best of %d; %zu CPUs usable.\n\n", repeats, nolt::Executor::usable_cpu_count());
  nolt::sort_table(repeats);
  nolt::scaling_table(rows, repeats);
  return 0;
}
