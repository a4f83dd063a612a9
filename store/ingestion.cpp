#include "store/ingestion.hpp"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <thread>

#include "net/json.hpp"
#include "base/deadline.hpp"

namespace store {

namespace {

IngressError confInvalida(const std::string& motivo) {
  return IngressError("configuração do QuestDB inválida: " + motivo);
}

// Reads one value up to its closing ';' (or the end); ";;" stands for one ';'.
std::string lerValor(std::string_view resto, std::size_t& i) {
  std::string valor;
  while (i < resto.size()) {
    const char c = resto[i++];
    if (c != ';') {
      valor.push_back(c);
    } else if (i < resto.size() && resto[i] == ';') {
      valor.push_back(';');
      ++i;
    } else {
      break;
    }
  }
  return valor;
}

bool soDigitos(std::string_view texto) {
  return !texto.empty() && std::all_of(texto.begin(), texto.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Messages name keys, never values: a value may be, or hold part of, the password.
void lerEndereco(const std::string& addr, SenderOptions& options) {
  const auto doisPontos = addr.rfind(':');
  if (doisPontos == std::string::npos) throw confInvalida("addr sem porta");
  options.host = addr.substr(0, doisPontos);
  if (!hostValido(options.host)) throw confInvalida("host de addr inválido");
  const auto porta = lerPorta(std::string_view(addr).substr(doisPontos + 1));
  if (!porta) throw confInvalida("porta de addr fora de 1 a 65535");
  options.port = *porta;
}

void atribuir(std::optional<std::string>& destino, const std::string& chave, std::string valor) {
  if (destino) throw confInvalida("chave '" + chave + "' repetida");
  destino = std::move(valor);
}

std::chrono::milliseconds lerRetryTimeout(const std::string& valor) {
  if (!soDigitos(valor) || valor.size() > 9) throw confInvalida("retry_timeout não é um número de milissegundos");
  return std::chrono::milliseconds(std::stol(valor));
}

// Statuses of a server or proxy that is restarting or overloaded; any other is final.
bool statusTransitorio(long status) {
  switch (status) {
    case 500: case 503: case 504: case 507: case 509: case 523: case 524: case 529: case 599:
      return true;
    default:
      return false;
  }
}

// A failure that sending the same rows again may overcome.
class FalhaTransitoria : public IngressError {
 public:
  using IngressError::IngressError;
};

// The rows are kept in blocks of this size: a buffer grown as one string would hold up to
// twice its rows while it grows.
constexpr std::size_t TAMANHO_BLOCO = std::size_t{64} * 1024;

constexpr std::chrono::milliseconds PRIMEIRA_PAUSA{10};
constexpr std::chrono::milliseconds MAIOR_PAUSA{1000};

// Sleeps, but never past the run's deadline: the limit wins over any retry.
void pausar(std::chrono::milliseconds pausa) {
  auto ate = std::chrono::steady_clock::now() + pausa;
  if (const auto prazo = base::deadline::current()) ate = std::min(ate, *prazo);
  std::this_thread::sleep_until(ate);
  base::deadline::check();
}

// Backslash before the bytes that would end a name or value early; UTF-8 passes as is.
void escapar(std::string& saida, std::string_view texto) {
  for (const char c : texto) {
    if (c == ' ' || c == ',' || c == '=' || c == '\\' || c == '\n' || c == '\r') saida.push_back('\\');
    saida.push_back(c);
  }
}

void exigirNome(std::string_view nome, const char* oQue) {
  if (nome.empty()) throw IngressError(std::string("nome de ") + oQue + " vazio");
}

void escreverValor(std::string& saida, const ValorColuna& valor) {
  if (const auto* inteiro = std::get_if<std::int64_t>(&valor)) {
    saida += std::to_string(*inteiro) + "i";
  } else {
    saida += std::to_string(std::get<TimestampMicros>(valor).micros) + "t";
  }
}

// The server's own words, on one line, so that the caller's report stays one line.
std::string umaLinha(const std::string& texto) {
  std::string saida;
  bool emQuebra = false;
  for (const char c : texto) {
    const bool quebra = c == '\n' || c == '\r' || c == '\t';
    if (quebra) {
      emQuebra = true;
      continue;
    }
    if (emQuebra && !saida.empty() && saida.back() != ' ') saida.push_back(' ');
    emQuebra = false;
    saida.push_back(c);
  }
  while (!saida.empty() && saida.back() == ' ') saida.pop_back();
  return saida;
}

std::string textoDoServidor(const net::HttpResponse& resposta) {
  try {
    const net::Json corpo = net::parseJson(resposta.body);
    if (corpo.is_object() && corpo.contains("message") && corpo["message"].is_string()) {
      std::string texto = umaLinha(corpo["message"].get<std::string>());
      if (corpo.contains("line") && corpo["line"].is_number()) texto += " [linha " + net::plainText(corpo["line"]) + "]";
      return texto;
    }
  } catch (const net::JsonError&) {
    // not JSON: a proxy's page or QuestDB's plain-text answer, given as it came
  }
  return umaLinha(resposta.body);
}

}  // namespace

bool hostValido(std::string_view host) {
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
    return std::all_of(host.begin() + 1, host.end() - 1,
                       [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) || c == ':' || c == '.'; });
  }
  return !host.empty() && host.size() <= 253 && std::all_of(host.begin(), host.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_';
  });
}

