#pragma once
// Deeply nested queries recurse deeply: the recognizer, the builder and the checks each take
// one or more frames per level of nesting, up to their nesting bounds. A thread with a small
// stack (a Python thread after threading.stack_size(), a host's own worker thread) would
// overflow on a query near those bounds, so a call that may recurse that deep goes through
// `deep_stack::call`: it runs on the calling thread when enough stack is left there, and
// otherwise on a helper thread with a large stack while the caller waits.
#include <cstddef>
#include <functional>
#include <optional>
#include <type_traits>
#include <utility>

namespace tessary::deep_stack {

// Stack that parsing and validating a query at the nesting bounds may use, with ample room.
inline constexpr std::size_t kNeededBytes = std::size_t{2} << 20;
// Stack size of the helper thread.
inline constexpr std::size_t kHelperBytes = std::size_t{16} << 20;

// Bytes of stack left on the calling thread below the caller's frame; SIZE_MAX when the
// thread's stack bounds cannot be read.
std::size_t remaining() noexcept;

// Runs `body` on a new thread with a stack of kHelperBytes and waits for it. An exception
// thrown by `body` is rethrown here; failing to start the thread throws std::system_error.
void run_on_helper(const std::function<void()>& body);

// Calls `f()` on a stack with at least kNeededBytes left and returns its result.
template <class F>
std::invoke_result_t<F&> call(F&& f) {
  using R = std::invoke_result_t<F&>;
  if (remaining() >= kNeededBytes) return f();
  if constexpr (std::is_void_v<R>) {
    run_on_helper([&] { f(); });
  } else {
    std::optional<R> result;
    run_on_helper([&] { result.emplace(f()); });
    return std::move(*result);
  }
}

}  // namespace tessary::deep_stack
