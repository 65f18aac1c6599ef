// The Arrow reader: the cells of hand-built arrays, and the arrays it leaves to the adapters.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <tuple>
#include <utility>
#include <string>
#include <vector>

#include "arrow_columns.h"
#include "profiling/total_order.h"

namespace nolt::arrow {
namespace {

// A primitive array of `Value`s with an optional validity byte (rows 0-7).
template <class Value>
struct Fixed {
  std::vector<Value> values;
  std::uint8_t validity = 0xff;
  const void* buffers[2];
  ArrowArray array{};
  ArrowSchema schema{};

  Fixed(const char* format, std::vector<Value> given, std::uint8_t valid_bits = 0xff, std::int64_t offset = 0)
      : values(std::move(given)), validity(valid_bits) {
    buffers[0] = &validity;
    buffers[1] = values.data();
    array.length = static_cast<std::int64_t>(values.size()) - offset;
    array.null_count = valid_bits == 0xff ? 0 : -1;
    array.offset = offset;
    array.n_buffers = 2;
    array.buffers = buffers;
    schema.format = format;
  }
};

// One hand-built array of this format read whole as one chunk.
bool read_array(const char* format, ArrowArray& array, LogicalType declared, ColumnValues& out) {
  const ArrowSchema schema{format, nullptr, nullptr, 0, 0, nullptr, nullptr, nullptr, nullptr};
  const Chunk chunk{&array, 0, array.length};
  return read_column(schema, std::span<const Chunk>(&chunk, 1), declared, out);
}

// The cells as text: "null", integers, floats (shortest form), booleans, 'texts'.
template <class Value>
std::string read(Fixed<Value>& column, LogicalType declared, bool* handled = nullptr) {
  const Chunk chunk{&column.array, 0, column.array.length};
  ColumnValues out;
  const bool ok = read_column(column.schema, std::span<const Chunk>(&chunk, 1), declared, out);
  if (handled != nullptr) *handled = ok;
  std::string text;
  for (const Cell& cell : out) {
    if (!text.empty()) text += ' ';
    switch (cell.kind()) {
      case ValueKind::Null: text += "null"; break;
      case ValueKind::Integer: text += std::to_string(cell.as_integer()); break;
      case ValueKind::Float: text += std::to_string(cell.as_float()); break;
      case ValueKind::Boolean: text += cell.as_boolean() ? "true" : "false"; break;
      case ValueKind::String:
        text += '\'';
        text.append(out.text(cell));
        text += '\'';
        break;
    }
  }
  return text;
}

TEST(ArrowColumns, TimestampsDatesAndTimesAreIsoText) {
  struct Case {
    const char* format;
    std::int64_t value;
    const char* expected;
  };
  const Case cases[] = {
      {"tss:", 0, "'1970-01-01T00:00:00'"},
      {"tsm:", -1, "'1969-12-31T23:59:59.999000'"},
      {"tsu:UTC", 1'600'000'000'123'456, "'2020-09-13T12:26:40.123456+00:00'"},
      {"tsn:Asia/Tokyo", 1'000'000'001, "'1970-01-01T00:00:01.000000001+00:00'"},
      {"tss:", -62'135'596'800, "'0001-01-01T00:00:00'"},
      {"tss:", 253'402'300'799, "'9999-12-31T23:59:59'"},
      {"ttn", 86'399'999'999'000, "'23:59:59.999999'"},
      {"ttu", 3'723'000'000, "'01:02:03'"},
      {"tdm", 951'782'400'000, "'2000-02-29'"},
  };
  for (const Case& test_case : cases) {
    Fixed<std::int64_t> column(test_case.format, {test_case.value});
    EXPECT_EQ(read(column, LogicalType::Datetime), test_case.expected) << test_case.format << " " << test_case.value;
  }
  Fixed<std::int32_t> dates("tdD", {0, -719'162, 2'932'896, 11'016}, 0b1011);
  EXPECT_EQ(read(dates, LogicalType::Unknown), "'1970-01-01' '0001-01-01' null '2000-02-29'");
}

// Read as values, a temporal column is refused exactly where its text is, and
// each value's text is the text the column would hold.
TEST(ArrowColumns, TemporalValuesGiveTheirTextsAndAreRefusedWhereTheTextsAre) {
  struct Case {
    const char* format;
    std::vector<std::int64_t> values;
  };
  const std::vector<Case> cases = {
      {"tss:", {0, -62'135'596'800, 253'402'300'799, 5}},
      {"tss:", {0, -62'135'596'801}},
      {"tss:", {253'402'300'800, 0}},
      {"tsn:UTC", {-1, 1'000'000'001, std::int64_t{1} << 62, 7}},
      {"tsm:Asia/Tokyo", {-1, 0, 86'400'000 * 2'932'896LL + 86'399'999}},
      {"tsu:", {-62'135'596'800'000'001}},
      {"tdm", {951'782'400'000, -86'400'000, 0}},
      {"tdm", {86'400'000, 1}},  // a null's value is never read
      {"tdm", {86'400'000, 0, 1}},
      {"ttn", {0, 0, 86'399'999'999'999}},
      {"ttu", {86'400'000'000}},
      {"ttu", {-1, 5}},
  };
  for (const Case& test_case : cases) {
    Fixed<std::int64_t> column(test_case.format, test_case.values, 0b11111101);  // the second row null
    const Chunk chunk{&column.array, 0, column.array.length};
    const std::span<const Chunk> chunks(&chunk, 1);
    ColumnValues texts;
    ColumnValues values;
    ColumnValues no_cells;
    TypedColumn typed;
    TypedColumn keyed;  // read with the numbers: keys instead of cells
    const bool as_text = read_column(column.schema, chunks, LogicalType::Datetime, texts);
    const bool as_values = read_typed_column(column.schema, chunks, LogicalType::Datetime, values, typed, false);
    const bool as_keys = read_typed_column(column.schema, chunks, LogicalType::Datetime, no_cells, keyed);
    ASSERT_EQ(as_values, as_text) << test_case.format << " " << test_case.values[0];
    ASSERT_EQ(as_keys, as_text) << test_case.format << " " << test_case.values[0];
    if (!as_text) continue;
    ASSERT_EQ(typed.kind, TypedColumn::Kind::Temporal);
    ASSERT_EQ(values.size(), texts.size());
    std::vector<std::uint64_t> keys;
    for (std::size_t row_idx = 0; row_idx < values.size(); ++row_idx) {
      ASSERT_EQ(values[row_idx].is_null(), texts[row_idx].is_null());
      if (values[row_idx].is_null()) continue;
      keys.push_back(integer_order_key(values[row_idx].as_integer()));
      char text[48];
      const std::size_t size = temporal_text(typed.format, values[row_idx].as_integer(), text);
      EXPECT_EQ(std::string_view(text, size), texts.text(texts[row_idx]));
    }
    EXPECT_TRUE(keyed.keys_only && no_cells.size() == 0);
    EXPECT_EQ(std::vector<std::uint64_t>(keyed.numbers.keys.data(), keyed.numbers.keys.data() + keyed.numbers.key_count),
              keys);
    EXPECT_EQ(keyed.numbers.counts.null_count, values.size() - keys.size());
    EXPECT_EQ(keyed.numbers.row_count, values.size());
  }
}

TEST(ArrowColumns, ValuesOutsideWhatTheAdaptersWriteAlikeAreLeftToThem) {
  bool handled = true;
  Fixed<std::int64_t> year_zero("tss:", {-62'135'596'801});
  read(year_zero, LogicalType::Datetime, &handled);
  EXPECT_FALSE(handled);
  Fixed<std::int64_t> off_midnight("tdm", {1});
  read(off_midnight, LogicalType::Datetime, &handled);
  EXPECT_FALSE(handled);
  Fixed<std::uint64_t> past_int64("L", {1, std::uint64_t{1} << 63});
  read(past_int64, LogicalType::Integer, &handled);
  EXPECT_FALSE(handled);
  EXPECT_EQ(read(past_int64, LogicalType::String, &handled), "'1' '9223372036854775808'");
  EXPECT_TRUE(handled);
  Fixed<double> floats("g", {1.5});
  read(floats, LogicalType::String, &handled);  // float text is the adapters' own
  EXPECT_FALSE(handled);
  Fixed<std::int32_t> ints("i", {1});
  read(ints, LogicalType::Float, &handled);  // so is a cast
  EXPECT_FALSE(handled);
}

TEST(ArrowColumns, NumbersBooleansAndNullsKeepTheirValuesAndOffsets) {
  Fixed<std::int8_t> bytes("c", {9, -128, 5, 127}, 0b1101, 1);
  EXPECT_EQ(read(bytes, LogicalType::Integer), "null 5 127");
  Fixed<std::uint16_t> halves("e", {0x3c00, 0xc000, 0x0001, 0x7c00, 0x8000});
  EXPECT_EQ(read(halves, LogicalType::Float), "1.000000 -2.000000 0.000000 inf -0.000000");
  Fixed<std::uint8_t> flags("b", {0b0101}, 0b0111);
  flags.array.length = 4;
  EXPECT_EQ(read(flags, LogicalType::Boolean), "true false true null");
  EXPECT_EQ(read(flags, LogicalType::Categorical), "'true' 'false' 'true' null");
}

TEST(ArrowColumns, TextsViewsAndDictionariesAreText) {
  const std::string data = "abcdé";
  const std::int32_t offsets[] = {0, 1, 3, 3, 6};
  const void* text_buffers[] = {nullptr, offsets, data.data()};
  ArrowArray texts{4, 0, 1, 3, 0, text_buffers, nullptr, nullptr, nullptr, nullptr};
  ArrowSchema text_schema{"u", nullptr, nullptr, 0, 0, nullptr, nullptr, nullptr, nullptr};
  ColumnValues out;
  const Chunk chunk{&texts, 0, 3};
  ASSERT_TRUE(read_column(text_schema, std::span<const Chunk>(&chunk, 1), LogicalType::String, out));
  ASSERT_EQ(out.size(), 3u);
  EXPECT_EQ(out.text(out[0]), "bc");
  EXPECT_EQ(out.text(out[2]), "dé");
  EXPECT_EQ(out.text(out[0]).data(), data.data() + 1);  // read in place

  Fixed<std::int16_t> codes("s", {2, 0, 2, 1}, 0b1101);
  codes.array.dictionary = &texts;
  codes.schema.dictionary = &text_schema;
  texts.offset = 0;
  EXPECT_EQ(read(codes, LogicalType::Categorical), "'' null '' 'bc'");
  codes.values[0] = 7;  // an index past the dictionary
  bool handled = true;
  read(codes, LogicalType::Categorical, &handled);
  EXPECT_FALSE(handled);
}

// Read with the numbers, a dictionary column's rows are tallied per text over
// its chunks (whose dictionaries differ) as its index cells would count them.
TEST(ArrowColumns, DictionaryTalliesCountTheIndexCells) {
  const std::string first_data = "xy";
  const std::int32_t first_offsets[] = {0, 1, 1, 2};
  const std::uint8_t first_valid = 0b101;  // "x", null, "y"
  const void* first_buffers[] = {&first_valid, first_offsets, first_data.data()};
  ArrowArray first_texts{3, 1, 0, 3, 0, first_buffers, nullptr, nullptr, nullptr, nullptr};
  const std::string second_data = "yz";
  const std::int32_t second_offsets[] = {0, 1, 2};
  const void* second_buffers[] = {nullptr, second_offsets, second_data.data()};
  ArrowArray second_texts{2, 0, 0, 3, 0, second_buffers, nullptr, nullptr, nullptr, nullptr};
  ArrowSchema text_schema{"u", nullptr, nullptr, 0, 0, nullptr, nullptr, nullptr, nullptr};
  Fixed<std::int8_t> first("c", {2, 1, 0, 2}, 0b1011);  // "y", a null entry, a null row, "y"
  Fixed<std::int8_t> second("c", {1, 0, 0});            // "z", "y", "y"
  first.array.dictionary = &first_texts;
  second.array.dictionary = &second_texts;
  first.schema.dictionary = &text_schema;
  const Chunk chunks[] = {{&first.array, 0, 4}, {&second.array, 0, 3}};
  ColumnValues cells;
  ColumnValues no_cells;
  TypedColumn indexed;
  TypedColumn tallied;
  ASSERT_TRUE(read_typed_column(first.schema, chunks, LogicalType::Categorical, cells, indexed, false));
  ASSERT_TRUE(read_typed_column(first.schema, chunks, LogicalType::Categorical, no_cells, tallied));
  std::vector<TextTally> expected(indexed.texts.size());
  std::uint64_t nulls = 0;
  for (std::size_t row_idx = 0; row_idx < cells.size(); ++row_idx) {
    if (cells[row_idx].is_null()) {
      ++nulls;
      continue;
    }
    TextTally& tally = expected[static_cast<std::size_t>(cells[row_idx].as_integer())];
    if (tally.count++ == 0) tally.first_row = row_idx;
  }
  EXPECT_EQ(indexed.texts, (std::vector<std::string_view>{"x", "y", "z"}));
  EXPECT_EQ(tallied.texts, indexed.texts);
  EXPECT_TRUE(tallied.keys_only && no_cells.empty());
  ASSERT_EQ(tallied.tallies.size(), expected.size());
  for (std::size_t text_idx = 0; text_idx < expected.size(); ++text_idx) {
    EXPECT_EQ(std::tie(tallied.tallies[text_idx].count, tallied.tallies[text_idx].first_row),
              std::tie(expected[text_idx].count, expected[text_idx].first_row))
        << text_idx;
  }
  EXPECT_EQ(tallied.numbers.counts.null_count, nulls);
  EXPECT_EQ(tallied.numbers.row_count, cells.size());
  EXPECT_EQ(nulls, 2u);
}

// A string view: the length, then the text inline or its first bytes, buffer and offset.
std::array<char, 16> string_view_of(std::int32_t size, std::string_view inline_text, std::int32_t buffer_idx = 0,
                                    std::int32_t offset = 0) {
  std::array<char, 16> view{};
  std::memcpy(view.data(), &size, 4);
  std::memcpy(view.data() + 4, inline_text.data(), std::min<std::size_t>(inline_text.size(), size <= 12 ? 12 : 4));
  if (size > 12) {
    std::memcpy(view.data() + 8, &buffer_idx, 4);
    std::memcpy(view.data() + 12, &offset, 4);
  }
  return view;
}

TEST(ArrowColumns, StringViewsAreReadInPlaceWithinTheirBuffers) {
  const std::string data = "..a text longer than twelve bytes, \xc3\xa9";
  const std::string long_text = data.substr(2);
  const std::int64_t sizes[] = {static_cast<std::int64_t>(data.size())};
  const std::uint8_t validity = 0b1101;
  std::vector<std::array<char, 16>> views = {string_view_of(12, "twelve bytes"), string_view_of(0, ""),
                                             string_view_of(static_cast<std::int32_t>(long_text.size()), long_text, 0, 2),
                                             string_view_of(0, "")};
  const void* buffers[] = {&validity, views.data(), data.data(), sizes};
  ArrowArray array{4, -1, 0, 4, 0, buffers, nullptr, nullptr, nullptr, nullptr};
  ColumnValues out;
  ASSERT_TRUE(read_array("vu", array, LogicalType::String, out));
  ASSERT_EQ(out.size(), 4u);
  EXPECT_EQ(out.text(out[0]), "twelve bytes");
  EXPECT_EQ(out.text(out[0]).data(), views[0].data() + 4);
  EXPECT_TRUE(out[1].is_null());
  EXPECT_EQ(out.text(out[2]), long_text);
  EXPECT_EQ(out.text(out[2]).data(), data.data() + 2);
  EXPECT_EQ(out.text(out[3]), "");

  // A view outside its buffers, of a negative length or of text that is not UTF-8 is left to the adapters.
  const std::string broken = "\xff and more than twelve bytes";
  const std::int64_t broken_sizes[] = {static_cast<std::int64_t>(broken.size())};
  const void* broken_buffers[] = {&validity, views.data(), broken.data(), broken_sizes};
  const std::pair<std::array<char, 16>, const void**> refused_cases[] = {
      {string_view_of(13, "", 1, 0), buffers},
      {string_view_of(13, "", 0, static_cast<std::int32_t>(data.size()) - 12), buffers},
      {string_view_of(-1, ""), buffers},
      {string_view_of(2, "\xc3("), buffers},
      {string_view_of(13, "", 0, 0), broken_buffers}};
  for (const auto& [bad, bad_buffers] : refused_cases) {
    views[0] = bad;
    array.buffers = bad_buffers;
    ColumnValues refused;
    EXPECT_FALSE(read_array("vu", array, LogicalType::String, refused));
  }
}

TEST(ArrowColumns, BuffersAtOddAddressesReadAlike) {
  // Buffers that travelled between processes need not be aligned.
  alignas(8) char storage[64] = {};
  char* const odd = storage + 1;
  const std::int64_t numbers[] = {-3, 1LL << 40};
  std::memcpy(odd, numbers, sizeof numbers);
  const void* number_buffers[] = {nullptr, odd};
  ArrowArray array{2, 0, 0, 2, 0, number_buffers, nullptr, nullptr, nullptr, nullptr};
  for (const auto& [format, declared, expected] :
       {std::tuple{"l", LogicalType::Integer, "-3 1099511627776"}, std::tuple{"tsu:", LogicalType::Datetime,
        "'1969-12-31T23:59:59.999997' '1970-01-13T17:25:11.627776'"}}) {
    ColumnValues out;
    ASSERT_TRUE(read_array(format, array, declared, out));
    std::string text;
    for (const Cell& cell : out) {
      if (!text.empty()) text += ' ';
      if (cell.kind() == ValueKind::Integer) {
        text += std::to_string(cell.as_integer());
      } else {
        text.append(1, '\'').append(out.text(cell)).append(1, '\'');
      }
    }
    EXPECT_EQ(text, expected) << format;
  }
  const std::int64_t offsets[] = {0, 2, 3};
  std::memcpy(odd + 24, offsets, sizeof offsets);
  const void* text_buffers[] = {nullptr, odd + 24, "abc"};
  ArrowArray texts{2, 0, 0, 3, 0, text_buffers, nullptr, nullptr, nullptr, nullptr};
  ColumnValues out;
  ASSERT_TRUE(read_array("U", texts, LogicalType::String, out));
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out.text(out[0]), "ab");
  EXPECT_EQ(out.text(out[1]), "c");
}



// The summary the core makes of the cells, and the one made of the keys read without them.
template <class Value>
void expect_keys_summarize_as_cells(Fixed<Value>& column, LogicalType type) {
  const Chunk chunk{&column.array, 0, column.array.length};
  ColumnValues cells;
  const bool read_cells = read_column(column.schema, std::span<const Chunk>(&chunk, 1), type, cells);
  ColumnValues unused;
  TypedColumn typed;
  ASSERT_EQ(read_typed_column(column.schema, std::span<const Chunk>(&chunk, 1), type, unused, typed), read_cells);
  if (!read_cells) return;
  EXPECT_TRUE(unused.empty());
  NumberKeys& numbers = typed.numbers;
  EXPECT_EQ(numbers.row_count, cells.size());
  if (type == LogicalType::Boolean) {
    ASSERT_EQ(typed.kind, TypedColumn::Kind::Boolean);
    std::uint64_t trues = 0, falses = 0, nulls = 0;
    for (const Cell& cell : cells) {
      if (cell.is_null()) {
        ++nulls;
        continue;
      }
      if (trues + falses == 0) {
        EXPECT_EQ(numbers.first_true, cell.as_boolean());
      }
      (cell.as_boolean() ? trues : falses) += 1;
    }
    EXPECT_EQ(std::tie(numbers.true_count, numbers.false_count, numbers.counts.null_count),
              std::tie(trues, falses, nulls));
    return;
  }
  ASSERT_EQ(typed.kind, TypedColumn::Kind::Number);
  // Keys read later (all but unsigned 64-bit columns) are read as the profile reads them.
  EXPECT_EQ(typed.keys_deferred, std::string_view(column.schema.format) != "L");
  std::vector<std::uint64_t> later(numbers.row_count);
  if (typed.keys_deferred) {
    ASSERT_TRUE(read_number_keys(typed, later.data()));
  }
  const auto expected = summarize_numeric_column("c", type, cells);
  std::vector<std::uint64_t> scratch(numbers.key_count);
  const std::span<std::uint64_t> keys(numbers.key_data(), numbers.key_count);
  const auto summary = type == LogicalType::Integer
                           ? summarize_numeric_keys(keys, scratch, {}, {}, numbers.counts, kSerialContext)
                           : summarize_numeric_keys({}, {}, keys, scratch, numbers.counts, kSerialContext);
  ASSERT_TRUE(expected.ok() && summary.ok());
  EXPECT_EQ(std::tie(summary->unique_count, summary->null_count), std::tie(expected->unique_count, expected->null_count));
  const NumberCounts& got = summary->counts;
  const NumberCounts& want = expected->counts;
  EXPECT_EQ(std::tie(got.nan_count, got.positive_infinity_count, got.negative_infinity_count, got.zero_count,
                     got.negative_count),
            std::tie(want.nan_count, want.positive_infinity_count, want.negative_infinity_count, want.zero_count,
                     want.negative_count));
  ASSERT_EQ(summary->stats.has_value(), expected->stats.has_value());
  if (!summary->stats) return;
  const NumericStats& a = *summary->stats;
  const NumericStats& b = *expected->stats;
  for (auto [lhs, rhs] : {std::pair{a.min, b.min}, {a.max, b.max}, {a.mean, b.mean}, {a.p25, b.p25}, {a.median, b.median},
                          {a.p75, b.p75}}) {
    EXPECT_EQ(std::bit_cast<std::uint64_t>(lhs), std::bit_cast<std::uint64_t>(rhs));
  }
}

TEST(ArrowColumns, NumbersAndBooleansReadAsKeysSummarizeAsTheirCells) {
  Fixed<std::int8_t> bytes("c", {9, -128, 5, 127, 0, 5}, 0b110101, 1);
  expect_keys_summarize_as_cells(bytes, LogicalType::Integer);
  Fixed<std::uint64_t> fits("L", {1, (std::uint64_t{1} << 63) - 1, 0});
  expect_keys_summarize_as_cells(fits, LogicalType::Integer);
  for (const std::uint8_t valid_bits : {0b11, 0b01}) {  // refused, unless the big one is null
    Fixed<std::uint64_t> past_int64("L", {1, std::uint64_t{1} << 63}, valid_bits);
    expect_keys_summarize_as_cells(past_int64, LogicalType::Integer);
  }
  Fixed<std::uint16_t> halves("e", {0x3c00, 0xc000, 0x0001, 0x7c00, 0x8000, 0x7e01, 0xfc00, 0x0000}, 0b11111110);
  expect_keys_summarize_as_cells(halves, LogicalType::Float);
  Fixed<float> singles("f", {0.1f, -0.0f, 0.0f, 3e38f, -1e-45f});
  expect_keys_summarize_as_cells(singles, LogicalType::Float);
  Fixed<double> doubles("g", {std::nan(""), 1e308, -1e308, 2.5, -0.0, 0.0, 2.5});
  expect_keys_summarize_as_cells(doubles, LogicalType::Float);
  Fixed<double> nulls("g", {1.0, 2.0}, 0b00);
  expect_keys_summarize_as_cells(nulls, LogicalType::Float);
  Fixed<std::uint8_t> flags("b", {0b10110100, 0b011}, 0xff, 0);
  flags.array.offset = 2;
  flags.array.length = 9;  // rows 2 to 10: a partial byte at either end
  expect_keys_summarize_as_cells(flags, LogicalType::Boolean);
  Fixed<std::uint8_t> some_null("b", {0b10110100}, 0b11001010, 1);
  some_null.array.length = 7;
  expect_keys_summarize_as_cells(some_null, LogicalType::Boolean);
}

}  // namespace
}  // namespace nolt::arrow
