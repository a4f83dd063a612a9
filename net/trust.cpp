#include "net/trust.hpp"

#include <curl/curl.h>
#include <openssl/err.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace net {

namespace {

std::string defaultBundle() {
  const curl_version_info_data* info = curl_version_info(CURLVERSION_NOW);
  return info != nullptr && info->cainfo != nullptr ? info->cainfo : "";
}

std::string lastOpenSslError() {
  char text[256] = "";
  ERR_error_string_n(ERR_peek_last_error(), text, sizeof text);
  ERR_clear_error();
  return text;
}

// OpenSSL says "system lib" alike for a missing file and an unreadable one: the system's
// own reason tells them apart.
std::string systemReason(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return std::string(": ") + std::strerror(errno);
  std::fclose(file);
  return "";
}

}  // namespace

TrustStore::TrustStore(const std::string& caBundle) {
  const std::string path = caBundle.empty() ? defaultBundle() : caBundle;
  X509_STORE* store = X509_STORE_new();
  if (store == nullptr || path.empty() || X509_STORE_load_file(store, path.c_str()) != 1) {
    // libcurl's own words for a bundle it cannot read.
    error_ = "error setting certificate verify locations:  CAfile: " + path + " CApath: none (" + lastOpenSslError() +
             systemReason(path) + ")";
    X509_STORE_free(store);
    return;
  }
  store_ = store;
}

TrustStore::~TrustStore() { X509_STORE_free(store_); }

}  // namespace net
