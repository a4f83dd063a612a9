#include "net/http.hpp"

#include <curl/curl.h>
#include <openssl/ssl.h>

#include <algorithm>
#include <cctype>

#include "base/constants.hpp"
#include "base/deadline.hpp"

namespace net {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

struct EasyDeleter {
  void operator()(CURL* handle) const noexcept { curl_easy_cleanup(handle); }
};
struct MultiDeleter {
  void operator()(CURLM* handle) const noexcept { curl_multi_cleanup(handle); }
};
struct SlistDeleter {
  void operator()(curl_slist* list) const noexcept { curl_slist_free_all(list); }
};
using EasyHandle = std::unique_ptr<CURL, EasyDeleter>;
using MultiHandle = std::unique_ptr<CURLM, MultiDeleter>;
using HeaderList = std::unique_ptr<curl_slist, SlistDeleter>;

const std::string USER_AGENT = "coletor-pppoe/" + std::string(base::VERSION);
constexpr long MAX_REDIRECTS = 30;
constexpr milliseconds MAX_POLL{1000};

// libcurl would guess "http://" for a URL without a scheme, and read "http:///exec" as
// the host "exec"; neither is a URL we were given.
bool wellFormed(const std::string& url) {
  const auto schemeEnd = url.find("://");
  if (schemeEnd == std::string::npos || schemeEnd == 0 || !std::isalpha(static_cast<unsigned char>(url[0]))) return false;
  const bool schemeOk = std::all_of(url.begin(), url.begin() + static_cast<long>(schemeEnd), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.';
  });
  const auto host = schemeEnd + 3;
  return schemeOk && host < url.size() && url.find_first_of("/?#", host) != host;
}

// A line break in a header value would let a peer's data inject headers.
void checkHeader(const std::pair<std::string, std::string>& header) {
  const auto& [name, value] = header;
  if (name.empty() || name.find_first_of(":\r\n", 0, 3) != std::string::npos ||
      name.find('\0') != std::string::npos || value.find_first_of("\r\n", 0, 2) != std::string::npos ||
      value.find('\0') != std::string::npos) {
    throw RequestException("Invalid header: '" + name + "' has a line break or NUL in its name or value");
  }
}

HeaderList buildHeaders(const Headers& headers) {
  HeaderList list;
  auto append = [&list](const std::string& line) {
    curl_slist* added = curl_slist_append(list.get(), line.c_str());
    if (added == nullptr) throw std::bad_alloc();
    list.release();
    list.reset(added);
  };
  for (const auto& header : headers) {
    checkHeader(header);
    append(header.first + ": " + header.second);
  }
  append("Expect:");  // never wait for a 100-continue on large bodies
  return list;
}

struct Transfer {
  CURL* easy = nullptr;
  const std::vector<std::string>* parts = nullptr;  // the body to send, when in pieces
  std::size_t part = 0, offset = 0;
  std::string body;
  bool tooLarge = false;
  bool connected = false;
  Clock::time_point lastActivity = Clock::now();
  curl_off_t uploaded = 0;
};

size_t onBody(char* data, size_t, size_t size, void* context) {
  auto* t = static_cast<Transfer*>(context);
  if (t->body.size() + size > MAX_BODY_BYTES) {
    t->tooLarge = true;
    return 0;  // aborts the transfer with CURLE_WRITE_ERROR
  }
  if (t->body.empty()) {
    // Sized once from Content-Length: a 25 MB list then grows by no copy of itself.
    curl_off_t announced = -1;
    curl_easy_getinfo(t->easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced);
    if (announced > 0) t->body.reserve(std::min(static_cast<std::size_t>(announced), MAX_BODY_BYTES));
  }
  t->body.append(data, size);
  t->lastActivity = Clock::now();
  return size;
}

size_t onRead(char* data, size_t, size_t size, void* context) {
  auto* t = static_cast<Transfer*>(context);
  size_t written = 0;
  while (written < size && t->part < t->parts->size()) {
    const std::string& piece = (*t->parts)[t->part];
    const size_t n = std::min(size - written, piece.size() - t->offset);
    std::copy_n(piece.data() + t->offset, n, data + written);
    written += n;
    t->offset += n;
    if (t->offset == piece.size()) ++t->part, t->offset = 0;
  }
  return written;
}

// Only back to the start: libcurl rewinds to send the body once more.
int onSeek(void* context, curl_off_t offset, int origin) {
  if (offset != 0 || origin != SEEK_SET) return CURL_SEEKFUNC_CANTSEEK;
  auto* t = static_cast<Transfer*>(context);
  t->part = t->offset = 0;
  return CURL_SEEKFUNC_OK;
}

size_t onHeader(char*, size_t, size_t size, void* context) {
  static_cast<Transfer*>(context)->lastActivity = Clock::now();
  return size;
}

