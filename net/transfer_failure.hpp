// How a transfer that libcurl did not complete is reported: one place from a CURLcode to
// the program's failures.
#pragma once

#include <curl/curl.h>

#include <chrono>
#include <cstddef>
#include <string_view>

namespace net {

/// What a transfer that did not complete left behind.
struct TransferEnd {
  CURLcode code = CURLE_OK;
  std::string_view detail;      // libcurl's error buffer; empty when it wrote none
  std::string_view trustError;  // why the trust store could not be loaded; empty when it was
  bool tooLarge = false;        // the answer passed MAX_BODY_BYTES
  bool idle = false;            // the bound on one wait struck
  std::chrono::milliseconds elapsed{0};
  std::size_t received = 0;     // body bytes received
  bool deadlinePassed = false;  // the run's deadline, when it ended
  bool deadlineOnly = false;    // the deadline was the transfer's only bound in time
};

/// Throws what the end stands for: base::TimeoutException for a time-out once the run's
/// deadline has passed, whichever bound libcurl met first, or when the deadline was the only
/// bound there was; RequestException otherwise, transient when the same request may go
/// right on a new connection.
[[noreturn]] void throwTransferFailure(const TransferEnd& end);

}  // namespace net
