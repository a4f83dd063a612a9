#include "net/http.hpp"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>

#include "net/libcurl.hpp"
#include "run/config.hpp"
#include "run/constants.hpp"
#include "run/process_control.hpp"

namespace net {

namespace {

using Relogio = std::chrono::steady_clock;
using std::chrono::milliseconds;

const libcurl::Api& curl() { return libcurl::api(); }

struct EasyDeleter {
  void operator()(CURL* handle) const noexcept { curl().easy_cleanup(handle); }
};
struct MultiDeleter {
  void operator()(CURLM* handle) const noexcept { curl().multi_cleanup(handle); }
};
struct SlistDeleter {
  void operator()(curl_slist* lista) const noexcept { curl().slist_free_all(lista); }
};
using EasyHandle = std::unique_ptr<CURL, EasyDeleter>;
using MultiHandle = std::unique_ptr<CURLM, MultiDeleter>;
using HeaderList = std::unique_ptr<curl_slist, SlistDeleter>;

const std::string USER_AGENT = "coletor-pppoe/" + std::string(run::VERSION);
constexpr long MAX_REDIRECTS = 30;
constexpr milliseconds MAX_POLL{1000};

// libcurl would guess "http://" for a URL without a scheme, and read "http:///exec" as
// the host "exec"; neither is a URL we were given.
bool wellFormed(const std::string& url) {
  const auto fim = url.find("://");
  if (fim == std::string::npos || fim == 0 || !std::isalpha(static_cast<unsigned char>(url[0]))) return false;
  const bool schemeOk = std::all_of(url.begin(), url.begin() + static_cast<long>(fim), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.';
  });
  const auto host = fim + 3;
  return schemeOk && host < url.size() && url.find_first_of("/?#", host) != host;
}

// A line break in a header value would let a peer's data inject headers.
void checkHeader(const std::pair<std::string, std::string>& header) {
  const auto& [nome, valor] = header;
  if (nome.empty() || nome.find_first_of(":\r\n", 0, 3) != std::string::npos ||
      nome.find('\0') != std::string::npos || valor.find_first_of("\r\n", 0, 2) != std::string::npos ||
      valor.find('\0') != std::string::npos) {
    throw RequestException("Invalid header: '" + nome + "' has a line break or NUL in its name or value");
  }
}

HeaderList buildHeaders(const Headers& headers) {
  HeaderList lista;
  auto append = [&lista](const std::string& linha) {
    curl_slist* nova = curl().slist_append(lista.get(), linha.c_str());
    if (nova == nullptr) throw std::bad_alloc();
    lista.release();
    lista.reset(nova);
  };
  for (const auto& header : headers) {
    checkHeader(header);
    append(header.first + ": " + header.second);
  }
  append("Expect:");  // never wait for a 100-continue on large bodies
  return lista;
}

struct Transfer {
  CURL* easy = nullptr;
  std::string body;
  bool tooLarge = false;
  bool connected = false;
  Relogio::time_point lastActivity = Relogio::now();
  curl_off_t uploaded = 0;
};

size_t onBody(char* dados, size_t, size_t tamanho, void* contexto) {
  auto* t = static_cast<Transfer*>(contexto);
  if (t->body.size() + tamanho > MAX_BODY_BYTES) {
    t->tooLarge = true;
    return 0;  // aborts the transfer with CURLE_WRITE_ERROR
  }
  if (t->body.empty()) {
    // Sized once from Content-Length: a 25 MB list then grows by no copy of itself.
    curl_off_t anunciado = -1;
    curl().easy_getinfo(t->easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &anunciado);
    if (anunciado > 0) t->body.reserve(std::min(static_cast<std::size_t>(anunciado), MAX_BODY_BYTES));
  }
  t->body.append(dados, tamanho);
  t->lastActivity = Relogio::now();
  return tamanho;
}

size_t onHeader(char*, size_t, size_t tamanho, void* contexto) {
  static_cast<Transfer*>(contexto)->lastActivity = Relogio::now();
  return tamanho;
}

int onConnected(void* contexto, char*, char*, int, int) {
  auto* t = static_cast<Transfer*>(contexto);
  t->connected = true;
  t->lastActivity = Relogio::now();
  return CURL_PREREQFUNC_OK;
}

int onProgress(void* contexto, curl_off_t, curl_off_t, curl_off_t, curl_off_t enviado) {
  auto* t = static_cast<Transfer*>(contexto);
  if (enviado != t->uploaded) {
    t->uploaded = enviado;
    t->lastActivity = Relogio::now();
  }
  return 0;
}

// What may go right when the same request is sent again on a new connection.
bool transient(CURLcode codigo) {
  switch (codigo) {
    case CURLE_COULDNT_CONNECT:
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
      return true;
    default:
      return false;
  }
}

milliseconds untilMs(Relogio::time_point quando, Relogio::time_point agora) {
  return std::max(milliseconds(0), std::chrono::ceil<milliseconds>(quando - agora));
}

std::string percentEncode(const std::string& texto) {
  static constexpr char HEX[] = "0123456789ABCDEF";
  std::string saida;
  saida.reserve(texto.size() * 3);
  for (unsigned char c : texto) {
    if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
      saida.push_back(static_cast<char>(c));
    } else {
      saida.push_back('%');
      saida.push_back(HEX[c >> 4]);
      saida.push_back(HEX[c & 0x0F]);
    }
  }
  return saida;
}

}  // namespace

