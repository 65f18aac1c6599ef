// The match of two lists of named records by exact name, shared by every
// report that sets one side against another.
#pragma once

#include <string_view>
#include <vector>

#include "common/hashing.h"

namespace nolt {

// Calls on_left(left_record, match) for every left record in order, where
// match points to the last right record of the same name or is null, then
// on_right_only(right_record) for every right record, in order, whose name no
// left record has. Names are compared as bytes; the tables borrow them.
template <class Left, class Right, class OnLeft, class OnRightOnly>
void join_by_name(const std::vector<Left>& left, const std::vector<Right>& right, OnLeft&& on_left,
                  OnRightOnly&& on_right_only) {
  TextViewMap<const Right*> right_by_name;
  right_by_name.reserve(right.size());
  for (const Right& record : right) right_by_name.insert_or_assign(std::string_view(record.name), &record);
  TextViewSet left_names;
  left_names.reserve(left.size());
  for (const Left& record : left) left_names.insert(std::string_view(record.name));

  for (const Left& record : left) {
    const auto match = right_by_name.find(std::string_view(record.name));
    on_left(record, match == right_by_name.end() ? nullptr : match->second);
  }
  for (const Right& record : right) {
    if (!left_names.contains(std::string_view(record.name))) on_right_only(record);
  }
}

}  // namespace nolt