int onConnected(void* context, char*, char*, int, int) {
  auto* t = static_cast<Transfer*>(context);
  t->connected = true;
  t->lastActivity = Clock::now();
  return CURL_PREREQFUNC_OK;
}

int onProgress(void* context, curl_off_t, curl_off_t, curl_off_t, curl_off_t sent) {
  auto* t = static_cast<Transfer*>(context);
  if (sent != t->uploaded) {
    t->uploaded = sent;
    t->lastActivity = Clock::now();
  }
  return 0;
}

CURLcode useTrustStore(CURL*, void* sslContext, void* trust) {
  X509_STORE* store = static_cast<const TrustStore*>(trust)->store();
  if (store == nullptr) return CURLE_SSL_CACERT_BADFILE;
  // set1: the context takes a reference of its own, the store stays shared.
  SSL_CTX_set1_cert_store(static_cast<SSL_CTX*>(sslContext), store);
  return CURLE_OK;
}

// What may go right when the same request is sent again on a new connection.
bool transient(CURLcode code) {
  switch (code) {
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

milliseconds untilMs(Clock::time_point when, Clock::time_point now) {
  return std::max(milliseconds(0), std::chrono::ceil<milliseconds>(when - now));
}

std::string percentEncode(const std::string& text) {
  static constexpr char HEX[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size() * 3);
  for (unsigned char c : text) {
    if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back('%');
      out.push_back(HEX[c >> 4]);
      out.push_back(HEX[c & 0x0F]);
    }
  }
  return out;
}

}  // namespace

std::string urlWithQuery(const std::string& url, const QueryParams& query) {
  std::string full = url;
  char separator = url.find('?') == std::string::npos ? '?' : '&';
  for (const auto& [name, value] : query) {
    full += separator;
    full += percentEncode(name) + "=" + percentEncode(value);
    separator = '&';
  }
  return full;
}

struct CurlClient::Impl {
  std::shared_ptr<const TrustStore> trust;
  EasyHandle easy;
  MultiHandle multi;
  char errorBuffer[CURL_ERROR_SIZE] = {};

  void configure(const HttpRequest& request, const std::string& url, Transfer& t, curl_slist* headers);
  CURLcode run(const HttpRequest& request, Transfer& t);
};

CurlGlobal::CurlGlobal() {
  if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) throw RequestException("libcurl: curl_global_init failed");
}

CurlGlobal::~CurlGlobal() { curl_global_cleanup(); }

CurlClient::CurlClient(const std::string& caBundle) : CurlClient(std::make_shared<const TrustStore>(caBundle)) {}

CurlClient::CurlClient(std::shared_ptr<const TrustStore> trust) : impl_(std::make_unique<Impl>()) {
  impl_->trust = std::move(trust);
  impl_->easy.reset(curl_easy_init());
  impl_->multi.reset(curl_multi_init());
  if (!impl_->easy || !impl_->multi) throw RequestException("libcurl: could not create a handle");
}

CurlClient::~CurlClient() = default;

void CurlClient::Impl::configure(const HttpRequest& request, const std::string& url, Transfer& t,
                                 curl_slist* headers) {
  CURL* h = easy.get();
  curl_easy_reset(h);
  errorBuffer[0] = '\0';
  curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorBuffer);
  curl_easy_setopt(h, CURLOPT_URL, url.c_str());
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(h, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, request.followRedirects ? 1L : 0L);
  curl_easy_setopt(h, CURLOPT_MAXREDIRS, MAX_REDIRECTS);
  // Every exchange stands alone: new connection, closed afterwards, no TLS session reuse.
  curl_easy_setopt(h, CURLOPT_FRESH_CONNECT, 1L);
  curl_easy_setopt(h, CURLOPT_FORBID_REUSE, 1L);
  curl_easy_setopt(h, CURLOPT_SSL_SESSIONID_CACHE, 0L);
  curl_easy_setopt(h, CURLOPT_ACCEPT_ENCODING, "");
  curl_easy_setopt(h, CURLOPT_USERAGENT, USER_AGENT.c_str());
  // libcurl loads no certificate itself: every handshake gets the one shared store.
  curl_easy_setopt(h, CURLOPT_CAPATH, nullptr);
  curl_easy_setopt(h, CURLOPT_CAINFO, nullptr);
  curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L);
  curl_easy_setopt(h, CURLOPT_SSL_CTX_FUNCTION, useTrustStore);
  curl_easy_setopt(h, CURLOPT_SSL_CTX_DATA, trust.get());
  curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, onBody);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &t);
  curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, onHeader);
  curl_easy_setopt(h, CURLOPT_HEADERDATA, &t);
  curl_easy_setopt(h, CURLOPT_PREREQFUNCTION, onConnected);
  curl_easy_setopt(h, CURLOPT_PREREQDATA, &t);
  curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, onProgress);
  curl_easy_setopt(h, CURLOPT_XFERINFODATA, &t);
  curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
  if (request.method == "POST" && !request.body && !request.bodyParts.empty()) {
    curl_off_t size = 0;
    for (const auto& piece : request.bodyParts) size += static_cast<curl_off_t>(piece.size());
    t.parts = &request.bodyParts;
    curl_easy_setopt(h, CURLOPT_POST, 1L);
    curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, size);
    curl_easy_setopt(h, CURLOPT_READFUNCTION, onRead);
    curl_easy_setopt(h, CURLOPT_READDATA, &t);
    curl_easy_setopt(h, CURLOPT_SEEKFUNCTION, onSeek);
    curl_easy_setopt(h, CURLOPT_SEEKDATA, &t);
  } else if (request.method == "POST") {
    // libcurl keeps the pointer: the body must be the caller's, alive for the whole exchange.
    const char* data = request.body ? request.body->data() : "";
    const auto size = static_cast<curl_off_t>(request.body ? request.body->size() : 0);
    curl_easy_setopt(h, CURLOPT_POST, 1L);
    curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, size);
    curl_easy_setopt(h, CURLOPT_POSTFIELDS, data);
  } else {
    curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
  }
  if (request.basic) {
    curl_easy_setopt(h, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC));
    curl_easy_setopt(h, CURLOPT_USERNAME, request.basic->usuario.c_str());
    curl_easy_setopt(h, CURLOPT_PASSWORD, request.basic->senha.c_str());
  }
  if (request.connectTimeout) {
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(request.connectTimeout->count()));
  }
}