std::string urlWithQuery(const std::string& url, const QueryParams& query) {
  std::string completa = url;
  char separador = url.find('?') == std::string::npos ? '?' : '&';
  for (const auto& [nome, valor] : query) {
    completa += separador;
    completa += percentEncode(nome) + "=" + percentEncode(valor);
    separador = '&';
  }
  return completa;
}

struct CurlClient::Impl {
  std::string caBundle;
  EasyHandle easy;
  MultiHandle multi;
  char errorBuffer[CURL_ERROR_SIZE] = {};

  void configure(const HttpRequest& request, const std::string& url, Transfer& t, curl_slist* headers);
  CURLcode run(const HttpRequest& request, Transfer& t);
};

CurlClient::CurlClient() : CurlClient(run::config::CA_BUNDLE) {}

CurlClient::CurlClient(std::string caBundle) : impl_(std::make_unique<Impl>()) {
  curl();  // loads libcurl and runs its global initialisation, once
  impl_->caBundle = std::move(caBundle);
  impl_->easy.reset(curl().easy_init());
  impl_->multi.reset(curl().multi_init());
  if (!impl_->easy || !impl_->multi) throw RequestException("libcurl: não foi possível criar o handle");
}

CurlClient::~CurlClient() = default;

void CurlClient::Impl::configure(const HttpRequest& request, const std::string& url, Transfer& t,
                                 curl_slist* headers) {
  CURL* h = easy.get();
  curl().easy_reset(h);
  errorBuffer[0] = '\0';
  curl().easy_setopt(h, CURLOPT_ERRORBUFFER, errorBuffer);
  curl().easy_setopt(h, CURLOPT_URL, url.c_str());
  curl().easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  curl().easy_setopt(h, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  curl().easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
  curl().easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl().easy_setopt(h, CURLOPT_FOLLOWLOCATION, request.followRedirects ? 1L : 0L);
  curl().easy_setopt(h, CURLOPT_MAXREDIRS, MAX_REDIRECTS);
  // Every exchange stands alone: new connection, closed afterwards, no TLS session reuse.
  curl().easy_setopt(h, CURLOPT_FRESH_CONNECT, 1L);
  curl().easy_setopt(h, CURLOPT_FORBID_REUSE, 1L);
  curl().easy_setopt(h, CURLOPT_SSL_SESSIONID_CACHE, 0L);
  curl().easy_setopt(h, CURLOPT_ACCEPT_ENCODING, "");
  curl().easy_setopt(h, CURLOPT_USERAGENT, USER_AGENT.c_str());
  // A CA directory disables libcurl's cache of the parsed store; the bundle file alone
  // holds the same certificates.
  curl().easy_setopt(h, CURLOPT_CAPATH, nullptr);
  if (!caBundle.empty()) curl().easy_setopt(h, CURLOPT_CAINFO, caBundle.c_str());
  curl().easy_setopt(h, CURLOPT_HTTPHEADER, headers);
  curl().easy_setopt(h, CURLOPT_WRITEFUNCTION, onBody);
  curl().easy_setopt(h, CURLOPT_WRITEDATA, &t);
  curl().easy_setopt(h, CURLOPT_HEADERFUNCTION, onHeader);
  curl().easy_setopt(h, CURLOPT_HEADERDATA, &t);
  curl().easy_setopt(h, CURLOPT_PREREQFUNCTION, onConnected);
  curl().easy_setopt(h, CURLOPT_PREREQDATA, &t);
  curl().easy_setopt(h, CURLOPT_XFERINFOFUNCTION, onProgress);
  curl().easy_setopt(h, CURLOPT_XFERINFODATA, &t);
  curl().easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
  if (request.method == "POST") {
    // libcurl keeps the pointer: the body must be the caller's, alive for the whole exchange.
    const char* dados = request.body ? request.body->data() : "";
    const auto tamanho = static_cast<curl_off_t>(request.body ? request.body->size() : 0);
    curl().easy_setopt(h, CURLOPT_POST, 1L);
    curl().easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, tamanho);
    curl().easy_setopt(h, CURLOPT_POSTFIELDS, dados);
  } else {
    curl().easy_setopt(h, CURLOPT_HTTPGET, 1L);
  }
  if (request.basic) {
    curl().easy_setopt(h, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC));
    curl().easy_setopt(h, CURLOPT_USERNAME, request.basic->usuario.c_str());
    curl().easy_setopt(h, CURLOPT_PASSWORD, request.basic->senha.c_str());
  }
  if (request.connectTimeout) {
    curl().easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(request.connectTimeout->count()));
  }
}

