#include "run/launch.hpp"

#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

#include <system_error>
#include <vector>

extern char** environ;

namespace run {

namespace {

// posix_spawn's two attribute objects, destroyed on every way out.
struct PreparoProcesso {
  posix_spawn_file_actions_t acoes;
  posix_spawnattr_t atributos;
  PreparoProcesso() {
    posix_spawn_file_actions_init(&acoes);
    posix_spawnattr_init(&atributos);
  }
  ~PreparoProcesso() {
    posix_spawn_file_actions_destroy(&acoes);
    posix_spawnattr_destroy(&atributos);
  }
  PreparoProcesso(const PreparoProcesso&) = delete;
  PreparoProcesso& operator=(const PreparoProcesso&) = delete;
};

}  // namespace

void launch(const LinhaComando& linha) {
  const std::string marca = "launch_";
  std::vector<std::string> argumentos{linha.nomeInvocacao, linha.mode.substr(linha.mode.find(marca) + marca.size())};
  argumentos.insert(argumentos.end(), linha.argumentos.begin(), linha.argumentos.end());
  std::vector<char*> argv;
  argv.reserve(argumentos.size() + 1);
  for (auto& argumento : argumentos) argv.push_back(argumento.data());
  argv.push_back(nullptr);

  PreparoProcesso preparo;
  for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
    posix_spawn_file_actions_addopen(&preparo.acoes, fd, "/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY, 0);
  }
  // Only the three streams: a caller waiting for the end of a pipe it gave us must not
  // wait for the whole background run.
  posix_spawn_file_actions_addclosefrom_np(&preparo.acoes, STDERR_FILENO + 1);
  posix_spawnattr_setflags(&preparo.atributos, POSIX_SPAWN_SETSID);
  pid_t filho = 0;
  const int erro = posix_spawn(&filho, "/proc/self/exe", &preparo.acoes, &preparo.atributos, argv.data(), environ);
  if (erro != 0) throw std::system_error(erro, std::generic_category(), "launch: não foi possível iniciar o processo");
}

}  // namespace run
