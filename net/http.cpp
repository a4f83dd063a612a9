#include "net/http.hpp"

#include <curl/curl.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>

#include "base/constants.hpp"
#include "base/deadline.hpp"
#include "net/transfer_failure.hpp"

namespace net {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

struct EasyDeleter {
  void operator()(CURL* handle) const noexcept { curl_easy_cleanup(handle); }
};
struct SlistDeleter {
  void operator()(curl_slist* list) const noexcept { curl_slist_free_all(list); }
};
using EasyHandle = std::unique_ptr<CURL, EasyDeleter>;
using HeaderList = std::unique_ptr<curl_slist, SlistDeleter>;

const std::string USER_AGENT = "coletor-pppoe/" + std::string(base::VERSION);
constexpr long MAX_REDIRECTS = 30;
constexpr milliseconds CALLBACK_PERIOD{1000};

// libcurl would guess "http://" for a URL without a scheme, and read "http:///exec" as
// the host "exec"; neither is a URL we were given.
bool wellFormed(const std::string& url) {
  const auto schemeEnd = url.find("://");
  if (schemeEnd == std::string::npos || schemeEnd == 0 || !std::isalpha(static_cast<unsigned char>(url[0])))
    return false;
  const bool schemeOk = std::all_of(url.begin(), url.begin() + static_cast<long>(schemeEnd), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.';
  });
  const auto host = schemeEnd + 3;
  return schemeOk && host < url.size() && url.find_first_of("/?#", host) != host;
}

// A line break in a header value would let a peer's data inject headers.
void checkHeader(const std::pair<std::string, std::string>& header) {
  const auto& [name, value] = header;
  if (name.empty() || name.find_first_of(":\r\n", 0, 3) != std::string::npos || name.find('\0') != std::string::npos ||
      value.find_first_of("\r\n", 0, 2) != std::string::npos || value.find('\0') != std::string::npos) {
    throw RequestException("Invalid header: '" + name + "' has a line break or NUL in its name or value");
  }
}

HeaderList buildHeaders(const Headers& headers) {
  HeaderList list;
  auto append = [&list](const std::string& line) {
    curl_slist* added = curl_slist_append(list.get(), line.c_str());
    if (added == nullptr) throw std::bad_alloc();
    static_cast<void>(list.release());  // the list lives on, with `added` as its head
    list.reset(added);
  };
  for (const auto& header : headers) {
    checkHeader(header);
    append(header.first + ": " + header.second);
  }
  append("Expect:");  // never wait for a 100-continue on large bodies
  return list;
}

// The sockets libcurl holds open for one client, so that a wait can look at them.
using Sockets = std::vector<curl_socket_t>;

struct Transfer {
  CURL* easy = nullptr;
  const Sockets* sockets = nullptr;
  const std::vector<std::string>* parts = nullptr;  // the body to send, when in pieces
  std::size_t part = 0, offset = 0;
  std::string body;
  std::optional<milliseconds> idleBound;
  bool tooLarge = false;
  bool connected = false;
  bool idle = false;  // the bound on one wait struck
  Clock::time_point start = Clock::now();
  Clock::time_point lastActivity = start;
  Clock::time_point lastCall = start;  // of onProgress
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

milliseconds untilMs(Clock::time_point when, Clock::time_point now) {
  return std::max(milliseconds(0), std::chrono::ceil<milliseconds>(when - now));
}

int onSocketOpen(void* sockets, curl_socket_t socket, curlsocktype) {
  static_cast<Sockets*>(sockets)->push_back(socket);
  return CURL_SOCKOPT_OK;
}

int onSocketClose(void* sockets, curl_socket_t socket) {
  std::erase(*static_cast<Sockets*>(sockets), socket);
  return ::close(socket);
}

// True once one of the sockets has something to read (or room to send) within `wait`.
bool stirs(const Sockets& sockets, milliseconds wait, bool sending) {
  std::vector<pollfd> fds;
  for (const curl_socket_t socket : sockets)
    fds.push_back({socket, static_cast<short>(POLLIN | (sending ? POLLOUT : 0)), 0});
  return ::poll(fds.data(), fds.size(), static_cast<int>(wait.count())) != 0;
}

// libcurl calls back after every piece sent or received and about once a second while the
// transfer waits: the bound on each wait counts from the connection on, over headers, body
// and upload. A second is too coarse for it, so in its last second a quiet wait goes on
// here, on the sockets themselves, until something stirs or the bound (or the deadline) is
// reached.
int onProgress(void* context, curl_off_t, curl_off_t, curl_off_t toSend, curl_off_t sent) {
  auto* t = static_cast<Transfer*>(context);
  auto now = Clock::now();
  if (sent != t->uploaded) {
    t->uploaded = sent;
    t->lastActivity = now;
  }
  const bool quiet = t->lastActivity <= t->lastCall;  // nothing since the last call
  t->lastCall = now;
  if (!t->idleBound || !t->connected) return 0;
  auto limit = t->lastActivity + *t->idleBound;
  if (quiet && limit - now < CALLBACK_PERIOD) {
    if (const auto deadline = base::deadline::current()) limit = std::min(limit, *deadline);
    if (stirs(*t->sockets, untilMs(limit, now), sent < toSend)) return 0;
    now = Clock::now();
  }
  t->idle = now >= t->lastActivity + *t->idleBound;
  return t->idle ? 1 : 0;  // non-zero aborts the transfer
}

CURLcode useTrustStore(CURL*, void* sslContext, void* trust) {
  X509_STORE* store = static_cast<const TrustStore*>(trust)->store();
  if (store == nullptr) return CURLE_SSL_CACERT_BADFILE;
  // set1: the context takes a reference of its own, the store stays shared.
  SSL_CTX_set1_cert_store(static_cast<SSL_CTX*>(sslContext), store);
  return CURLE_OK;
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

CurlGlobal::CurlGlobal() {
  if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) throw RequestException("libcurl: curl_global_init failed");
}

CurlGlobal::~CurlGlobal() { curl_global_cleanup(); }

struct CurlClient::Impl {
  std::shared_ptr<const TrustStore> trust;
  Sockets sockets;
  char errorBuffer[CURL_ERROR_SIZE] = {};
  EasyHandle easy;  // last: cleaning it up may still close a socket and use the buffer

