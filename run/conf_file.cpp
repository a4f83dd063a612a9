#include "run/conf_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <map>

#include "run/command_line.hpp"

namespace run {

namespace {

// Handed to the environment, as a caller would have set them for the program.
constexpr std::array<std::string_view, 5> NOMES_AMBIENTE = {"COLETOR_METRICS_FILE", "SSL_CERT_FILE", "https_proxy",
                                                            "http_proxy", "no_proxy"};
// Named apart from REGISTRY_USER and REGISTRY_PASSWORD, which are accepted and never sent.
constexpr std::string_view CONTA_LOGIN = "COLLECTOR_ACCOUNT_LOGIN";
constexpr std::string_view CONTA_SENHA = "COLLECTOR_ACCOUNT_PASSWORD";
constexpr std::string_view BOM = "\xEF\xBB\xBF";

struct Valor {
  std::string texto;
  std::size_t linha;
};
using Valores = std::map<std::string, Valor, std::less<>>;

// Line 0: the file as a whole.
[[noreturn]] void recusar(const std::string& caminho, std::size_t linha, const std::string& motivo) {
  throw ConfiguracaoInvalida(caminho + (linha ? ":" + std::to_string(linha) : "") + ": " + motivo);
}

bool conhecido(std::string_view nome) {
  const auto em = [nome](const auto& nomes) { return std::find(nomes.begin(), nomes.end(), nome) != nomes.end(); };
  return em(NOMES_ARGUMENTOS) || em(NOMES_AMBIENTE) || nome == CONTA_LOGIN || nome == CONTA_SENHA;
}

bool nomeValido(std::string_view nome) {
  const auto letra = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; };
  return !nome.empty() && letra(nome[0]) &&
         std::all_of(nome.begin(), nome.end(), [&](char c) { return letra(c) || (c >= '0' && c <= '9'); });
}

// Blanks alone, or blanks and then '#'.
bool vaziaOuComentario(std::string_view linha) {
  const auto inicio = linha.find_first_not_of(" \t\v\f\r");
  return inicio == std::string_view::npos || linha[inicio] == '#';
}

void lerLinha(std::string_view linha, std::size_t numero, const std::string& caminho, Valores& valores) {
  if (linha.find('\r') != std::string_view::npos) {
    recusar(caminho, numero, "retorno de carro na linha (salvo com finais de linha do DOS?)");
  }
  if (linha.find('\0') != std::string_view::npos) recusar(caminho, numero, "byte nulo na linha");
  const auto igual = linha.find('=');
  const std::string nome(linha.substr(0, igual));
  if (igual == std::string_view::npos || !nomeValido(nome)) recusar(caminho, numero, "a linha não é NOME=valor");
  if (!conhecido(nome)) recusar(caminho, numero, "nome desconhecido " + nome);
  const auto [anterior, novo] = valores.try_emplace(nome, Valor{std::string(linha.substr(igual + 1)), numero});
  if (!novo) recusar(caminho, numero, nome + " repetido (já na linha " + std::to_string(anterior->second.linha) + ")");
}

Valores lerValores(std::string_view texto, const std::string& caminho) {
  if (texto.starts_with(BOM)) {
    recusar(caminho, 1, "marca de ordem de bytes no início do arquivo (salvo como UTF-8 com BOM?)");
  }
  Valores valores;
  for (std::size_t numero = 1; !texto.empty(); ++numero) {
    const auto fim = texto.find('\n');
    const std::string_view linha = texto.substr(0, fim);
    texto.remove_prefix(fim == std::string_view::npos ? texto.size() : fim + 1);
    if (!vaziaOuComentario(linha)) lerLinha(linha, numero, caminho, valores);
  }
  return valores;
}

std::string exigido(const Valores& valores, std::string_view nome, const std::string& caminho) {
  const auto valor = valores.find(nome);
  if (valor == valores.end()) recusar(caminho, 0, "falta " + std::string(nome));
  if (valor->second.texto.empty()) recusar(caminho, valor->second.linha, std::string(nome) + " vazio");
  return valor->second.texto;
}

struct Descritor {
  int fd;
  ~Descritor() {
    if (fd >= 0) ::close(fd);
  }
};

std::string conteudo(const std::string& caminho) {
  const auto falha = [&caminho](const std::string& motivo) {
    throw ConfiguracaoInvalida("não foi possível ler o arquivo de configuração " + caminho + ": " + motivo);
  };
  // Not blocked by a FIFO put in the file's place.
  const Descritor arquivo{::open(caminho.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK)};
  if (arquivo.fd < 0) falha(std::strerror(errno));
  struct stat estado {};
  if (::fstat(arquivo.fd, &estado) != 0) falha(std::strerror(errno));
  if (!S_ISREG(estado.st_mode)) falha("não é um arquivo comum");
  std::string texto;
  char bloco[4096];
  for (;;) {
    const ssize_t lido = ::read(arquivo.fd, bloco, sizeof bloco);
    if (lido == 0) return texto;
    if (lido > 0) {
      texto.append(bloco, static_cast<std::size_t>(lido));
    } else if (errno != EINTR) {
      falha(std::strerror(errno));
    }
  }
}

}  // namespace

ArquivoConfiguracao lerTextoConfiguracao(std::string_view texto, const std::string& caminho) {
  const Valores valores = lerValores(texto, caminho);
  ArquivoConfiguracao arquivo;
  for (const auto nome : NOMES_ARGUMENTOS) arquivo.argumentos.push_back(exigido(valores, nome, caminho));
  if (valores.contains(CONTA_LOGIN) || valores.contains(CONTA_SENHA)) {
    arquivo.conta = registry::Conta{exigido(valores, CONTA_LOGIN, caminho), exigido(valores, CONTA_SENHA, caminho)};
  }
  for (const auto nome : NOMES_AMBIENTE) {
    if (const auto valor = valores.find(nome); valor != valores.end())
      arquivo.ambiente.emplace_back(nome, valor->second.texto);
  }
  return arquivo;
}

ArquivoConfiguracao lerArquivoConfiguracao(const std::string& caminho) {
  return lerTextoConfiguracao(conteudo(caminho), caminho);
}

}  // namespace run