CURLcode CurlClient::Impl::run(const HttpRequest& request, Transfer& t) {
  CURL* h = easy.get();
  if (curl().multi_add_handle(multi.get(), h) != CURLM_OK) throw RequestException("libcurl: curl_multi_add_handle falhou");
  struct Remover {
    CURLM* m;
    CURL* e;
    ~Remover() { curl().multi_remove_handle(m, e); }
  } remover{multi.get(), h};

  const auto inicio = Relogio::now();
  for (;;) {
    int ativos = 0;
    if (CURLMcode mc = curl().multi_perform(multi.get(), &ativos); mc != CURLM_OK) {
      throw RequestException(curl().multi_strerror(mc));
    }
    if (ativos == 0) break;
    const auto agora = Relogio::now();
    const auto prazo = run::prazo::atual();
    if (prazo && agora >= *prazo) throw run::TimeoutException(run::prazo::segundos());
    milliseconds espera = MAX_POLL;
    if (prazo) espera = std::min(espera, untilMs(*prazo, agora));
    if (request.idleTimeout && t.connected) {
      const auto limite = t.lastActivity + *request.idleTimeout;
      if (agora >= limite) {
        const auto decorrido = std::chrono::duration_cast<milliseconds>(agora - inicio).count();
        throw RequestException("Operation timed out after " + std::to_string(decorrido) + " milliseconds with " +
                                   std::to_string(t.body.size()) + " bytes received",
                               true);
      }
      espera = std::min(espera, untilMs(limite, agora));
    }
    curl().multi_poll(multi.get(), nullptr, 0, static_cast<int>(espera.count()), nullptr);
  }
  int restantes = 0;
  while (CURLMsg* msg = curl().multi_info_read(multi.get(), &restantes)) {
    if (msg->msg == CURLMSG_DONE && msg->easy_handle == h) return msg->data.result;
  }
  return CURLE_OK;
}

HttpResponse CurlClient::perform(const HttpRequest& request) {
  run::prazo::verificar();
  if (!wellFormed(request.url)) throw RequestException(curl().easy_strerror(CURLE_URL_MALFORMAT));
  const std::string url = urlWithQuery(request.url, request.query);
  HeaderList headers = buildHeaders(request.headers);
  Transfer t;
  t.easy = impl_->easy.get();
  impl_->configure(request, url, t, headers.get());
  const CURLcode resultado = impl_->run(request, t);
  if (resultado != CURLE_OK) {
    if (t.tooLarge) {
      throw RequestException("Response body larger than the limit of " + std::to_string(MAX_BODY_BYTES) + " bytes");
    }
    throw RequestException(impl_->errorBuffer[0] != '\0' ? impl_->errorBuffer : curl().easy_strerror(resultado),
                           transient(resultado));
  }
  HttpResponse resposta;
  curl().easy_getinfo(impl_->easy.get(), CURLINFO_RESPONSE_CODE, &resposta.status);
  if (!request.followRedirects) {
    const char* destino = nullptr;
    curl().easy_getinfo(impl_->easy.get(), CURLINFO_REDIRECT_URL, &destino);
    if (destino != nullptr) resposta.location = destino;
  }
  resposta.body = std::move(t.body);
  return resposta;
}

}  // namespace net
