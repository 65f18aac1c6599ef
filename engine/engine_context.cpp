#include <atomic>
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

// Set by cancel() from the thread that waits for a computation; every
// computation asks it between columns and every so many cells.
std::atomic<bool> g_cancelled{false};

class CancelFlag final : public Interrupt {
 public:
  Status check() const override {
    if (g_cancelled.load(std::memory_order_relaxed)) return CoreError::value_error("the computation was cancelled");
    return Status();
  }
};

const CancelFlag kCancelFlag;

}  // namespace

PyObject* cancel(PyObject*, PyObject*) {
  g_cancelled.store(true, std::memory_order_relaxed);
  Py_RETURN_NONE;
}

PyObject* uncancel(PyObject*, PyObject*) {
  g_cancelled.store(false, std::memory_order_relaxed);
  Py_RETURN_NONE;
}

ExecutionContext serial_engine_context() { return ExecutionContext{nullptr, &kCancelFlag}; }

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
  if (thread_count == 1) return ExecutionContext{nullptr, &kCancelFlag};
  return ExecutionContext{&executor_for(thread_count), &kCancelFlag};
}

}  // namespace nolt::engine
