// Checks of programmer errors, never of input: on in debug builds and where
// NOLT_DEBUG_CHECKS is defined (the sanitizer build), compiled out otherwise.
// A failed check names itself on stderr and aborts, so a misuse shows at the
// line that made it rather than as undefined behaviour further on.
#pragma once

#include <cstdio>
#include <cstdlib>

#if !defined(NDEBUG) && !defined(NOLT_DEBUG_CHECKS)
#define NOLT_DEBUG_CHECKS 1
#endif

namespace nolt::detail {

[[noreturn]] inline void debug_check_failed(const char* condition, const char* what, const char* file,
                                            int line) noexcept {
  std::fprintf(stderr, "%s:%d: debug check failed: %s: %s\n", file, line, what, condition);
  std::abort();
}

}  // namespace nolt::detail

#ifdef NOLT_DEBUG_CHECKS
#define NOLT_DEBUG_CHECK(condition, what) \
  ((condition) ? static_cast<void>(0) : ::nolt::detail::debug_check_failed(#condition, what, __FILE__, __LINE__))
#else
#define NOLT_DEBUG_CHECK(condition, what) static_cast<void>(0)
#endif
