// The allowed values a column of one logical type can be tested against, as
// validation and its failure detail both test them.
#pragma once

#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "common/hashing.h"
#include "data/values.h"
#include "schema/suggested.h"

namespace nolt {

// A string and a boolean never match each other, so the two kinds are kept
// apart; only the kinds the logical type admits are kept at all.
class AllowedSet {
 public:
  AllowedSet(const std::vector<SuggestedValue>& values, LogicalType type) {
    const bool admits_text = type == LogicalType::String || type == LogicalType::Categorical;
    const bool admits_boolean = type == LogicalType::Boolean || type == LogicalType::Categorical;
    for (const SuggestedValue& value : values) {
      if (const std::string* text = std::get_if<std::string>(&value)) {
        if (admits_text) texts_.insert(std::string_view(*text));
      } else if (admits_boolean) {
        (std::get<bool>(value) ? allows_true_ : allows_false_) = true;
      }
    }
  }

  bool empty() const noexcept { return texts_.empty() && !allows_true_ && !allows_false_; }
  bool contains_text(std::string_view text) const { return texts_.contains(text); }
  bool contains_boolean(bool value) const noexcept { return value ? allows_true_ : allows_false_; }

 private:
  TextViewSet texts_;
  bool allows_true_ = false;
  bool allows_false_ = false;
};

}  // namespace nolt
