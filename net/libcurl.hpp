// libcurl, opened on first use. The version report and the other modes that make no
// request then start without loading it and the thirty libraries behind it (about
// 6 ms of dynamic linking on a 2-core machine).
#pragma once

#include <curl/curl.h>

namespace net::libcurl {

/// The libcurl functions the HTTP core calls.
struct Api {
  CURLcode (*global_init)(long flags);
  CURL* (*easy_init)();
  void (*easy_cleanup)(CURL* handle);
  void (*easy_reset)(CURL* handle);
  CURLcode (*easy_setopt)(CURL* handle, CURLoption option, ...);
  CURLcode (*easy_getinfo)(CURL* handle, CURLINFO info, ...);
  const char* (*easy_strerror)(CURLcode code);
  CURLM* (*multi_init)();
  CURLMcode (*multi_cleanup)(CURLM* multi);
  CURLMcode (*multi_add_handle)(CURLM* multi, CURL* handle);
  CURLMcode (*multi_remove_handle)(CURLM* multi, CURL* handle);
  CURLMcode (*multi_perform)(CURLM* multi, int* running);
  CURLMcode (*multi_poll)(CURLM* multi, curl_waitfd extra[], unsigned int count, int timeoutMs, int* ready);
  CURLMsg* (*multi_info_read)(CURLM* multi, int* queued);
  const char* (*multi_strerror)(CURLMcode code);
  curl_slist* (*slist_append)(curl_slist* list, const char* text);
  void (*slist_free_all)(curl_slist* list);
};

/// Loads libcurl and runs curl_global_init, once per process (thread-safe). Throws
/// RequestException when either fails.
const Api& api();

}  // namespace net::libcurl
