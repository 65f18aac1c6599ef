// How a computation runs: on which threads, and whether it may stop early.
//
// Every computing entry point (profile, observe, inspect, validate, compare,
// drift) takes an ExecutionContext. The default context is serial and never
// interrupted: it runs everything inline on the calling thread and starts no
// thread, which is what `_nolt_core` passes. The engine module passes a
// context with an Executor (a fixed pool of threads it creates once) and an
// Interrupt (its cancel flag).
//
// Parallel work only ever splits what merges exactly (columns, the slices of
// one sort, disjoint hash partitions of one distinct count), so every result
// is the same for any thread count.
//
//   Executor executor(Executor::usable_cpu_count());   // once per process
//   MyInterrupt interrupt;                              // implements check()
//   ExecutionContext context{&executor, &interrupt};
//   NOLT_ASSIGN_OR_RETURN(DatasetProfile profile, profile_columns(columns, row_count, context));
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <type_traits>
#include <utility>
#include <vector>

#include "error/core_error.h"

namespace nolt {

// A cooperative stop request. Long computations call check() between columns
// and about every kInterruptStride cells; a failed Status ends the computation
// with that error (everything it built is freed on the way out). check() may
// be called from several threads at once and must be cheap when nothing is
// pending (an atomic load, or a call that looks at a flag).
class Interrupt {
 public:
  virtual ~Interrupt() = default;
  virtual Status check() const = 0;
};

// Cells a loop may run through between two interrupt checks.
inline constexpr std::size_t kInterruptStride = std::size_t{1} << 20;

// A fixed pool of threads that runs indexed tasks. The thread that calls
// parallel_for works on its own tasks too, so a pool of N threads starts N - 1
// of them; a pool of one thread starts none and runs everything inline.
// parallel_for may be called from inside a task (nested work is run by the
// calling task's thread and by any idle thread), and from several threads at
// once. The pool is not copyable or movable; destroying it joins its threads
// and must not happen while a parallel_for runs.
class Executor {
 public:
  explicit Executor(std::size_t thread_count);
  ~Executor();
  Executor(const Executor&) = delete;
  Executor& operator=(const Executor&) = delete;

  // The threads that run tasks, the caller's included (at least 1).
  std::size_t thread_count() const noexcept { return thread_count_; }

  // Runs task(task_idx) once for every task_idx in [0, task_count), spread
  // over the pool, and returns when every call has returned. An exception a
  // task throws is rethrown here (the first one, after every task is done).
  template <class Task>
  void parallel_for(std::size_t task_count, Task&& task) {
    using TaskType = std::remove_reference_t<Task>;
    run(task_count, [](void* state, std::size_t task_idx) { (*static_cast<TaskType*>(state))(task_idx); },
        const_cast<void*>(static_cast<const void*>(&task)));
  }

  // The CPUs this process may run on (its affinity mask), at least 1.
  static std::size_t usable_cpu_count() noexcept;

 private:
  using TaskFunction = void (*)(void* state, std::size_t task_idx);
  struct Pool;
  void run(std::size_t task_count, TaskFunction function, void* state);

  std::size_t thread_count_;
  std::unique_ptr<Pool> pool_;
};

// The execution choices of one computation; a plain value, cheap to copy.
struct ExecutionContext {
  Executor* executor = nullptr;         // null or one thread: everything inline
  const Interrupt* interrupt = nullptr;  // null: never interrupted

  std::size_t thread_count() const noexcept { return executor == nullptr ? 1 : executor->thread_count(); }
  bool parallel() const noexcept { return thread_count() > 1; }

  // OK, or the interrupt's error.
  Status check() const { return interrupt == nullptr ? Status() : interrupt->check(); }

  // Runs task(task_idx) for every task_idx in [0, task_count): in index order
  // on this thread when serial, spread over the executor otherwise.
  template <class Task>
  void parallel_for(std::size_t task_count, Task&& task) const {
    if (!parallel() || task_count < 2) {
      for (std::size_t task_idx = 0; task_idx < task_count; ++task_idx) task(task_idx);
      return;
    }
    executor->parallel_for(task_count, std::forward<Task>(task));
  }
};

// Serial and never interrupted: what `_nolt_core` computes with.
inline constexpr ExecutionContext kSerialContext{};

// Runs task(task_idx) -> Status for every task_idx in [0, task_count) and
// returns the error of the lowest failing index, or OK. The interrupt is
// checked before each task. Serially the tasks run in index order and stop at
// the first failure. In parallel the tasks start in `start_order` (a
// permutation of the indexes, for example largest first; index order when
// empty); every task below a failed index still runs and tasks above it may
// be skipped, so the error returned is the one the serial order gives
// (interrupts aside, which may land on any task).
template <class Task>
Status run_until_failure(const ExecutionContext& context, std::size_t task_count, Task&& task,
                         std::span<const std::size_t> start_order = {}) {
  if (!context.parallel() || task_count < 2) {
    for (std::size_t task_idx = 0; task_idx < task_count; ++task_idx) {
      NOLT_TRY(context.check());
      NOLT_TRY(task(task_idx));
    }
    return Status();
  }
  std::vector<Status> statuses(task_count);
  std::atomic<std::size_t> first_failed{task_count};
  context.executor->parallel_for(task_count, [&](std::size_t start_idx) {
    const std::size_t task_idx = start_order.empty() ? start_idx : start_order[start_idx];
    if (task_idx > first_failed.load(std::memory_order_relaxed)) return;
    Status status = context.check();
    if (status.ok()) status = task(task_idx);
    if (status.ok()) return;
    statuses[task_idx] = std::move(status);
    std::size_t failed = first_failed.load(std::memory_order_relaxed);
    while (task_idx < failed && !first_failed.compare_exchange_weak(failed, task_idx, std::memory_order_relaxed)) {
    }
  });
  const std::size_t failed = first_failed.load(std::memory_order_relaxed);
  if (failed == task_count) return Status();
  return std::move(statuses[failed]);
}

}  // namespace nolt
