// The configuration-string parser. Any text either parses or throws IngressError; what
// parses writes back to a string that parses to the same configuration; and the string
// the store builds from the command line gives back its user name and password whenever
// the host and port hold no ';' (they are put in unescaped).
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>

#include "fuzz/check.hpp"
#include "store/ingestion.hpp"
#include "store/store.hpp"

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
  store::ConfiguracaoSender lida;
  try {
    lida = store::lerConfiguracao(conf);
  } catch (const store::IngressError&) {
    return;
  }
  fuzz::exigir(lida.esquema == "http" || lida.esquema == "https", "unknown schema accepted");
  fuzz::exigir(lida.porta >= 1 && lida.porta <= 65535, "port out of range accepted");
  fuzz::exigir(!lida.host.empty(), "empty host accepted");
  fuzz::exigir(lida.username.has_value() == lida.password.has_value(), "user name without password");
  std::string escrita = lida.esquema + "::addr=" + dobrar(lida.host) + ":" + std::to_string(lida.porta) + ";";
  if (lida.username) escrita += "username=" + dobrar(*lida.username) + ";password=" + dobrar(*lida.password) + ";";
  fuzz::exigir(store::lerConfiguracao(escrita) == lida, "configuration did not survive being written back");
}

void linhaDeComando(FuzzedDataProvider& dados) {
  const std::string ip = dados.ConsumeRandomLengthString(32);
  const std::string porta = dados.ConsumeRandomLengthString(8);
  const std::string usuario = dados.ConsumeRandomLengthString(32);
  const std::string senha = dados.ConsumeRemainingBytesAsString();
  const std::string conf = store::montarConf(ip, porta, usuario, senha);
  store::ConfiguracaoSender lida;
  try {
    lida = store::lerConfiguracao(conf);
  } catch (const store::IngressError&) {
    return;
  }
  // The host and port go in as given; only with no ';' in them do they keep to their keys.
  if (ip.find(';') != std::string::npos || porta.find(';') != std::string::npos) return;
  fuzz::exigir(lida.esquema == "https", "not https");
  fuzz::exigir(lida.username == usuario && lida.password == senha, "user name or password changed on the way");
  if (porta.find(':') == std::string::npos) {
    fuzz::exigir(lida.host == ip && std::to_string(lida.porta) == porta.substr(porta.find_first_not_of('0')),
                 "address changed on the way");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  qualquerTexto(std::string_view(reinterpret_cast<const char*>(data), size));
  FuzzedDataProvider dados(data, size);
  linhaDeComando(dados);
  return 0;
}
