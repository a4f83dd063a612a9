#include "net/transfer_failure.hpp"

#include <gtest/gtest.h>

#include <string>

#include "base/deadline.hpp"
#include "net/http.hpp"

namespace {

using std::chrono::milliseconds;

struct Outcome {
  std::string kind;  // "timeout" or "request"
  std::string message;
  bool transient = false;
};

Outcome outcomeOf(const net::TransferEnd& end) {
  try {
    net::throwTransferFailure(end);
  } catch (const base::TimeoutException& e) {
    return {"timeout", e.what(), false};
  } catch (const net::RequestException& e) {
    return {"request", e.what(), e.transient()};
  }
  return {};
}

const std::string TIME_OUT = base::TimeoutException(0).what();

// Every case ends after 5002 ms with 17 bytes of body.
struct Case {
  const char* name;
  CURLcode code;
  const char* detail;
  const char* trustError;
  bool tooLarge, idle, deadlinePassed, deadlineOnly;
  Outcome expected;
};

TEST(TransferFailure, EachEndIsTheFailureItStandsFor) {
  const Case cases[] = {
      {"connect bound before the deadline",
       CURLE_OPERATION_TIMEDOUT,
       "Connection timed out after 5001 milliseconds",
       "",
       false,
       false,
       false,
       false,
       {"request", "Connection timed out after 5001 milliseconds", true}},
      {"libcurl's time-out once the deadline has passed",
       CURLE_OPERATION_TIMEDOUT,
       "SSL connection timeout",
       "",
       false,
       false,
       true,
       false,
       {"timeout", TIME_OUT}},
      {"the bound on one wait",
       CURLE_ABORTED_BY_CALLBACK,
       "Callback aborted",
       "",
       false,
       true,
       false,
       false,
       {"request", "Operation timed out after 5002 milliseconds with 17 bytes received", true}},
      {"the bound on one wait once the deadline has passed",
       CURLE_ABORTED_BY_CALLBACK,
       "",
       "",
       false,
       true,
       true,
       false,
       {"timeout", TIME_OUT}},
      {"a reset once the deadline has passed stays a request failure",
       CURLE_RECV_ERROR,
       "Recv failure: Connection reset by peer",
       "",
       false,
       false,
       true,
       false,
       {"request", "Recv failure: Connection reset by peer", true}},
      {"an oversized answer",
       CURLE_WRITE_ERROR,
       "Failure writing output to destination",
       "",
       true,
       false,
       false,
       false,
       {"request", "Response body larger than the limit of 67108864 bytes", false}},
      {"a trust store that could not be loaded",
       CURLE_SSL_CACERT_BADFILE,
       "error setting certificate file",
       "no store",
       false,
       false,
       false,
       false,
       {"request", "no store", false}},
      {"no detail from libcurl",
       CURLE_COULDNT_CONNECT,
       "",
       "",
       false,
       false,
       false,
       false,
       {"request", "Couldn't connect to server", true}},
      {"a certificate that cannot be trusted",
       CURLE_PEER_FAILED_VERIFICATION,
       "SSL certificate problem: certificate has expired",
       "",
       false,
       false,
       false,
       false,
       {"request", "SSL certificate problem: certificate has expired", false}},
      {"libcurl's time-out of a request the deadline alone bounds, before our clock says it passed",
       CURLE_OPERATION_TIMEDOUT,
       "Connection timed out after 299999 milliseconds",
       "",
       false,
       false,
       false,
       true,
       {"timeout", TIME_OUT}},
      {"a reset of a request the deadline alone bounds",
       CURLE_SEND_ERROR,
       "Send failure: Broken pipe",
       "",
       false,
       false,
       false,
       true,
       {"request", "Send failure: Broken pipe", true}},
  };
  for (const auto& c : cases) {
    const Outcome got = outcomeOf(
        {c.code, c.detail, c.trustError, c.tooLarge, c.idle, milliseconds(5002), 17, c.deadlinePassed, c.deadlineOnly});
    EXPECT_EQ(got.kind, c.expected.kind) << c.name;
    EXPECT_EQ(got.message, c.expected.message) << c.name;
    EXPECT_EQ(got.transient, c.expected.transient) << c.name;
  }
}

}  // namespace
