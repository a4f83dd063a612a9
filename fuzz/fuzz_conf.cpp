// The configuration-string parser. Any text either parses or throws IngressError; what
// parses writes back to a string that parses to the same configuration.
#include <cstdint>
#include <string>

#include "fuzz/check.hpp"
#include "store/ingestion.hpp"

namespace {

std::string dobrar(const std::string& texto) {
  std::string saida;
  for (const char c : texto) {
    saida.push_back(c);
    if (c == ';') saida.push_back(';');
  }
  return saida;
}

void qualquerTexto(std::string_view conf) {
  store::SenderOptions lida;
  try {
    lida = store::parseConf(conf);
  } catch (const store::IngressError&) {
    return;
  }
  fuzz::require(lida.scheme == "http" || lida.scheme == "https", "unknown schema accepted");
  fuzz::require(lida.port >= 1 && lida.port <= 65535, "port out of range accepted");
  fuzz::require(!lida.host.empty(), "empty host accepted");
  fuzz::require(lida.username.has_value() == lida.password.has_value(), "user name without password");
  std::string escrita = lida.scheme + "::addr=" + dobrar(lida.host) + ":" + std::to_string(lida.port) + ";";
  if (lida.username) escrita += "username=" + dobrar(*lida.username) + ";password=" + dobrar(*lida.password) + ";";
  escrita += "retry_timeout=" + std::to_string(lida.retry_timeout.count()) + ";";
  fuzz::require(store::parseConf(escrita) == lida, "configuration did not survive being written back");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  qualquerTexto(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}
