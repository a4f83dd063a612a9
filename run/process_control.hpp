// Our process-control layer: the run-time limit and the hand-over to a background run.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>

namespace run {

/// Signals that the run-time limit has expired. Its text is printed as one line.
class TimeoutException : public std::runtime_error {
 public:
  explicit TimeoutException(int segundos);
};

/// While alive, every wait of the program observes one process-wide deadline.
/// Leaving the guard ends the limit. A watchdog backs the deadline up: should the
/// main thread not reach its handler shortly after expiry, the watchdog prints the
/// time-out text and ends the process itself.
class RuntimeGuard {
 public:
  explicit RuntimeGuard(int segundos);
  ~RuntimeGuard();
  RuntimeGuard(const RuntimeGuard&) = delete;
  RuntimeGuard& operator=(const RuntimeGuard&) = delete;

 private:
  void vigiar(std::chrono::steady_clock::time_point limite);

  int segundos_;
  std::mutex mutex_;
  std::condition_variable cv_;
  bool encerrado_ = false;
  std::thread vigia_;
};

/// Starts the limit of `seconds` and returns its guard.
[[nodiscard]] RuntimeGuard runtime_limiter(int seconds);

namespace prazo {

using Relogio = std::chrono::steady_clock;

/// The active deadline, if a guard is alive.
std::optional<Relogio::time_point> atual();

/// The limit, in seconds, of the active guard (0 without one).
int segundos();

/// Throws TimeoutException when the active deadline has passed.
void verificar();

}  // namespace prazo

/// Claims the right to end the run on expiry; true for the first caller only, so that
/// the time-out text is printed once whether the main thread or the watchdog gets there.
bool reivindicarEncerramento();

/// Starts this same program again as a detached background process (new session,
/// standard streams on /dev/null, no other descriptor inherited) with the mode after
/// the first "launch_" and the current settings; returns at once.
void launch(const std::string& mode);

}  // namespace run
