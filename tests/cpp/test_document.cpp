#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "persistence/document.h"
#include "persistence/json_text.h"

namespace nolt {
namespace {

std::string decode_outcome(std::string_view text) {
  auto result = decode_schema_document(text);
  if (result.ok()) return "ok";
  EXPECT_EQ(result.error().kind(), CoreErrorKind::ValueError);
  return result.error().message();
}

// A document whose single column (given on line 2, from column 0) varies.
std::string with_column(std::string_view column) {
  return str_cat("{\"format_version\":1,\"schema\":{\"columns\":[\n", column, "]}}");
}

// A column whose constraints object (on line 2, from column 0) varies.
std::string with_constraints(std::string_view constraints) {
  return str_cat("{\"format_version\":1,\"schema\":{\"columns\":[{\"name\":\"a\",\"logical_type\":\"integer\","
                 "\"nullable\":true,\"constraints\":\n",
                 constraints, "}]}}");
}

// A single allowed value (on line 3, from column 0).
std::string with_value(std::string_view value) {
  return with_constraints(str_cat("{\"allowed_values\":[\n", value, "]}"));
}

struct ReaderCase {
  const char* label;
  std::string input;
  std::string expected;
};

void PrintTo(const ReaderCase& reader_case, std::ostream* out) { *out << reader_case.label; }

class ReaderCases : public ::testing::TestWithParam<ReaderCase> {};

TEST_P(ReaderCases, MessageAndPosition) {
  EXPECT_EQ(decode_outcome(GetParam().input), GetParam().expected) << GetParam().input;
}

INSTANTIATE_TEST_SUITE_P(
    Syntax, ReaderCases,
    ::testing::Values(
        ReaderCase{"empty", "", "EOF while parsing a value at line 1 column 0"},
        ReaderCase{"only_whitespace", " \n\t\r\n  ", "EOF while parsing a value at line 3 column 2"},
        ReaderCase{"byte_order_mark", "\xEF\xBB\xBF{}", "expected value at line 1 column 1"},
        ReaderCase{"open_brace", "{", "EOF while parsing an object at line 1 column 1"},
        ReaderCase{"key_then_end", "{\"format_version\"", "EOF while parsing an object at line 1 column 17"},
        ReaderCase{"missing_colon", "{\"format_version\" 1}", "expected `:` at line 1 column 19"},
        ReaderCase{"missing_comma", "{\"format_version\":1 \"schema\"", "expected `,` or `}` at line 1 column 21"},
        ReaderCase{"object_trailing_comma", "{\"format_version\":1,}", "trailing comma at line 1 column 21"},
        ReaderCase{"end_after_comma", "{\"format_version\":1,", "EOF while parsing a value at line 1 column 20"},
        ReaderCase{"end_after_colon", "{\"format_version\":", "EOF while parsing a value at line 1 column 18"},
        ReaderCase{"number_key", "{1:2}", "key must be a string at line 1 column 2"},
        ReaderCase{"key_without_quote", "{'a':1}", "expected `\"` at line 1 column 2"},
        ReaderCase{"misspelt_true", "{\"format_version\":tru}", "expected ident at line 1 column 22"},
        ReaderCase{"truncated_null", "{\"format_version\":nu", "EOF while parsing a value at line 1 column 20"},
        ReaderCase{"no_value", "{\"format_version\":x}", "expected value at line 1 column 19"},
        ReaderCase{"leading_zero", "{\"format_version\":01}", "invalid number at line 1 column 20"},
        ReaderCase{"bare_point", "{\"format_version\":1.}", "invalid number at line 1 column 21"},
        ReaderCase{"point_then_end", "{\"format_version\":1.", "EOF while parsing a value at line 1 column 20"},
        ReaderCase{"bare_minus", "{\"format_version\":-}", "invalid number at line 1 column 20"},
        ReaderCase{"bare_exponent", "{\"format_version\":1e}", "invalid number at line 1 column 21"},
        ReaderCase{"plus_sign", "{\"format_version\":+1}", "expected value at line 1 column 19"},
        ReaderCase{"huge_number", "{\"format_version\":1e400}", "number out of range at line 1 column 23"},
        ReaderCase{"huge_integer_digits", str_cat("{\"format_version\":", std::string(400, '9'), "}"),
                   "number out of range at line 1 column 418"},
        ReaderCase{"unterminated_string", "{\"format_version", "EOF while parsing a string at line 1 column 16"},
        ReaderCase{"control_in_string", "{\"format\x01version\"", "control character (\\u0000-\\u001F) found "
                                                                 "while parsing a string at line 1 column 9"},
        ReaderCase{"raw_line_feed_in_string", "{\"a\nb\"", "control character (\\u0000-\\u001F) found while "
                                                            "parsing a string at line 2 column 0"},
        ReaderCase{"invalid_escape", "{\"\\q\"", "invalid escape at line 1 column 4"},
        ReaderCase{"end_in_escape", "{\"\\", "EOF while parsing a string at line 1 column 3"},
        ReaderCase{"short_hex_escape", "{\"\\u12\"}", "unexpected end of hex escape at line 1 column 7"},
        ReaderCase{"hex_escape_at_end", "{\"\\u00", "EOF while parsing a string at line 1 column 6"},
        ReaderCase{"lone_trailing_surrogate", "{\"\\uDC00\"", "invalid unicode code point at line 1 column 8"},
        ReaderCase{"unpaired_leading_surrogate", "{\"\\uD800x\"",
                   "lone leading surrogate in hex escape at line 1 column 9"},
        ReaderCase{"leading_surrogate_then_letter", "{\"\\uD800\\u0041\"",
                   "lone leading surrogate in hex escape at line 1 column 14"},
        ReaderCase{"leading_surrogate_then_escape", "{\"\\uD800\\n\"",
                   "lone leading surrogate in hex escape at line 1 column 10"},
        ReaderCase{"invalid_utf8_in_string", "{\"a\xFF\"", "invalid unicode code point at line 1 column 5"},
        ReaderCase{"trailing_characters", str_cat(with_column(""), "\n x"), "trailing characters at line 3 column 2"},
        ReaderCase{"trailing_whitespace", str_cat(with_column(""), " \r\n\t "), "ok"},
        ReaderCase{"crlf_layout", "{\r\n  \"format_version\": 1,\r\n  \"schema\": {\"columns\": []}\r\n}", "ok"},
        ReaderCase{"crlf_position", "{\r\n  \"format_version\": true\r\n}",
                   "invalid type: boolean `true`, expected u32 at line 2 column 24"},
        ReaderCase{"multi_line_position", "{\n  \"format_version\": 1,\n  \"schema\": {\n    \"columns\": 7\n",
                   "invalid type: integer `7`, expected a sequence at line 4 column 16"}));

INSTANTIATE_TEST_SUITE_P(
    Root, ReaderCases,
    ::testing::Values(
        ReaderCase{"integer_root", "5", "invalid type: integer `5`, expected struct PersistedSuggestedSchema at line 1 column 1"},
        ReaderCase{"string_root", " \"x\"",
                   "invalid type: string \"x\", expected struct PersistedSuggestedSchema at line 1 column 4"},
        ReaderCase{"missing_schema", "{\"format_version\":1}", "missing field `schema` at line 1 column 20"},
        ReaderCase{"missing_version", "{\"schema\":{\"columns\":[]}}", "missing field `format_version` at line 1 column 25"},
        ReaderCase{"missing_both", "{\n}", "missing field `format_version` at line 2 column 1"},
        ReaderCase{"duplicate_version", "{\"format_version\":1,\"format_version\":1}",
                   "duplicate field `format_version` at line 1 column 36"},
        ReaderCase{"duplicate_schema", "{\"schema\":{\"columns\":[]},\"schema\":5}",
                   "duplicate field `schema` at line 1 column 33"},
        ReaderCase{"version_float", "{\"format_version\":1.5}", "invalid type: floating point `1.5`, expected u32 at line 1 column 21"},
        ReaderCase{"version_integral_float", "{\"format_version\":1.0}", "invalid type: floating point `1.0`, expected u32 at line 1 column 21"},
        ReaderCase{"version_exponent", "{\"format_version\":1e0}", "invalid type: floating point `1.0`, expected u32 at line 1 column 21"},
        ReaderCase{"version_negative_zero", "{\"format_version\":-0}", "invalid type: floating point `-0.0`, expected u32 at line 1 column 20"},
        ReaderCase{"version_negative", "{\"format_version\":-1}", "invalid value: integer `-1`, expected u32 at line 1 column 20"},
        ReaderCase{"version_too_large", "{\"format_version\":4294967296}",
                   "invalid value: integer `4294967296`, expected u32 at line 1 column 28"},
        ReaderCase{"version_beyond_u64", "{\"format_version\":18446744073709551616}",
                   "invalid type: floating point `1.8446744073709552e+19`, expected u32 at line 1 column 38"},
        ReaderCase{"version_below_i64", "{\"format_version\":-9223372036854775809}",
                   "invalid type: floating point `-9.223372036854776e+18`, expected u32 at line 1 column 38"},
        ReaderCase{"version_string", "{\"format_version\":\"1\"}", "invalid type: string \"1\", expected u32 at line 1 column 21"},
        ReaderCase{"version_null", "{\"format_version\":null}", "invalid type: null, expected u32 at line 1 column 22"},
        ReaderCase{"version_sequence", "{\"format_version\":[1, {}]}",
                   "invalid type: sequence, expected u32 at line 1 column 25"},
        ReaderCase{"version_map", "{\"format_version\":{\"a\": [true]}}",
                   "invalid type: map, expected u32 at line 1 column 31"},
        ReaderCase{"wrong_type_value_still_parsed", "{\"format_version\":[1,]}", "trailing comma at line 1 column 22"},
        ReaderCase{"root_as_array", "[1, {\"columns\": []}]", "ok"},
        ReaderCase{"root_array_empty", "[]", "invalid length 0, expected struct PersistedSuggestedSchema with 2 elements at line 1 column 2"},
        ReaderCase{"root_array_short", "[1]", "invalid length 1, expected struct PersistedSuggestedSchema with 2 elements at line 1 column 3"},
        ReaderCase{"root_array_long", "[1, {\"columns\": []}, 3]", "trailing characters at line 1 column 22"},
        ReaderCase{"root_array_trailing_comma", "[1, {\"columns\": []},]", "trailing comma at line 1 column 21"},
        ReaderCase{"root_array_unclosed", "[1, {\"columns\": []}", "EOF while parsing a list at line 1 column 19"},
        ReaderCase{"root_array_missing_comma", "[1 {\"columns\": []}]", "expected `,` or `]` at line 1 column 4"},
        ReaderCase{"schema_wrong_type", "{\"format_version\":1,\"schema\":true}",
                   "invalid type: boolean `true`, expected struct SuggestedDatasetSchema at line 1 column 33"},
        ReaderCase{"schema_missing_columns", "{\"format_version\":1,\"schema\":{\"other\":[1,{\"a\":null}]}}",
                   "missing field `columns` at line 1 column 53"},
        ReaderCase{"schema_as_array", "{\"format_version\":1,\"schema\":[[]]}", "ok"},
        ReaderCase{"schema_array_empty", "{\"format_version\":1,\"schema\":[]}",
                   "invalid length 0, expected struct SuggestedDatasetSchema with 1 element at line 1 column 31"},
        ReaderCase{"schema_array_long", "{\"format_version\":1,\"schema\":[[],[]]}",
                   "trailing characters at line 1 column 34"},
        ReaderCase{"columns_map", "{\"format_version\":1,\"schema\":{\"columns\":{}}}",
                   "invalid type: map, expected a sequence at line 1 column 42"},
        ReaderCase{"columns_null", "{\"format_version\":1,\"schema\":{\"columns\":null}}",
                   "invalid type: null, expected a sequence at line 1 column 44"},
        ReaderCase{"columns_trailing_comma", with_column(R"(["a","float",false,{}],)"), "trailing comma at line 2 column 24"},
        ReaderCase{"columns_unclosed", "{\"format_version\":1,\"schema\":{\"columns\":[", "EOF while parsing a list at line 1 column 41"},
        ReaderCase{"unknown_keys_everywhere",
                   "{\"x\":{\"y\":[1,2.5e-3,\"z\",null,true,false,{}]},\"format_version\":1,\"schema\":{\"w\":[],"
                   "\"columns\":[{\"name\":\"a\",\"q\":1e999,\"logical_type\":\"integer\",\"nullable\":false,"
                   "\"constraints\":{\"r\":0,\"numeric_range\":{\"min\":1,\"s\":\"t\",\"max\":2},"
                   "\"allowed_values\":[{\"kind\":\"string\",\"u\":[],\"value\":\"v\"}]}}]}}",
                   "ok"},
        ReaderCase{"unknown_key_bad_json", "{\"x\":[1 2]}", "expected `,` or `]` at line 1 column 9"},
        ReaderCase{"unknown_key_trailing_comma_in_array", "{\"x\":[1,]}", "trailing comma at line 1 column 9"},
        ReaderCase{"unknown_key_trailing_comma_in_object", "{\"x\":{\"a\":1,}}", "trailing comma at line 1 column 13"},
        ReaderCase{"unknown_key_number_key", "{\"x\":{1:1}}", "key must be a string at line 1 column 7"}));

std::string nested_arrays(int levels) {
  return str_cat("{\"x\":", std::string(static_cast<std::size_t>(levels), '['),
                 std::string(static_cast<std::size_t>(levels), ']'), ",\"format_version\":1,\"schema\":{\"columns\":[]}}");
}

INSTANTIATE_TEST_SUITE_P(
    Nesting, ReaderCases,
    ::testing::Values(
        // The root object is the first level.
        ReaderCase{"levels_128", nested_arrays(127), "ok"},
        ReaderCase{"levels_129", nested_arrays(128), "recursion limit exceeded at line 1 column 133"},
        ReaderCase{"levels_129_in_wrong_type",
                   str_cat("{\"format_version\":", std::string(128, '['), std::string(128, ']'), "}"),
                   "recursion limit exceeded at line 1 column 146"},
        ReaderCase{"levels_129_in_value",
                   with_value(str_cat("{\"value\":", std::string(125, '['), std::string(125, ']'), ",\"kind\":\"string\"}")),
                   "recursion limit exceeded at line 3 column 131"},
        ReaderCase{"deep_unclosed", str_cat("{\"x\":", std::string(100000, '[')), "recursion limit exceeded at line 1 column 133"}));

INSTANTIATE_TEST_SUITE_P(
    Column, ReaderCases,
    ::testing::Values(
        ReaderCase{"valid", with_column(R"({"name":"a","logical_type":"integer","nullable":true,"constraints":{}})"), "ok"},
        ReaderCase{"missing_constraints", with_column(R"({"name":"a","logical_type":"integer","nullable":true})"),
                   "missing field `constraints` at line 2 column 53"},
        ReaderCase{"missing_name_first", with_column(R"({"nullable":true})"), "missing field `name` at line 2 column 17"},
        ReaderCase{"missing_logical_type", with_column(R"({"name":"a"})"), "missing field `logical_type` at line 2 column 12"},
        ReaderCase{"missing_nullable", with_column(R"({"constraints":{},"logical_type":"float","name":"a"})"),
                   "missing field `nullable` at line 2 column 52"},
        ReaderCase{"duplicate_name", with_column(R"({"name":"a","name":"b"})"), "duplicate field `name` at line 2 column 18"},
        ReaderCase{"duplicate_constraints", with_column(R"({"constraints":{},"constraints":{}})"),
                   "duplicate field `constraints` at line 2 column 31"},
        ReaderCase{"name_integer", with_column(R"({"name":5})"), "invalid type: integer `5`, expected a string at line 2 column 9"},
        ReaderCase{"name_negative", with_column(R"({"name":-9223372036854775808})"),
                   "invalid type: integer `-9223372036854775808`, expected a string at line 2 column 28"},
        ReaderCase{"name_float", with_column(R"({"name":1e16})"), "invalid type: floating point `1e+16`, expected a string at line 2 column 12"},
        ReaderCase{"name_small_float", with_column(R"({"name":-0.0000025})"),
                   "invalid type: floating point `-2.5e-6`, expected a string at line 2 column 18"},
        ReaderCase{"name_boolean", with_column(R"({"name":false})"), "invalid type: boolean `false`, expected a string at line 2 column 13"},
        ReaderCase{"name_sequence", with_column(R"({"name":["a"]})"), "invalid type: sequence, expected a string at line 2 column 13"},
        ReaderCase{"logical_type_unknown", with_column(R"({"name":"a","logical_type":"Integer"})"),
                   "unknown variant `Integer`, expected one of `integer`, `float`, `boolean`, `string`, `datetime`, "
                   "`categorical`, `unknown` at line 2 column 36"},
        ReaderCase{"logical_type_object_form",
                   with_column(R"({"name":"a","logical_type":{"datetime": null},"nullable":true,"constraints":{}})"), "ok"},
        ReaderCase{"logical_type_object_not_null", with_column(R"({"name":"a","logical_type":{"datetime":1}})"),
                   "invalid type: integer `1`, expected unit at line 2 column 40"},
        ReaderCase{"logical_type_object_two_members", with_column(R"({"name":"a","logical_type":{"float":null,"x":1}})"),
                   "expected value at line 2 column 41"},
        ReaderCase{"logical_type_object_empty", with_column(R"({"name":"a","logical_type":{}})"),
                   "expected value at line 2 column 29"},
        ReaderCase{"logical_type_object_unknown", with_column(R"({"name":"a","logical_type":{"Float":null}})"),
                   "unknown variant `Float`, expected one of `integer`, `float`, `boolean`, `string`, `datetime`, "
                   "`categorical`, `unknown` at line 2 column 35"},
        ReaderCase{"logical_type_integer", with_column(R"({"name":"a","logical_type":3})"),
                   "invalid type: integer `3`, expected variant identifier at line 2 column 28"},
        ReaderCase{"logical_type_null", with_column(R"({"name":"a","logical_type":null})"),
                   "invalid type: null, expected variant identifier at line 2 column 31"},
        ReaderCase{"nullable_string", with_column(R"({"name":"a","logical_type":"float","nullable":"yes"})"),
                   "invalid type: string \"yes\", expected a boolean at line 2 column 51"},
        ReaderCase{"nullable_escaped_string", with_column(R"({"nullable":"t\t\"\u0001\u00e9\u0301"})"),
                   "invalid type: string \"t\\t\\\"\\u{1}\xC3\xA9\\u{301}\", expected a boolean at line 2 column 37"},
        ReaderCase{"nullable_integer", with_column(R"({"nullable":1})"), "invalid type: integer `1`, expected a boolean at line 2 column 13"},
        ReaderCase{"constraints_string", with_column(R"({"constraints":"c"})"),
                   "invalid type: string \"c\", expected struct SuggestedConstraints at line 2 column 18"},
        ReaderCase{"column_as_array", with_column(R"(["a","float",false,[null,null]])"), "ok"},
        ReaderCase{"column_array_short", with_column(R"(["a","float",false])"),
                   "invalid length 3, expected struct SuggestedColumnSchema with 4 elements at line 2 column 19"},
        ReaderCase{"column_array_long", with_column(R"(["a","float",false,{},1])"), "trailing characters at line 2 column 23"},
        ReaderCase{"column_integer", with_column("7"), "invalid type: integer `7`, expected struct SuggestedColumnSchema at line 2 column 1"}));

INSTANTIATE_TEST_SUITE_P(
    Constraints, ReaderCases,
    ::testing::Values(
        ReaderCase{"empty_object", with_constraints("{}"), "ok"},
        ReaderCase{"explicit_nulls", with_constraints(R"({"numeric_range":null,"allowed_values":null})"), "ok"},
        ReaderCase{"as_array", with_constraints(R"([[0,10],[["boolean",true]]])"), "ok"},
        ReaderCase{"array_short", with_constraints("[null]"),
                   "invalid length 1, expected struct SuggestedConstraints with 2 elements at line 2 column 6"},
        ReaderCase{"array_long", with_constraints("[null,null,null]"), "trailing characters at line 2 column 12"},
        ReaderCase{"duplicate_range", with_constraints(R"({"numeric_range":null,"numeric_range":null})"),
                   "duplicate field `numeric_range` at line 2 column 37"},
        ReaderCase{"range_wrong_type", with_constraints(R"({"numeric_range":1.5})"),
                   "invalid type: floating point `1.5`, expected struct SuggestedNumericRange at line 2 column 20"},
        ReaderCase{"range_array_short", with_constraints(R"({"numeric_range":[1]})"),
                   "invalid length 1, expected struct SuggestedNumericRange with 2 elements at line 2 column 20"},
        ReaderCase{"range_array_long", with_constraints(R"({"numeric_range":[1,2,3]})"), "trailing characters at line 2 column 23"},
        ReaderCase{"range_min_string", with_constraints(R"({"numeric_range":{"min":"0"}})"),
                   "invalid type: string \"0\", expected f64 at line 2 column 27"},
        ReaderCase{"range_max_boolean", with_constraints(R"({"numeric_range":{"max":true}})"),
                   "invalid type: boolean `true`, expected f64 at line 2 column 28"},
        ReaderCase{"range_max_out_of_range", with_constraints(R"({"numeric_range":{"max":-2e308}})"),
                   "number out of range at line 2 column 30"},
        ReaderCase{"range_duplicate_min", with_constraints(R"({"numeric_range":{"min":1,"min":2}})"),
                   "duplicate field `min` at line 2 column 31"},
        ReaderCase{"allowed_values_map", with_constraints(R"({"allowed_values":{}})"),
                   "invalid type: map, expected a sequence at line 2 column 20"},
        ReaderCase{"allowed_values_string", with_constraints(R"({"allowed_values":"a"})"),
                   "invalid type: string \"a\", expected a sequence at line 2 column 21"}));

INSTANTIATE_TEST_SUITE_P(
    SuggestedValue, ReaderCases,
    ::testing::Values(
        ReaderCase{"kind_first", with_value(R"({"kind":"boolean","value":false})"), "ok"},
        ReaderCase{"value_first", with_value(R"({"value":"v","kind":"string"})"), "ok"},
        ReaderCase{"extra_keys", with_value(R"({"a":1,"value":"v","b":[],"kind":"string","c":{}})"), "ok"},
        ReaderCase{"as_array", with_value(R"(["string","v"])"), "ok"},
        ReaderCase{"bare_string", with_value(R"("v")"),
                   "invalid type: string \"v\", expected adjacently tagged enum SuggestedValue at line 3 column 3"},
        ReaderCase{"unknown_kind", with_value(R"({"kind":"integer","value":1})"),
                   "unknown variant `integer`, expected `string` or `boolean` at line 3 column 17"},
        ReaderCase{"kind_not_string", with_value(R"({"kind":true})"),
                   "invalid type: boolean `true`, expected variant identifier at line 3 column 12"},
        ReaderCase{"boolean_given_string", with_value(R"({"kind":"boolean","value":"true"})"),
                   "invalid type: string \"true\", expected a boolean at line 3 column 32"},
        ReaderCase{"string_given_boolean", with_value(R"({"kind":"string","value":true})"),
                   "invalid type: boolean `true`, expected a string at line 3 column 29"},
        ReaderCase{"buffered_wrong_type", with_value(R"({"value":null,"kind":"string"})"),
                   "invalid type: null, expected a string at line 3 column 29"},
        ReaderCase{"buffered_map", with_value(R"({"value":{"a":[1]},"kind":"boolean"})"),
                   "invalid type: map, expected a boolean at line 3 column 35"},
        ReaderCase{"buffered_out_of_range", with_value(R"({"value":[1e400],"kind":"boolean"})"),
                   "number out of range at line 3 column 15"},
        ReaderCase{"missing_value", with_value(R"({"kind":"string"})"), "missing field `value` at line 3 column 17"},
        ReaderCase{"missing_kind", with_value(R"({"value":"v"})"), "missing field `kind` at line 3 column 13"},
        ReaderCase{"missing_both", with_value(R"({"other":1})"), "missing field `kind` at line 3 column 11"},
        ReaderCase{"duplicate_kind", with_value(R"({"kind":"string","kind":"string"})"),
                   "duplicate field `kind` at line 3 column 23"},
        ReaderCase{"duplicate_kind_after_value", with_value(R"({"kind":"string","value":"v","kind":"string"})"),
                   "duplicate field `kind` at line 3 column 35"},
        ReaderCase{"duplicate_value", with_value(R"({"value":"v","value":"w"})"), "duplicate field `value` at line 3 column 20"},
        ReaderCase{"duplicate_value_after_kind", with_value(R"({"value":"v","kind":"string","value":"w"})"),
                   "duplicate field `value` at line 3 column 36"},
        ReaderCase{"array_empty", with_value("[]"), "invalid length 0, expected adjacently tagged enum SuggestedValue at line 3 column 2"},
        ReaderCase{"array_short", with_value(R"(["boolean"])"),
                   "invalid length 1, expected adjacently tagged enum SuggestedValue at line 3 column 11"},
        ReaderCase{"array_long", with_value(R"(["boolean",true,false])"), "trailing characters at line 3 column 17"}));

SuggestedColumnSchema column(std::string name, LogicalType type, bool nullable, SuggestedConstraints constraints = {}) {
  return SuggestedColumnSchema{std::move(name), type, nullable, std::move(constraints)};
}

TEST(DocumentReader, ReadsEveryField) {
  auto result = decode_schema_document(
      "{\"schema\":{\"columns\":[{\"name\":\"\\uD83D\\uDE00 \\/\\b\\f\\n\\r\\t\\\"\\\\\",\"logical_type\":\"unknown\","
      "\"nullable\":false,\"constraints\":{\"numeric_range\":{\"min\":0,\"max\":-7},\"allowed_values\":[]}},"
      "[\"b\",\"boolean\",true,{\"numeric_range\":{\"max\":2.5e-7},\"allowed_values\":[[\"boolean\",false],"
      "{\"value\":\"\",\"kind\":\"string\"}]}]]},\"format_version\":2}");
  ASSERT_TRUE(result.ok()) << result.error().message();
  EXPECT_EQ(result->format_version, 2u);
  SuggestedDatasetSchema expected;
  expected.columns.push_back(column("\xF0\x9F\x98\x80 /\b\f\n\r\t\"\\", LogicalType::Unknown, false,
                                    {SuggestedNumericRange{0.0, -7.0}, std::vector<SuggestedValue>{}}));
  expected.columns.push_back(column(
      "b", LogicalType::Boolean, true,
      {SuggestedNumericRange{std::nullopt, 2.5e-7}, std::vector<SuggestedValue>{false, std::string()}}));
  EXPECT_EQ(result->schema, expected);
}

TEST(DocumentReader, NumbersReadAsNearestDouble) {
  const auto range_of = [](std::string_view min) {
    auto result = decode_schema_document(with_constraints(str_cat("{\"numeric_range\":{\"min\":", min, "}}")));
    EXPECT_TRUE(result.ok()) << min;
    return result.ok() ? *result->schema.columns[0].constraints.numeric_range->min : std::nan("");
  };
  EXPECT_EQ(range_of("18446744073709551615"), 18446744073709551615.0);
  EXPECT_EQ(range_of("-9223372036854775808"), -9223372036854775808.0);
  EXPECT_EQ(range_of("0.30000000000000004"), 0.1 + 0.2);
  EXPECT_EQ(range_of("1.7976931348623157e308"), std::numeric_limits<double>::max());
  EXPECT_EQ(range_of("4.9e-324"), std::numeric_limits<double>::denorm_min());
  EXPECT_EQ(range_of("1e-400"), 0.0);
  EXPECT_TRUE(std::signbit(range_of("-1e-400")));
  EXPECT_TRUE(std::signbit(range_of("-0")));
  EXPECT_EQ(range_of("0e99999999999999999999"), 0.0);
  EXPECT_EQ(range_of("1E+2"), 100.0);
}

// ---- writer ----------------------------------------------------------------

std::string layout(double value) {
  std::string out;
  append_json_double(out, value);
  return out;
}

TEST(DocumentWriter, FloatLayout) {
  const std::vector<std::pair<double, std::string>> cases = {
      {0.1, "0.1"},
      {123.25, "123.25"},
      {0.00001, "0.00001"},
      {0.000015, "0.000015"},
      {100.0, "100.0"},
      {1e15, "1000000000000000.0"},
      {1234567890123456.7, "1234567890123456.8"},
      {0.0, "0.0"},
      {-0.0, "-0.0"},
      {-1.5, "-1.5"},
      {1e16, "1e+16"},
      {1.5e16, "1.5e+16"},
      {-1.5e16, "-1.5e+16"},
      {1e-6, "1e-6"},
      {2.5e-7, "2.5e-7"},
      {0.1 + 0.2, "0.30000000000000004"},
      {std::numeric_limits<double>::max(), "1.7976931348623157e+308"},
      {std::numeric_limits<double>::denorm_min(), "5e-324"},
      {-std::numeric_limits<double>::min(), "-2.2250738585072014e-308"},
      {123456789012345680.0, "1.2345678901234568e+17"},
  };
  for (const auto& [value, expected] : cases) EXPECT_EQ(layout(value), expected) << expected;
}

TEST(DocumentWriter, EmptySchema) {
  EXPECT_EQ(encode_schema_document({}), "{\n  \"format_version\": 1,\n  \"schema\": {\n    \"columns\": []\n  }\n}");
}

TEST(DocumentWriter, StringEscapes) {
  std::string all_controls;
  for (int byte = 0; byte < 0x20; ++byte) all_controls.push_back(static_cast<char>(byte));
  std::string out;
  append_json_string(out, all_controls);
  EXPECT_EQ(out,
            "\"\\u0000\\u0001\\u0002\\u0003\\u0004\\u0005\\u0006\\u0007\\b\\t\\n\\u000b\\f\\r\\u000e\\u000f"
            "\\u0010\\u0011\\u0012\\u0013\\u0014\\u0015\\u0016\\u0017\\u0018\\u0019\\u001a\\u001b\\u001c\\u001d"
            "\\u001e\\u001f\"");
  out.clear();
  append_json_string(out, "q\"b\\s/d\x7F\xC3\xA9\xF0\x9F\x98\x80");
  EXPECT_EQ(out, "\"q\\\"b\\\\s/d\x7F\xC3\xA9\xF0\x9F\x98\x80\"");
}

TEST(DocumentWriter, WholeDocumentLayout) {
  SuggestedDatasetSchema schema;
  schema.columns.push_back(column("size", LogicalType::Categorical, false,
                                  {std::nullopt, std::vector<SuggestedValue>{std::string("small"), true}}));
  schema.columns.push_back(column("x", LogicalType::Float, true, {SuggestedNumericRange{-0.5, std::nullopt}, std::vector<SuggestedValue>{}}));
  EXPECT_EQ(encode_schema_document(schema),
            "{\n"
            "  \"format_version\": 1,\n"
            "  \"schema\": {\n"
            "    \"columns\": [\n"
            "      {\n"
            "        \"name\": \"size\",\n"
            "        \"logical_type\": \"categorical\",\n"
            "        \"nullable\": false,\n"
            "        \"constraints\": {\n"
            "          \"numeric_range\": null,\n"
            "          \"allowed_values\": [\n"
            "            {\n"
            "              \"kind\": \"string\",\n"
            "              \"value\": \"small\"\n"
            "            },\n"
            "            {\n"
            "              \"kind\": \"boolean\",\n"
            "              \"value\": true\n"
            "            }\n"
            "          ]\n"
            "        }\n"
            "      },\n"
            "      {\n"
            "        \"name\": \"x\",\n"
            "        \"logical_type\": \"float\",\n"
            "        \"nullable\": true,\n"
            "        \"constraints\": {\n"
            "          \"numeric_range\": {\n"
            "            \"min\": -0.5,\n"
            "            \"max\": null\n"
            "          },\n"
            "          \"allowed_values\": []\n"
            "        }\n"
            "      }\n"
            "    ]\n"
            "  }\n"
            "}");
}

TEST(DocumentWriter, RoundTripsEveryShape) {
  SuggestedDatasetSchema schema;
  std::string every_byte;
  for (int byte = 1; byte < 0x80; ++byte) every_byte.push_back(static_cast<char>(byte));
  every_byte.push_back('\0');
  every_byte.append("\xC3\xA9\xE2\x80\xA8\xF0\x9F\x98\x80");
  for (std::size_t type_idx = 0; type_idx < kLogicalTypeNames.size(); ++type_idx) {
    schema.columns.push_back(column(every_byte, static_cast<LogicalType>(type_idx), type_idx % 2 == 0));
  }
  const double bounds[] = {0.1, -0.0, 1e16, 2.5e-7, 5e-324, -1.7976931348623157e308, 123456.789, 1e-5, 1e15};
  for (const double bound : bounds) {
    schema.columns.push_back(column("r", LogicalType::Float, false, {SuggestedNumericRange{bound, -bound}, std::nullopt}));
  }
  schema.columns.push_back(column("", LogicalType::Categorical, false,
                                  {SuggestedNumericRange{}, std::vector<SuggestedValue>{every_byte, false, true}}));
  auto decoded = decode_schema_document(encode_schema_document(schema));
  ASSERT_TRUE(decoded.ok()) << decoded.error().message();
  EXPECT_EQ(decoded->format_version, 1u);
  EXPECT_EQ(decoded->schema, schema);
  EXPECT_TRUE(std::signbit(*decoded->schema.columns[8].constraints.numeric_range->min));
}

}  // namespace
}  // namespace nolt
