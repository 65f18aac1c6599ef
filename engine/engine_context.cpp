#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

#include "engine_entry_points.h"

namespace nolt::engine {
namespace {

// More threads than this is never what a caller means.
constexpr std::size_t kMostThreads = 256;

// One pool per thread count asked for, made on first use and kept: starting
// threads costs more than a small computation.
Executor& executor_for(std::size_t thread_count) {
  static std::mutex mutex;
  static auto* pools = new std::vector<std::unique_ptr<Executor>>(kMostThreads + 1);
  std::lock_guard<std::mutex> lock(mutex);
  std::unique_ptr<Executor>& pool = (*pools)[thread_count];
  if (!pool) pool = std::make_unique<Executor>(thread_count);
  return *pool;
}

}  // namespace

Result<ExecutionContext> engine_context(PyObject* threads) {
  std::size_t thread_count = 0;
  if (threads != nullptr && threads != Py_None) {
    const long long requested = PyLong_AsLongLong(threads);
    if (requested == -1 && PyErr_Occurred()) return py::fetch_error();
    if (requested < 0) return CoreError::value_error(str_cat("threads must be at least 1, not ", requested));
    thread_count = static_cast<std::size_t>(requested);
  }
  if (thread_count == 0) thread_count = Executor::usable_cpu_count();
  if (thread_count > kMostThreads) thread_count = kMostThreads;
  if (thread_count == 1) return ExecutionContext{};
  return ExecutionContext{&executor_for(thread_count), nullptr};
}

}  // namespace nolt::engine
