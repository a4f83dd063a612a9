#include "base/console.hpp"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

namespace base::console {

namespace {

using Clock = std::chrono::steady_clock;

std::atomic<bool> g_outputFailed{false};
std::atomic<bool> g_journalLevels{false};
// Held around every write to stdout or stderr and around a change of sink, by nothing else.
// A plain mutex taken by polling try_lock where a wait must be bounded: ThreadSanitizer does
// not see the lock of timed_mutex::try_lock_until (pthread_mutex_clocklock) and reports its
// unlock as foreign.
std::mutex g_writing;
Sink g_sink;  // guarded by g_writing

bool writeAll(int fd, std::string_view data) {
  if (g_sink) {
    g_sink(fd, data);
    return true;
  }
  while (!data.empty()) {
    const ssize_t written = ::write(fd, data.data(), data.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<size_t>(written));
  }
  return true;
}

void writeLocked(int fd, std::string_view data) {
  std::lock_guard<std::mutex> lock(g_writing);
  if (!writeAll(fd, data) && fd == STDOUT_FILENO) g_outputFailed = true;
}

void writeLine(int fd, std::string_view text, std::string_view level = {}) {
  std::string whole;
  whole.reserve(level.size() + text.size() + 1);
  if (g_journalLevels) whole.append(level);
  whole.append(text);
  whole.push_back('\n');
  writeLocked(fd, whole);
}

bool lockBy(std::unique_lock<std::mutex>& lock, Clock::time_point until) {
  while (!lock.try_lock()) {
    if (Clock::now() >= until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

// Waits until stdout has room, at most until `until`.
bool roomBy(Clock::time_point until) {
  for (;;) {
    pollfd out{STDOUT_FILENO, POLLOUT, 0};
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now()).count();
    const int ready = ::poll(&out, 1, static_cast<int>(std::max<decltype(left)>(left, 0)));
    if (ready >= 0 || errno != EINTR) return ready > 0;
  }
}

}  // namespace

void line(std::string_view text) { writeLine(STDOUT_FILENO, text); }

void errorLine(std::string_view text) { writeLine(STDERR_FILENO, text, "<3>"); }

void warningLine(std::string_view text) { writeLine(STDERR_FILENO, text, "<4>"); }

void useJournalLevels() { g_journalLevels = true; }

void block(std::string_view text) { writeLocked(STDOUT_FILENO, text); }

bool lineWithin(std::string_view text, std::chrono::milliseconds patience) {
  const auto until = Clock::now() + patience;
  std::unique_lock<std::mutex> lock(g_writing, std::defer_lock);
  // Once poll finds room (a free page of a pipe), a line shorter than PIPE_BUF goes in whole.
  if (!lockBy(lock, until) || !roomBy(until)) return false;
  if (writeAll(STDOUT_FILENO, std::string(text) + '\n')) return true;
  g_outputFailed = true;
  return false;
}

bool outputFailed() { return g_outputFailed; }

void prepareDescriptors() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1) continue;
    if (fd == STDOUT_FILENO) g_outputFailed = true;
    // open() takes the lowest free descriptor, which is this one.
    ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
  }
}

void setSink(Sink sink) {
  std::lock_guard<std::mutex> lock(g_writing);
  g_sink = std::move(sink);
}

}  // namespace base::console
