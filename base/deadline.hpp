// The run-time limit: one process-wide deadline that every wait of the program observes.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <thread>

namespace base {

/// Signals that the run-time limit has expired. Its text is printed as one line.
class TimeoutException : public std::runtime_error {
 public:
  explicit TimeoutException(int seconds);
};

/// Told the exit status the process is about to end with once the limit has struck.
using LastWords = std::function<void(int status)>;

/// While alive, every wait of the program observes one process-wide deadline.
/// Leaving the guard ends the limit. A watchdog backs the deadline up: should the
/// main thread not reach its handler shortly after expiry, the watchdog ends the
/// process itself (endOnTimeout).
class RuntimeGuard {
 public:
  explicit RuntimeGuard(int seconds, LastWords lastWords = {});
  ~RuntimeGuard();
  RuntimeGuard(const RuntimeGuard&) = delete;
  RuntimeGuard& operator=(const RuntimeGuard&) = delete;

 private:
  void watch(std::chrono::steady_clock::time_point limit);

  int seconds_;
  LastWords lastWords_;
  std::mutex mutex_;
  std::condition_variable cv_;
  bool ended_ = false;
  std::thread watchdog_;
};

/// Starts the limit of `seconds` and returns its guard.
[[nodiscard]] RuntimeGuard runtime_limiter(int seconds, LastWords lastWords = {});

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

/// Ends the process once the limit has struck: `lastWords` first, so that a stdout nobody
/// reads cannot hold them back, then the time-out `text` as one line, waited for about a
/// second at most, then exit with STATUS_OK (STATUS_OUTPUT_LOST once a write to stdout has
/// failed, told to `lastWords` again if the line itself failed). No library is shut down:
/// workers may still be inside a request.
[[noreturn]] void endOnTimeout(std::string_view text, const LastWords& lastWords);

}  // namespace base
