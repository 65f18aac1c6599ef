// The one internal error value and the result type every fallible operation
// returns. Errors travel as values; nothing here throws.
#pragma once

#include <charconv>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>

#include "error/debug_check.h"

namespace nolt {

enum class CoreErrorKind : std::uint8_t { TypeError, ValueError, OSError, Propagated };

// An error raised by a foreign runtime (the interpreter) that must be re-raised
// unchanged. The core only carries it; the binding layer knows what it holds.
class ForeignError {
 public:
  virtual ~ForeignError() = default;
};

class [[nodiscard]] CoreError {
 public:
  static CoreError type_error(std::string message) {
    return CoreError(CoreErrorKind::TypeError, std::move(message));
  }
  static CoreError value_error(std::string message) {
    return CoreError(CoreErrorKind::ValueError, std::move(message));
  }
  static CoreError os_error(std::string message) {
    return CoreError(CoreErrorKind::OSError, std::move(message));
  }
  static CoreError propagated(std::unique_ptr<ForeignError> foreign) {
    CoreError error(CoreErrorKind::Propagated, std::string());
    error.foreign_ = std::move(foreign);
    return error;
  }

  CoreError(CoreError&&) noexcept = default;
  CoreError& operator=(CoreError&&) noexcept = default;
  CoreError(const CoreError&) = delete;
  CoreError& operator=(const CoreError&) = delete;

  CoreErrorKind kind() const noexcept { return kind_; }
  const std::string& message() const noexcept { return message_; }
  ForeignError* foreign() const noexcept { return foreign_.get(); }
  std::unique_ptr<ForeignError> take_foreign() noexcept { return std::move(foreign_); }

  // Only the argument-taking frame rewrites a message, to put its prefix first.
  CoreError with_prefix(std::string_view prefix) && {
    std::string prefixed;
    prefixed.reserve(prefix.size() + message_.size());
    prefixed.append(prefix.data(), prefix.size());
    prefixed.append(message_);
    message_ = std::move(prefixed);
    return std::move(*this);
  }

 private:
  CoreError(CoreErrorKind kind, std::string message) : kind_(kind), message_(std::move(message)) {}

  CoreErrorKind kind_;
  std::string message_;
  std::unique_ptr<ForeignError> foreign_;
};

// Success or the first error. Must be looked at.
class [[nodiscard]] Status {
 public:
  Status() = default;
  Status(CoreError error) : error_(std::move(error)) {}  // NOLINT: implicit by design
  static Status ok_status() { return Status(); }

  bool ok() const noexcept { return !error_.has_value(); }
  CoreError& error() & {
    NOLT_DEBUG_CHECK(!ok(), "the error of an OK Status");
    return *error_;
  }
  CoreError take_error() {
    NOLT_DEBUG_CHECK(!ok(), "the error of an OK Status");
    return std::move(*error_);
  }

 private:
  std::optional<CoreError> error_;
};

// A value or the first error. Must be looked at.
template <class T>
class [[nodiscard]] Result {
 public:
  Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}  // NOLINT
  Result(CoreError error) : state_(std::in_place_index<1>, std::move(error)) {}  // NOLINT
  // From a failed Status only: an OK one has no error to carry.
  Result(Status status) : state_(std::in_place_index<1>, error_of_failed(status)) {}  // NOLINT

  bool ok() const noexcept { return state_.index() == 0; }
  T& value() & { return (check_value(), std::get<0>(state_)); }
  const T& value() const& { return (check_value(), std::get<0>(state_)); }
  T&& value() && { return (check_value(), std::get<0>(std::move(state_))); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }
  T&& operator*() && { return std::move(*this).value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }
  CoreError& error() & { return (check_error(), std::get<1>(state_)); }
  const CoreError& error() const& { return (check_error(), std::get<1>(state_)); }
  CoreError take_error() { return (check_error(), std::get<1>(std::move(state_))); }

 private:
  static CoreError error_of_failed(Status& status) {
    NOLT_DEBUG_CHECK(!status.ok(), "a Result made from an OK Status");
    return status.take_error();
  }
  void check_value() const noexcept { NOLT_DEBUG_CHECK(ok(), "the value of a failed Result"); }
  void check_error() const noexcept { NOLT_DEBUG_CHECK(!ok(), "the error of an OK Result"); }

  std::variant<T, CoreError> state_;
};

namespace detail {
inline void append_piece(std::string& out, std::string_view piece) { out.append(piece.data(), piece.size()); }
inline void append_piece(std::string& out, const std::string& piece) { out.append(piece); }
inline void append_piece(std::string& out, const char* piece) { out.append(piece); }
inline void append_piece(std::string& out, char piece) { out.push_back(piece); }
template <class Integer>
  requires std::is_integral_v<Integer>
void append_piece(std::string& out, Integer value) {
  char buffer[24];
  auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
  (void)ec;
  out.append(buffer, end);
}
}  // namespace detail

// Concatenates texts and integers (in decimal) into one message.
template <class... Pieces>
std::string str_cat(const Pieces&... pieces) {
  std::string out;
  (detail::append_piece(out, pieces), ...);
  return out;
}

namespace detail {
inline CoreError take_error(Status& status) { return status.take_error(); }
template <class T>
CoreError take_error(Result<T>& result) {
  return result.take_error();
}
}  // namespace detail

}  // namespace nolt

#define NOLT_CONCAT_INNER(a, b) a##b
#define NOLT_CONCAT(a, b) NOLT_CONCAT_INNER(a, b)

// If EXPR is an error, returns it.
#define NOLT_TRY(expr)                                      \
  do {                                                      \
    auto&& nolt_try_result_ = (expr);                       \
    if (!nolt_try_result_.ok()) {                           \
      return ::nolt::detail::take_error(nolt_try_result_);  \
    }                                                       \
  } while (false)

// Evaluates REXPR (a Result); if it is an error, returns it, else moves its
// value into LHS (which may be a declaration such as `auto x`).
#define NOLT_ASSIGN_OR_RETURN(lhs, rexpr) \
  NOLT_ASSIGN_OR_RETURN_IMPL(NOLT_CONCAT(nolt_result_, __COUNTER__), lhs, rexpr)
#define NOLT_ASSIGN_OR_RETURN_IMPL(tmp, lhs, rexpr) \
  auto tmp = (rexpr);                               \
  if (!tmp.ok()) {                                  \
    return tmp.take_error();                        \
  }                                                 \
  lhs = std::move(tmp).value()
