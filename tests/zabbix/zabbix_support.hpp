// Shared bits of the Zabbix client tests: the worker's arguments, canned answers, captured output.
#pragma once

#include <string>
#include <utility>

#include "tests/support/console_capture.hpp"
#include "zabbix/worker.hpp"

namespace zabbix_support {

inline constexpr const char* URL = "https://zbx.cliente.example/api_jsonrpc.php";
inline constexpr const char* USER = "coletor";
inline constexpr const char* PASSWORD = "s3nh@";

/// The worker with our Zabbix credentials, in debug or normal mode.
struct Worker {
  net::Credentials credentials;
  bool debug = false;

  records::RegistroDescoberta operator()(net::HttpClient& http, const records::ClienteDados& item) const {
    return zabbix::processarCliente(http, item, credentials, debug);
  }
};

inline Worker workerFor(bool debug, std::string user = USER, std::string password = PASSWORD) {
  return {{std::move(user), std::move(password)}, debug};
}

inline std::string loginOk(const std::string& token) {
  return R"({"jsonrpc":"2.0","result":")" + token + R"(","id":1})";
}
inline std::string items(const std::string& lastvalue) {
  return R"({"jsonrpc":"2.0","result":[{"itemid":"44","name":"PPPoE","lastvalue":)" + lastvalue + "}],\"id\":1}";
}
inline constexpr const char* LOGOUT_OK = R"({"jsonrpc":"2.0","result":true,"id":1})";
inline constexpr const char* LOGIN_REFUSED =
    R"({"jsonrpc":"2.0","error":{"code":-32500,"message":"Application error.","data":"Login name or password is incorrect."},"id":1})";

/// Runs `action` and returns what it wrote on standard output.
template <class Action>
std::string outputOf(Action&& action) {
  testing_support::ConsoleCapture console;
  action();
  return console.out();
}

}  // namespace zabbix_support