std::optional<int> lerPorta(std::string_view texto) {
  if (!soDigitos(texto) || texto.size() > 5) return std::nullopt;
  const int porta = std::stoi(std::string(texto));
  if (porta < 1 || porta > 65535) return std::nullopt;
  return porta;
}

SenderOptions parseConf(std::string_view conf) {
  const auto separador = conf.find("::");
  if (separador == std::string_view::npos) throw confInvalida("falta o esquema (http:: ou https::)");
  SenderOptions options;
  options.scheme = std::string(conf.substr(0, separador));
  if (options.scheme != "http" && options.scheme != "https") {
    throw confInvalida("esquema '" + options.scheme + "' não suportado");
  }
  const std::string_view resto = conf.substr(separador + 2);
  std::optional<std::string> addr;
  for (std::size_t i = 0; i < resto.size();) {
    const auto igual = resto.find('=', i);
    const std::string chave(resto.substr(i, igual == std::string_view::npos ? std::string_view::npos : igual - i));
    if (igual == std::string_view::npos || chave.empty() || chave.find(';') != std::string::npos) {
      throw confInvalida("esperado chave=valor; na posição " + std::to_string(separador + 2 + i));
    }
    i = igual + 1;
    std::string valor = lerValor(resto, i);
    if (chave == "addr") atribuir(addr, chave, std::move(valor));
    else if (chave == "username") atribuir(options.username, chave, std::move(valor));
    else if (chave == "password") atribuir(options.password, chave, std::move(valor));
    else if (chave == "retry_timeout") options.retry_timeout = lerRetryTimeout(valor);
    else throw confInvalida("chave desconhecida na posição " + std::to_string(separador + 2 + igual - chave.size()));
  }
  if (!addr) throw confInvalida("falta a chave addr");
  lerEndereco(*addr, options);
  if (options.username.has_value() != options.password.has_value()) {
    throw confInvalida("username e password vão juntos");
  }
  return options;
}

std::string linhaProtocolo(std::string_view tabela, const Simbolos& simbolos, const Colunas& colunas,
                           TimestampNanos at) {
  exigirNome(tabela, "tabela");
  std::string linha;
  escapar(linha, tabela);
  for (const auto& [nome, valor] : simbolos) {
    exigirNome(nome, "símbolo");
    linha.push_back(',');
    escapar(linha, nome);
    linha.push_back('=');
    escapar(linha, valor);
  }
  char separador = ' ';
  for (const auto& [nome, valor] : colunas) {
    exigirNome(nome, "coluna");
    if (std::holds_alternative<std::monostate>(valor)) continue;
    linha.push_back(separador);
    escapar(linha, nome);
    linha.push_back('=');
    escreverValor(linha, valor);
    separador = ',';
  }
  if (separador == ' ') throw IngressError("linha da tabela '" + std::string(tabela) + "' sem nenhuma coluna");
  linha += " " + std::to_string(at.nanos) + "\n";
  return linha;
}

