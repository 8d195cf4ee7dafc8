#include "deep_stack.hpp"

#include <pthread.h>

#include <cerrno>
#include <cstdint>
#include <exception>
#include <limits>
#include <system_error>

namespace tessary::deep_stack {
namespace {

// Lowest usable address of this thread's stack (above its guard area), or 0 when unknown.
std::uintptr_t read_stack_floor() noexcept {
  pthread_attr_t attr;
  if (pthread_getattr_np(pthread_self(), &attr) != 0) return 0;
  void* base = nullptr;
  std::size_t size = 0;
  std::size_t guard = 0;
  std::uintptr_t floor = 0;
  if (pthread_attr_getstack(&attr, &base, &size) == 0) {
    if (pthread_attr_getguardsize(&attr, &guard) != 0) guard = 0;
    floor = reinterpret_cast<std::uintptr_t>(base) + guard;
  }
  pthread_attr_destroy(&attr);
  return floor;
}

struct Job {
  const std::function<void()>* body;
  std::exception_ptr failure;
};

void* run_job(void* arg) noexcept {
  Job* job = static_cast<Job*>(arg);
  try {
    (*job->body)();
  } catch (...) {
    job->failure = std::current_exception();
  }
  return nullptr;
}

}  // namespace

std::size_t remaining() noexcept {
  // Read once per thread: the bounds of a thread's stack do not change.
  thread_local const std::uintptr_t floor = read_stack_floor();
  const auto here = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
  if (floor == 0 || here <= floor) return floor == 0 ? std::numeric_limits<std::size_t>::max() : 0;
  return here - floor;
}

void run_on_helper(const std::function<void()>& body) {
  pthread_attr_t attr;
  int rc = pthread_attr_init(&attr);
  if (rc != 0) throw std::system_error(rc, std::generic_category(), "pthread_attr_init");
  rc = pthread_attr_setstacksize(&attr, kHelperBytes);
  Job job{&body, nullptr};
  pthread_t thread;
  if (rc == 0) rc = pthread_create(&thread, &attr, run_job, &job);
  pthread_attr_destroy(&attr);
  if (rc != 0) throw std::system_error(rc, std::generic_category(), "starting a deep-stack thread");
  pthread_join(thread, nullptr);
  if (job.failure) std::rethrow_exception(job.failure);
}

}  // namespace tessary::deep_stack
