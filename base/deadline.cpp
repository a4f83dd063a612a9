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
// How long the time-out line may wait for the console and for stdout.
constexpr std::chrono::milliseconds LINE_PATIENCE{1000};

std::string timeoutText(int seconds) {
  return "Tempo limite de execução atingido (" + std::to_string(seconds) + " s): execução interrompida.";
}

}  // namespace

TimeoutException::TimeoutException(int seconds) : std::runtime_error(timeoutText(seconds)) {}

RuntimeGuard::RuntimeGuard(int seconds, LastWords lastWords) : seconds_(seconds), lastWords_(std::move(lastWords)) {
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
  if (claimEnding()) endOnTimeout(timeoutText(seconds_), lastWords_);
}

RuntimeGuard runtime_limiter(int seconds, LastWords lastWords) { return RuntimeGuard(seconds, std::move(lastWords)); }

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

void endOnTimeout(std::string_view text, const LastWords& lastWords) {
  const auto status = [] { return console::outputFailed() ? STATUS_OUTPUT_LOST : STATUS_OK; };
  const int before = status();
  if (lastWords) lastWords(before);
  console::lineWithin(text, LINE_PATIENCE);
  const int after = status();
  if (after != before && lastWords) lastWords(after);
  std::_Exit(after);
}

}  // namespace base
