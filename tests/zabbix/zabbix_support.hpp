// Shared bits of the Zabbix client tests: the worker's arguments, canned answers, captured output.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "zabbix/worker.hpp"

namespace zabbix_support {

inline constexpr const char* URL = "https://zbx.cliente.example/api_jsonrpc.php";
inline constexpr const char* USUARIO = "coletor";
inline constexpr const char* SENHA = "s3nh@";

/// The worker with our Zabbix credentials, in debug or normal mode.
struct Trabalhador {
  net::Credentials credenciais;
  bool debug = false;

  records::RegistroDescoberta operator()(net::HttpClient& http, const records::ClienteDados& item) const {
    return zabbix::processarCliente(http, item, credenciais, debug);
  }
};

inline Trabalhador configurar(bool debug, std::string usuario = USUARIO, std::string senha = SENHA) {
  return {{std::move(usuario), std::move(senha)}, debug};
}

inline std::string loginOk(const std::string& token) {
  return R"({"jsonrpc":"2.0","result":")" + token + R"(","id":1})";
}
inline std::string itens(const std::string& lastvalue) {
  return R"({"jsonrpc":"2.0","result":[{"itemid":"44","name":"PPPoE","lastvalue":)" + lastvalue + "}],\"id\":1}";
}
inline constexpr const char* LOGOUT_OK = R"({"jsonrpc":"2.0","result":true,"id":1})";
inline constexpr const char* LOGIN_RECUSADO =
    R"({"jsonrpc":"2.0","error":{"code":-32500,"message":"Application error.","data":"Login name or password is incorrect."},"id":1})";

/// Runs `acao` and returns what it wrote on standard output.
template <class Acao>
std::string saidaDe(Acao&& acao) {
  testing::internal::CaptureStdout();
  try {
    acao();
  } catch (...) {
    testing::internal::GetCapturedStdout();
    throw;
  }
  return testing::internal::GetCapturedStdout();
}

}  // namespace zabbix_support