  // Every option is checked: one this libcurl refused would leave its default in place
  // unseen (a protocol allowed, a bound missing).
  template <typename Value>
  void set(CURLoption option, Value value) {
    if (const CURLcode code = curl_easy_setopt(easy.get(), option, value); code != CURLE_OK) {
      const curl_easyoption* known = curl_easy_option_by_id(option);
      throw RequestException(std::string("libcurl refused the option ") + (known ? known->name : "?") + ": " +
                             curl_easy_strerror(code));
    }
  }

  void configure(const HttpRequest& request, const std::string& url, Transfer& t, curl_slist* headers) {
    curl_easy_reset(easy.get());
    errorBuffer[0] = '\0';
    set(CURLOPT_ERRORBUFFER, errorBuffer);
    set(CURLOPT_URL, url.c_str());
    set(CURLOPT_FOLLOWLOCATION, request.followRedirects ? 1L : 0L);
    set(CURLOPT_HTTPHEADER, headers);
    setConnection();
    setCallbacks(t);
    setBody(request, t);
    if (request.basic) {
      set(CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC));
      set(CURLOPT_USERNAME, request.basic->user.c_str());
      set(CURLOPT_PASSWORD, request.basic->password.c_str());
    }
    setBounds(request);
  }

  void setConnection() {
    set(CURLOPT_NOSIGNAL, 1L);
    set(CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    set(CURLOPT_PROTOCOLS_STR, "http,https");
    set(CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    set(CURLOPT_MAXREDIRS, MAX_REDIRECTS);
    // Every exchange stands alone: new connection, closed afterwards, no TLS session reuse.
    set(CURLOPT_FRESH_CONNECT, 1L);
    set(CURLOPT_FORBID_REUSE, 1L);
    set(CURLOPT_SSL_SESSIONID_CACHE, 0L);
    set(CURLOPT_ACCEPT_ENCODING, "");
    set(CURLOPT_USERAGENT, USER_AGENT.c_str());
    // libcurl loads no certificate itself: every handshake gets the one shared store.
    set(CURLOPT_CAPATH, nullptr);
    set(CURLOPT_CAINFO, nullptr);
    set(CURLOPT_SSL_VERIFYPEER, 1L);
    set(CURLOPT_SSL_VERIFYHOST, 2L);
    set(CURLOPT_SSL_CTX_FUNCTION, useTrustStore);
    set(CURLOPT_SSL_CTX_DATA, trust.get());
    // A transfer given up on while a name is still being resolved does not wait for the
    // resolver's thread, which ends on its own when the system resolver gives up.
    set(CURLOPT_QUICK_EXIT, 1L);
  }

  void setCallbacks(Transfer& t) {
    set(CURLOPT_WRITEFUNCTION, onBody);
    set(CURLOPT_WRITEDATA, &t);
    set(CURLOPT_HEADERFUNCTION, onHeader);
    set(CURLOPT_HEADERDATA, &t);
    set(CURLOPT_PREREQFUNCTION, onConnected);
    set(CURLOPT_PREREQDATA, &t);
    set(CURLOPT_XFERINFOFUNCTION, onProgress);
    set(CURLOPT_XFERINFODATA, &t);
    set(CURLOPT_NOPROGRESS, 0L);
    set(CURLOPT_SOCKOPTFUNCTION, onSocketOpen);
    set(CURLOPT_SOCKOPTDATA, &sockets);
    set(CURLOPT_CLOSESOCKETFUNCTION, onSocketClose);
    set(CURLOPT_CLOSESOCKETDATA, &sockets);
  }

  void setBody(const HttpRequest& request, Transfer& t) {
    if (request.method != "POST") return set(CURLOPT_HTTPGET, 1L);
    set(CURLOPT_POST, 1L);
    if (!request.body && !request.bodyParts.empty()) {
      curl_off_t size = 0;
      for (const auto& piece : request.bodyParts) size += static_cast<curl_off_t>(piece.size());
      t.parts = &request.bodyParts;
      set(CURLOPT_POSTFIELDSIZE_LARGE, size);
      set(CURLOPT_READFUNCTION, onRead);
      set(CURLOPT_READDATA, &t);
      set(CURLOPT_SEEKFUNCTION, onSeek);
      return set(CURLOPT_SEEKDATA, &t);
    }
    // libcurl keeps the pointer: the body must be the caller's, alive for the whole exchange.
    set(CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body ? request.body->size() : 0));
    set(CURLOPT_POSTFIELDS, request.body ? request.body->data() : "");
  }

  // The run's deadline is libcurl's bound on the whole transfer, so that it wakes on time
  // whatever the transfer is waiting for (a name, a connection, a handshake, an answer);
  // it is the connect bound too of a request without one of its own, where libcurl's
  // default (300 s) could otherwise strike first.
  void setBounds(const HttpRequest& request) {
    const auto limit = base::deadline::current();
    // At least 1 ms: 0 would mean the default.
    const long left = limit ? std::max(1L, static_cast<long>(untilMs(*limit, Clock::now()).count())) : 0;
    if (request.connectTimeout) {
      set(CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(request.connectTimeout->count()));
    } else if (limit) {
      set(CURLOPT_CONNECTTIMEOUT_MS, left);
    }
    if (limit) set(CURLOPT_TIMEOUT_MS, left);
  }

  HttpResponse response(const HttpRequest& request, std::string body) {
    HttpResponse answer;
    curl_easy_getinfo(easy.get(), CURLINFO_RESPONSE_CODE, &answer.status);
    if (!request.followRedirects) {
      const char* target = nullptr;
      curl_easy_getinfo(easy.get(), CURLINFO_REDIRECT_URL, &target);
      if (target != nullptr) answer.location = target;
    }
    answer.body = std::move(body);
    return answer;
  }
};

CurlClient::CurlClient(const std::string& caBundle) : CurlClient(std::make_shared<const TrustStore>(caBundle)) {}

CurlClient::CurlClient(std::shared_ptr<const TrustStore> trust) : impl_(std::make_unique<Impl>()) {
  impl_->trust = std::move(trust);
  impl_->easy.reset(curl_easy_init());
  if (!impl_->easy) throw RequestException("libcurl: could not create a handle");
}

CurlClient::~CurlClient() = default;

HttpResponse CurlClient::perform(const HttpRequest& request) {
  base::deadline::check();
  if (!wellFormed(request.url)) throw RequestException(curl_easy_strerror(CURLE_URL_MALFORMAT));
  const std::string url = urlWithQuery(request.url, request.query);
  HeaderList headers = buildHeaders(request.headers);
  Transfer t;
  t.easy = impl_->easy.get();
  t.sockets = &impl_->sockets;
  t.idleBound = request.idleTimeout;
  impl_->configure(request, url, t, headers.get());
  t.start = t.lastActivity = Clock::now();
  if (const CURLcode code = curl_easy_perform(t.easy); code != CURLE_OK) {
    const auto elapsed = std::chrono::duration_cast<milliseconds>(Clock::now() - t.start);
    const bool deadlineOnly = base::deadline::current() && !request.connectTimeout && !request.idleTimeout;
    throwTransferFailure({code, impl_->errorBuffer, impl_->trust->error(), t.tooLarge, t.idle, elapsed, t.body.size(),
                          base::deadline::passed(), deadlineOnly});
  }
  return impl_->response(request, std::move(t.body));
}

}  // namespace net
