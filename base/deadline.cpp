#include "base/deadline.hpp"

#include <atomic>
#include <cstdlib>
#include <string>

#include "base/console.hpp"
#include "base/exit_status.hpp"

namespace base {

namespace {

using deadline::Clock;

// Deadline as steady-clock ticks, 0 while no guard is alive; read by every thread.
std::atomic<Clock::rep> g_deadline{0};
std::atomic<int> g_seconds{0};
std::atomic<bool> g_ending{false};

// Time the main thread gets to unwind and print before the watchdog steps in.
constexpr std::chrono::seconds WATCHDOG_GRACE{2};

std::string timeoutText(int seconds) {
  return "Tempo limite de execução atingido (" + std::to_string(seconds) + " s): execução interrompida.";
}

}  // namespace

TimeoutException::TimeoutException(int seconds) : std::runtime_error(timeoutText(seconds)) {}

RuntimeGuard::RuntimeGuard(int seconds, std::function<void()> lastWords)
    : seconds_(seconds), lastWords_(std::move(lastWords)) {
  const auto limit = Clock::now() + std::chrono::seconds(seconds);
  g_seconds = seconds;
  g_deadline = limit.time_since_epoch().count();
  watchdog_ = std::thread([this, limit] { watch(limit); });
}

RuntimeGuard::~RuntimeGuard() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ended_ = true;
  }
  cv_.notify_all();
  watchdog_.join();
  g_deadline = 0;
  g_seconds = 0;
}

void RuntimeGuard::watch(Clock::time_point limit) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (cv_.wait_until(lock, limit + WATCHDOG_GRACE, [this] { return ended_; })) return;
  if (!claimEnding()) return;
  console::line(timeoutText(seconds_));
  if (lastWords_) lastWords_();
  std::_Exit(console::outputFailed() ? STATUS_OUTPUT_LOST : STATUS_OK);
}

RuntimeGuard runtime_limiter(int seconds, std::function<void()> lastWords) {
  return RuntimeGuard(seconds, std::move(lastWords));
}

namespace deadline {

std::optional<Clock::time_point> current() {
  const auto ticks = g_deadline.load();
  if (ticks == 0) return std::nullopt;
  return Clock::time_point(Clock::duration(ticks));
}

int seconds() { return g_seconds; }

bool passed() {
  const auto limit = current();
  return limit && Clock::now() >= *limit;
}

void check() {
  if (passed()) throw TimeoutException(seconds());
}

}  // namespace deadline

bool claimEnding() { return !g_ending.exchange(true); }

}  // namespace base
