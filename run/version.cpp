#include "run/version.hpp"

#include "base/console.hpp"
#include "base/constants.hpp"
#include "run/config.hpp"

namespace run {

std::string nomeExibido(std::string nome) {
  for (std::size_t pos = nome.find("./"); pos != std::string::npos; pos = nome.find("./", pos + 1)) {
    nome.replace(pos, 2, " ");
  }
  return nome;
}

void get_version(const std::string& nomeInvocacao) {
  base::console::line(config::RIGHTS_NOTICE);
  base::console::line(nomeExibido(nomeInvocacao) + "  " + std::string(base::VERSION));
}

}  // namespace run
