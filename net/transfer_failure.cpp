#include "net/transfer_failure.hpp"

#include <string>

#include "base/deadline.hpp"
#include "net/http.hpp"

namespace net {

namespace {

// What may go right when the same request is sent again on a new connection.
bool transient(CURLcode code) {
  switch (code) {
    case CURLE_COULDNT_CONNECT:
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE: return true;
    default: return false;
  }
}

}  // namespace

void throwTransferFailure(const TransferEnd& end) {
  const bool timedOut = end.idle || end.code == CURLE_OPERATION_TIMEDOUT;
  if (timedOut && (end.deadlinePassed || end.deadlineOnly)) throw base::TimeoutException(base::deadline::seconds());
  if (end.idle) {
    throw RequestException("Operation timed out after " + std::to_string(end.elapsed.count()) + " milliseconds with " +
                               std::to_string(end.received) + " bytes received",
                           true);
  }
  if (end.tooLarge) {
    throw RequestException("Response body larger than the limit of " + std::to_string(MAX_BODY_BYTES) + " bytes");
  }
  if (end.code == CURLE_SSL_CACERT_BADFILE && !end.trustError.empty())
    throw RequestException(std::string(end.trustError));
  throw RequestException(end.detail.empty() ? curl_easy_strerror(end.code) : std::string(end.detail),
                         transient(end.code));
}

}  // namespace net
