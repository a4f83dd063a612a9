// Reads what the console writes: while one lives, stdout and stderr lines land here instead.
#pragma once

#include <unistd.h>

#include <string>
#include <string_view>

#include "base/console.hpp"

namespace testing_support {

class ConsoleCapture {
 public:
  ConsoleCapture() {
    base::console::setSink([this](int fd, std::string_view data) { (fd == STDOUT_FILENO ? out_ : err_) += data; });
  }
  ~ConsoleCapture() { base::console::setSink({}); }
  ConsoleCapture(const ConsoleCapture&) = delete;
  ConsoleCapture& operator=(const ConsoleCapture&) = delete;

  /// What went to stdout so far.
  const std::string& out() const { return out_; }
  /// What went to stderr so far.
  const std::string& err() const { return err_; }

 private:
  std::string out_;
  std::string err_;
};

}  // namespace testing_support
