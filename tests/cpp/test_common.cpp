#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "common/utf8.h"
#include "error/core_error.h"

namespace nolt {
namespace {

struct Utf8Case {
  std::string_view name;
  std::string_view text;
  bool valid;
};

class Utf8Test : public ::testing::TestWithParam<Utf8Case> {};

TEST_P(Utf8Test, AcceptsExactlyTheWellFormedSequences) { EXPECT_EQ(is_valid_utf8(GetParam().text), GetParam().valid); }

// The edges of every lead byte's range, and sequences cut short.
INSTANTIATE_TEST_SUITE_P(
    Sequences, Utf8Test,
    ::testing::Values(Utf8Case{"empty", "", true}, Utf8Case{"ascii_with_nul", std::string_view("a\0b", 3), true},
                      Utf8Case{"two_byte_lowest", "\xC2\x80", true}, Utf8Case{"overlong_two_byte", "\xC1\xBF", false},
                      Utf8Case{"three_byte_lowest", "\xE0\xA0\x80", true},
                      Utf8Case{"overlong_three_byte", "\xE0\x9F\xBF", false},
                      Utf8Case{"below_surrogates", "\xED\x9F\xBF", true}, Utf8Case{"surrogate", "\xED\xA0\x80", false},
                      Utf8Case{"four_byte_lowest", "\xF0\x90\x80\x80", true},
                      Utf8Case{"overlong_four_byte", "\xF0\x8F\xBF\xBF", false},
                      Utf8Case{"highest_code_point", "\xF4\x8F\xBF\xBF", true},
                      Utf8Case{"above_highest", "\xF4\x90\x80\x80", false}, Utf8Case{"lead_f5", "\xF5\x80\x80\x80", false},
                      Utf8Case{"lone_continuation", "a\x80", false}, Utf8Case{"cut_short", "ab\xE2\x82", false},
                      Utf8Case{"bad_last_continuation", "\xE2\x82(", false}),
    [](const ::testing::TestParamInfo<Utf8Case>& info) { return std::string(info.param.name); });

#ifdef NOLT_DEBUG_CHECKS
// A misuse of Status or Result aborts where it happens instead of reading an
// absent error or value. The misuses are deliberate, and the compiler may see
// the absent error they would read.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
TEST(StatusMisuseDeathTest, ReadingWhatIsNotThereAborts) {
  EXPECT_DEATH({ (void)Status().take_error(); }, "the error of an OK Status");
  EXPECT_DEATH({ Result<int> made(Status{}); (void)made; }, "a Result made from an OK Status");
  EXPECT_DEATH({ (void)Result<int>(1).take_error(); }, "the error of an OK Result");
  EXPECT_DEATH({ (void)Result<int>(CoreError::value_error("x")).value(); }, "the value of a failed Result");
}
#pragma GCC diagnostic pop
#endif

}  // namespace
}  // namespace nolt