CURLcode CurlClient::Impl::run(const HttpRequest& request, Transfer& t) {
  CURL* h = easy.get();
  if (curl_multi_add_handle(multi.get(), h) != CURLM_OK) throw RequestException("libcurl: curl_multi_add_handle falhou");
  struct Detach {
    CURLM* m;
    CURL* e;
    ~Detach() { curl_multi_remove_handle(m, e); }
  } detach{multi.get(), h};

  const auto start = Clock::now();
  for (;;) {
    int running = 0;
    if (CURLMcode mc = curl_multi_perform(multi.get(), &running); mc != CURLM_OK) {
      throw RequestException(curl_multi_strerror(mc));
    }
    if (running == 0) break;
    const auto now = Clock::now();
    const auto limit = base::deadline::current();
    if (limit && now >= *limit) throw base::TimeoutException(base::deadline::seconds());
    milliseconds wait = MAX_POLL;
    if (limit) wait = std::min(wait, untilMs(*limit, now));
    if (request.idleTimeout && t.connected) {
      const auto idleLimit = t.lastActivity + *request.idleTimeout;
      if (now >= idleLimit) {
        const auto elapsed = std::chrono::duration_cast<milliseconds>(now - start).count();
        throw RequestException("Operation timed out after " + std::to_string(elapsed) + " milliseconds with " +
                                   std::to_string(t.body.size()) + " bytes received",
                               true);
      }
      wait = std::min(wait, untilMs(idleLimit, now));
    }
    curl_multi_poll(multi.get(), nullptr, 0, static_cast<int>(wait.count()), nullptr);
  }
  int queued = 0;
  while (CURLMsg* msg = curl_multi_info_read(multi.get(), &queued)) {
    if (msg->msg == CURLMSG_DONE && msg->easy_handle == h) return msg->data.result;
  }
  return CURLE_OK;
}

HttpResponse CurlClient::perform(const HttpRequest& request) {
  base::deadline::check();
  if (!wellFormed(request.url)) throw RequestException(curl_easy_strerror(CURLE_URL_MALFORMAT));
  const std::string url = urlWithQuery(request.url, request.query);
  HeaderList headers = buildHeaders(request.headers);
  Transfer t;
  t.easy = impl_->easy.get();
  impl_->configure(request, url, t, headers.get());
  const CURLcode result = impl_->run(request, t);
  if (result != CURLE_OK) {
    if (t.tooLarge) {
      throw RequestException("Response body larger than the limit of " + std::to_string(MAX_BODY_BYTES) + " bytes");
    }
    if (result == CURLE_SSL_CACERT_BADFILE && !impl_->trust->error().empty()) {
      throw RequestException(impl_->trust->error());
    }
    throw RequestException(impl_->errorBuffer[0] != '\0' ? impl_->errorBuffer : curl_easy_strerror(result),
                           transient(result));
  }
  HttpResponse response;
  curl_easy_getinfo(impl_->easy.get(), CURLINFO_RESPONSE_CODE, &response.status);
  if (!request.followRedirects) {
    const char* target = nullptr;
    curl_easy_getinfo(impl_->easy.get(), CURLINFO_REDIRECT_URL, &target);
    if (target != nullptr) response.location = target;
  }
  response.body = std::move(t.body);
  return response;
}

}  // namespace net
