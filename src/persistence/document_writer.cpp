// The pretty-printed schema document: two-space indentation, ": " between key
// and value, no line feed after the root's closing brace.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "persistence/document.h"
#include "persistence/json_text.h"

namespace nolt {
namespace {

class DocumentWriter {
 public:
  explicit DocumentWriter(std::string& out) : out_(out) {}

  // Members and elements are opened with the separator of the previous one.
  void open(char bracket) {
    out_.push_back(bracket);
    ++level_;
    first_ = true;
  }
  void close(char bracket) {
    --level_;
    new_line();
    out_.push_back(bracket);
    first_ = false;
  }
  void key(std::string_view name) {
    separate();
    append_json_string(out_, name);
    out_.append(": ");
  }
  void element() { separate(); }

  void text(std::string_view value) { append_json_string(out_, value); }
  void boolean(bool value) { out_.append(value ? "true" : "false"); }
  void null() { out_.append("null"); }
  void number(double value) { append_json_double(out_, value); }
  void unsigned_integer(std::uint32_t value) { out_.append(std::to_string(value)); }
  void empty_array() { out_.append("[]"); }

 private:
  void separate() {
    if (!first_) out_.push_back(',');
    first_ = false;
    new_line();
  }
  void new_line() {
    out_.push_back('\n');
    out_.append(static_cast<std::size_t>(level_) * 2, ' ');
  }

  std::string& out_;
  int level_ = 0;
  bool first_ = true;
};

void write_optional_number(DocumentWriter& writer, const std::optional<double>& value) {
  if (value) {
    writer.number(*value);
  } else {
    writer.null();
  }
}

void write_value(DocumentWriter& writer, const SuggestedValue& value) {
  writer.open('{');
  writer.key("kind");
  if (const auto* text = std::get_if<std::string>(&value)) {
    writer.text("string");
    writer.key("value");
    writer.text(*text);
  } else {
    writer.text("boolean");
    writer.key("value");
    writer.boolean(std::get<bool>(value));
  }
  writer.close('}');
}

void write_constraints(DocumentWriter& writer, const SuggestedConstraints& constraints) {
  writer.open('{');
  writer.key("numeric_range");
  if (constraints.numeric_range) {
    writer.open('{');
    writer.key("min");
    write_optional_number(writer, constraints.numeric_range->min);
    writer.key("max");
    write_optional_number(writer, constraints.numeric_range->max);
    writer.close('}');
  } else {
    writer.null();
  }
  writer.key("allowed_values");
  if (!constraints.allowed_values) {
    writer.null();
  } else if (constraints.allowed_values->empty()) {
    writer.empty_array();
  } else {
    writer.open('[');
    for (const SuggestedValue& value : *constraints.allowed_values) {
      writer.element();
      write_value(writer, value);
    }
    writer.close(']');
  }
  writer.close('}');
}

void write_column(DocumentWriter& writer, const SuggestedColumnSchema& column) {
  writer.open('{');
  writer.key("name");
  writer.text(column.name);
  writer.key("logical_type");
  writer.text(logical_type_name(column.logical_type));
  writer.key("nullable");
  writer.boolean(column.nullable);
  writer.key("constraints");
  write_constraints(writer, column.constraints);
  writer.close('}');
}

}  // namespace

std::string encode_schema_document(const SuggestedDatasetSchema& schema) {
  std::string out;
  out.reserve(128 + schema.columns.size() * 256);
  DocumentWriter writer(out);
  writer.open('{');
  writer.key("format_version");
  writer.unsigned_integer(kSuggestedSchemaFormatVersion);
  writer.key("schema");
  writer.open('{');
  writer.key("columns");
  if (schema.columns.empty()) {
    writer.empty_array();
  } else {
    writer.open('[');
    for (const SuggestedColumnSchema& column : schema.columns) {
      writer.element();
      write_column(writer, column);
    }
    writer.close(']');
  }
  writer.close('}');
  writer.close('}');
  return out;
}

}  // namespace nolt
