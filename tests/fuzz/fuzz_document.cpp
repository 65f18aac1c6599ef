// Feeds arbitrary bytes to the schema-document reader. Whatever it accepts must
// write back to a document that reads as the same schema; whatever it refuses
// must carry a message with a position.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "persistence/document.h"

namespace {

bool finite_bounds(const nolt::SuggestedDatasetSchema& schema) {
  for (const auto& column : schema.columns) {
    const auto& range = column.constraints.numeric_range;
    if (range && ((range->min && !std::isfinite(*range->min)) || (range->max && !std::isfinite(*range->max)))) {
      return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  auto decoded = nolt::decode_schema_document(text);
  if (!decoded.ok()) {
    if (decoded.error().message().find(" at line ") == std::string::npos) std::abort();
    return 0;
  }
  if (!finite_bounds(decoded->schema)) std::abort();  // the reader only yields finite numbers
  auto again = nolt::decode_schema_document(nolt::encode_schema_document(decoded->schema));
  if (!again.ok() || !(again->schema == decoded->schema)) std::abort();
  return 0;
}
