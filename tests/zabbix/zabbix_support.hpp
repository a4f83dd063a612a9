// Shared bits of the Zabbix client tests: settings, canned answers, captured output.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "run/settings.hpp"

namespace zabbix_support {

inline constexpr const char* URL = "https://zbx.cliente.example/api_jsonrpc.php";
inline constexpr const char* USUARIO = "coletor";
inline constexpr const char* SENHA = "s3nh@";

/// Full command line with our Zabbix credentials, in debug or normal mode.
inline void configurar(bool debug, std::string usuario = USUARIO, std::string senha = SENHA) {
  run::Settings s;
  s.mode = "descobertaPPPoE";
  s.usuarioZabbix = std::move(usuario);
  s.senhaZabbix = std::move(senha);
  s.usuarioTQ = s.senhaTQ = s.questDbIp = s.questDbPort = s.questDbUser = s.questDbPass = "";
  s.zabbixHost = debug ? "debug" : "127.0.0.1";
  run::fixarSettings(std::move(s));
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
