// HTTP status codes as an operator reads them.
#pragma once

#include <string>

namespace net {

/// "HTTP 401 Unauthorized": the code and its reason phrase (RFC 9110), or the code alone
/// for one without a common phrase.
std::string statusText(long status);

}  // namespace net
