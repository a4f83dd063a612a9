// The run-time limit: one process-wide deadline that every wait of the program observes.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>

namespace base {

/// Signals that the run-time limit has expired. Its text is printed as one line.
class TimeoutException : public std::runtime_error {
 public:
  explicit TimeoutException(int seconds);
};

/// While alive, every wait of the program observes one process-wide deadline.
/// Leaving the guard ends the limit. A watchdog backs the deadline up: should the
/// main thread not reach its handler shortly after expiry, the watchdog prints the
/// time-out text, runs `lastWords` and ends the process itself.
class RuntimeGuard {
 public:
  explicit RuntimeGuard(int seconds, std::function<void()> lastWords = {});
  ~RuntimeGuard();
  RuntimeGuard(const RuntimeGuard&) = delete;
  RuntimeGuard& operator=(const RuntimeGuard&) = delete;

 private:
  void watch(std::chrono::steady_clock::time_point limit);

  int seconds_;
  std::function<void()> lastWords_;
  std::mutex mutex_;
  std::condition_variable cv_;
  bool ended_ = false;
  std::thread watchdog_;
};

/// Starts the limit of `seconds` and returns its guard.
[[nodiscard]] RuntimeGuard runtime_limiter(int seconds, std::function<void()> lastWords = {});

namespace deadline {

using Clock = std::chrono::steady_clock;

/// The active deadline, if a guard is alive.
std::optional<Clock::time_point> current();

/// The limit, in seconds, of the active guard (0 without one).
int seconds();

/// Throws TimeoutException when the active deadline has passed.
void check();

/// True once the active deadline has passed.
bool passed();

}  // namespace deadline

/// Claims the right to end the run on expiry; true for the first caller only, so that
/// the time-out text is printed once whether the main thread or the watchdog gets there.
bool claimEnding();

}  // namespace base
