#include "run/version.hpp"

#include "run/config.hpp"
#include "run/console.hpp"
#include "run/constants.hpp"
#include "run/settings.hpp"

namespace run {

std::string nomeExibido(std::string nome) {
  for (std::size_t pos = nome.find("./"); pos != std::string::npos; pos = nome.find("./", pos + 1)) {
    nome.replace(pos, 2, " ");
  }
  return nome;
}

void get_version() {
  console::linha(config::RIGHTS_NOTICE);
  console::linha(nomeExibido(settings().nomeInvocacao) + "  " + std::string(VERSION));
}

}  // namespace run
