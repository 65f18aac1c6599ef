// The suggested-schema JSON document: an exact writer and a strict reader.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "error/core_error.h"
#include "schema/suggested.h"

namespace nolt {

inline constexpr std::uint32_t kSuggestedSchemaFormatVersion = 1;

struct PersistedSuggestedSchema {
  std::uint32_t format_version = kSuggestedSchemaFormatVersion;
  SuggestedDatasetSchema schema;
};

// The pretty-printed document with format_version 1. Range bounds must be finite.
std::string encode_schema_document(const SuggestedDatasetSchema& schema);

// Reads one document; a failure is a ValueError whose message ends in
// " at line L column C". The format version is not checked here.
Result<PersistedSuggestedSchema> decode_schema_document(std::string_view text);

}  // namespace nolt
