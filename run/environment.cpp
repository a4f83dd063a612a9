#include "run/environment.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "run/config.hpp"

namespace run {

std::string caBundle() {
  const char* pedido = std::getenv("SSL_CERT_FILE");
  return pedido && *pedido ? pedido : config::CA_BUNDLE;
}

std::string caminhoSaude() {
  const char* caminho = std::getenv("COLETOR_METRICS_FILE");
  return caminho ? caminho : "";
}

std::optional<std::string> caminhoConfiguracao() {
  const char* caminho = std::getenv("COLETOR_CONFIG");
  return caminho ? std::optional<std::string>(caminho) : std::nullopt;
}

bool erroPadraoNoJornal() {
  const char* fluxo = std::getenv("JOURNAL_STREAM");
  struct stat estado {};
  if (fluxo == nullptr || ::fstat(STDERR_FILENO, &estado) != 0) return false;
  // "device:inode", both in decimal.
  return fluxo == std::to_string(estado.st_dev) + ":" + std::to_string(estado.st_ino);
}

}  // namespace run
