#include "parallel/execution.h"

#include <exception>
#include <mutex>
#include <thread>

#include <pthread.h>

#if defined(__linux__)
#include <sched.h>
#endif

namespace nolt {

namespace {

// A condition variable over std::mutex, as std::condition_variable is, but
// calling the thread library directly: libstdc++ 12 gives its wait() a new
// symbol version (GLIBCXX_3.4.30), which alone would raise the wheel's
// platform tag past manylinux_2_34.
class ConditionVariable {
 public:
  ConditionVariable() { pthread_cond_init(&condition_, nullptr); }
  ~ConditionVariable() { pthread_cond_destroy(&condition_); }
  ConditionVariable(const ConditionVariable&) = delete;
  ConditionVariable& operator=(const ConditionVariable&) = delete;

  template <class Predicate>
  void wait(std::unique_lock<std::mutex>& lock, Predicate&& done) {
    while (!done()) pthread_cond_wait(&condition_, lock.mutex()->native_handle());
  }
  void notify_all() noexcept { pthread_cond_broadcast(&condition_); }

 private:
  pthread_cond_t condition_;
};

// One parallel_for call: its tasks are claimed one index at a time, by the
// calling thread and by any worker that joins.
struct Job {
  Job(std::size_t count, void (*fn)(void*, std::size_t), void* fn_state)
      : task_count(count), function(fn), state(fn_state) {}

  const std::size_t task_count;
  void (*const function)(void*, std::size_t);
  void* const state;
  std::atomic<std::size_t> next_task{0};
  std::size_t workers_inside = 0;  // guarded by the pool's mutex
  std::exception_ptr first_exception;  // guarded by the pool's mutex

  bool has_unclaimed() const noexcept { return next_task.load(std::memory_order_relaxed) < task_count; }
};

}  // namespace

struct Executor::Pool {
  std::mutex mutex;
  ConditionVariable work_available;
  ConditionVariable worker_left;
  // Jobs that may still have unclaimed tasks, newest last. Workers take the
  // newest, so nested work (which the outer work waits for) goes first.
  std::vector<Job*> jobs;
  bool stopping = false;
  std::vector<std::thread> threads;

  // Claims and runs tasks of `job` until none is left. Exceptions are kept
  // for the caller of parallel_for.
  void work_on(Job& job) {
    for (;;) {
      const std::size_t task_idx = job.next_task.fetch_add(1, std::memory_order_relaxed);
      if (task_idx >= job.task_count) return;
      try {
        job.function(job.state, task_idx);
      } catch (...) {
        std::lock_guard<std::mutex> lock(mutex);
        if (!job.first_exception) job.first_exception = std::current_exception();
      }
    }
  }

  Job* newest_open_job() noexcept {
    for (auto job = jobs.rbegin(); job != jobs.rend(); ++job) {
      if ((*job)->has_unclaimed()) return *job;
    }
    return nullptr;
  }

  void worker_loop() {
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
      Job* job = nullptr;
      work_available.wait(lock, [&] { return stopping || (job = newest_open_job()) != nullptr; });
      if (stopping) return;
      // The job stays alive while a worker is inside: its caller waits for
      // workers_inside to drop to zero before it returns.
      ++job->workers_inside;
      lock.unlock();
      work_on(*job);
      lock.lock();
      if (--job->workers_inside == 0) worker_left.notify_all();
    }
  }
};

Executor::Executor(std::size_t thread_count) : thread_count_(thread_count < 1 ? 1 : thread_count) {
  if (thread_count_ == 1) return;
  pool_ = std::make_unique<Pool>();
  pool_->threads.reserve(thread_count_ - 1);
  for (std::size_t thread_idx = 1; thread_idx < thread_count_; ++thread_idx) {
    pool_->threads.emplace_back([pool = pool_.get()] { pool->worker_loop(); });
  }
}

Executor::~Executor() {
  if (!pool_) return;
  {
    std::lock_guard<std::mutex> lock(pool_->mutex);
    pool_->stopping = true;
  }
  pool_->work_available.notify_all();
  for (std::thread& thread : pool_->threads) thread.join();
}

void Executor::run(std::size_t task_count, TaskFunction function, void* state) {
  if (task_count == 0) return;
  if (!pool_ || task_count == 1) {
    for (std::size_t task_idx = 0; task_idx < task_count; ++task_idx) function(state, task_idx);
    return;
  }
  Pool& pool = *pool_;
  Job job(task_count, function, state);
  {
    std::lock_guard<std::mutex> lock(pool.mutex);
    pool.jobs.push_back(&job);
  }
  pool.work_available.notify_all();
  pool.work_on(job);
  std::exception_ptr exception;
  {
    std::unique_lock<std::mutex> lock(pool.mutex);
    std::erase(pool.jobs, &job);
    // Every task is claimed; wait for the workers still running one.
    pool.worker_left.wait(lock, [&] { return job.workers_inside == 0; });
    exception = job.first_exception;
  }
  if (exception) std::rethrow_exception(exception);
}

std::size_t Executor::usable_cpu_count() noexcept {
#if defined(__linux__)
  cpu_set_t mask;
  CPU_ZERO(&mask);
  if (sched_getaffinity(0, sizeof mask, &mask) == 0) {
    const int count = CPU_COUNT(&mask);
    if (count > 0) return static_cast<std::size_t>(count);
  }
#endif
  const unsigned count = std::thread::hardware_concurrency();
  return count == 0 ? 1 : count;
}

}  // namespace nolt
