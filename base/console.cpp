#include "base/console.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <mutex>
#include <string>

namespace base::console {

namespace {

std::atomic<bool> g_outputFailed{false};
// Held around every write to stdout or stderr, and by nothing else.
std::timed_mutex g_writing;

bool writeAll(int fd, std::string_view data) {
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
  std::lock_guard<std::timed_mutex> lock(g_writing);
  if (!writeAll(fd, data) && fd == STDOUT_FILENO) g_outputFailed = true;
}

void writeLine(int fd, std::string_view text) {
  std::string whole;
  whole.reserve(text.size() + 1);
  whole.append(text);
  whole.push_back('\n');
  writeLocked(fd, whole);
}

}  // namespace

void line(std::string_view text) { writeLine(STDOUT_FILENO, text); }

void errorLine(std::string_view text) { writeLine(STDERR_FILENO, text); }

void block(std::string_view text) { writeLocked(STDOUT_FILENO, text); }

bool outputFailed() { return g_outputFailed; }

void prepareDescriptors() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1) continue;
    if (fd == STDOUT_FILENO) g_outputFailed = true;
    // open() takes the lowest free descriptor, which is this one.
    ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
  }
}

}  // namespace base::console
