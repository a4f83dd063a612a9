// The certificates every HTTPS request trusts, parsed once for all threads.
#pragma once

#include <memory>
#include <string>

struct x509_store_st;

namespace net {

/// A trust store loaded from one PEM bundle and shared, read-only, by the handshakes of
/// every thread: each would otherwise parse the bundle into a store of its own.
class TrustStore {
 public:
  /// `caBundle`: the PEM file to trust; empty for libcurl's own default (the system store).
  /// Never throws for the bundle: one that cannot be read fails each TLS handshake instead.
  explicit TrustStore(const std::string& caBundle);
  ~TrustStore();
  TrustStore(const TrustStore&) = delete;
  TrustStore& operator=(const TrustStore&) = delete;

  /// The store, or null when the bundle could not be read.
  x509_store_st* store() const { return store_; }
  /// Why the bundle could not be read.
  const std::string& error() const { return error_; }

 private:
  x509_store_st* store_ = nullptr;
  std::string error_;
};

}  // namespace net