std::int64_t nanosSistema() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

Espera esperaReal() { return {[] { return std::chrono::steady_clock::now(); }, pausar}; }

Sender::Sender(net::HttpClient& http, SenderOptions options, RelogioNanos relogio, Espera espera)
    : http_(http), options_(std::move(options)), relogio_(std::move(relogio)), espera_(std::move(espera)) {}

Sender Sender::from_conf(net::HttpClient& http, std::string_view conf, RelogioNanos relogio, Espera espera) {
  return Sender(http, parseConf(conf), std::move(relogio), std::move(espera));
}

TimestampNanos Sender::now() {
  const std::int64_t lido = relogio_();
  ultimoNow_ = ultimoNow_ ? std::max(*ultimoNow_, lido) : lido;
  return {*ultimoNow_};
}

void Sender::exigirAberto() const {
  if (fechado_) throw IngressError("o sender já foi fechado");
}

void Sender::row(std::string_view tabela, const Simbolos& simbolos, const Colunas& colunas, TimestampNanos at) {
  exigirAberto();
  const std::string linha = linhaProtocolo(tabela, simbolos, colunas, at);
  if (buffer_.empty() || buffer_.back().size() + linha.size() > buffer_.back().capacity()) {
    buffer_.emplace_back().reserve(std::max(TAMANHO_BLOCO, linha.size()));
  }
  buffer_.back() += linha;
}

net::HttpRequest Sender::pedidoEscrita() const {
  net::HttpRequest pedido;
  pedido.method = "POST";
  pedido.url = options_.scheme + "://" + options_.host + ":" + std::to_string(options_.port) + "/write";
  pedido.headers = {{"Content-Type", "text/plain; charset=utf-8"}};
  pedido.followRedirects = false;
  if (options_.username) pedido.basic = net::BasicCredentials{*options_.username, *options_.password};
  return pedido;
}

void Sender::flush() {
  exigirAberto();
  if (buffer_.empty()) return;
  net::HttpRequest pedido = pedidoEscrita();
  // The rows travel in the request rather than in a copy of them (about 1 MB for 5 000
  // customers); a send that fails in any way gives them back to the buffer.
  pedido.bodyParts = std::move(buffer_);
  buffer_.clear();
  try {
    const auto inicio = espera_.agora();
    for (auto pausa = PRIMEIRA_PAUSA;; pausa = std::min(2 * pausa, MAIOR_PAUSA)) {
      try {
        enviar(pedido);
        return;
      } catch (const FalhaTransitoria& falha) {
        if (espera_.agora() - inicio >= options_.retry_timeout) throw IngressError(falha.what());
      }
      espera_.pausar(pausa);
    }
  } catch (...) {
    buffer_ = std::move(pedido.bodyParts);
    throw;
  }
}

void Sender::enviar(const net::HttpRequest& pedido) const {
  net::HttpResponse resposta;
  try {
    resposta = http_.perform(pedido);
  } catch (const net::RequestException& e) {
    const std::string mensagem = "falha ao enviar as linhas para " + pedido.url + ": " + e.what();
    if (e.transient()) throw FalhaTransitoria(mensagem);
    throw IngressError(mensagem);
  }
  const std::string codigo = "HTTP " + std::to_string(resposta.status);
  // A redirect would be followed as a GET without the rows, and its answer read as stored.
  if (resposta.status >= 300 && resposta.status <= 399) {
    throw IngressError("o QuestDB respondeu com um redirecionamento (" + codigo + " para " +
                       (resposta.location.empty() ? "destino não informado" : resposta.location) +
                       "): as linhas não foram gravadas");
  }
  if (resposta.status >= 200 && resposta.status <= 299) return;
  const std::string texto = textoDoServidor(resposta);
  const std::string mensagem = "o QuestDB recusou as linhas (" + codigo + ")" + (texto.empty() ? "" : ": " + texto);
  if (statusTransitorio(resposta.status)) throw FalhaTransitoria(mensagem);
  throw IngressError(mensagem);
}

void Sender::close() noexcept {
  fechado_ = true;
  buffer_.clear();
}

}  // namespace store
