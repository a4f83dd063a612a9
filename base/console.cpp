#include "base/console.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <string>

namespace base::console {

namespace {

std::atomic<bool> g_outputFailed{false};
std::atomic<bool> g_journalLevels{false};

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

void writeLine(int fd, std::string_view text, std::string_view level = {}) {
  std::string whole;
  whole.reserve(level.size() + text.size() + 1);
  if (g_journalLevels) whole.append(level);
  whole.append(text);
  whole.push_back('\n');
  if (!writeAll(fd, whole) && fd == STDOUT_FILENO) g_outputFailed = true;
}

}  // namespace

void line(std::string_view text) { writeLine(STDOUT_FILENO, text); }

void errorLine(std::string_view text) { writeLine(STDERR_FILENO, text, "<3>"); }

void warningLine(std::string_view text) { writeLine(STDERR_FILENO, text, "<4>"); }

void useJournalLevels() { g_journalLevels = true; }

void block(std::string_view text) {
  if (!writeAll(STDOUT_FILENO, text)) g_outputFailed = true;
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

}  // namespace base::console
