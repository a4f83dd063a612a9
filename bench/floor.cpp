// The floor of the benchmark: only the pool phase, done as plainly as libcurl allows.
// Ten threads, one easy handle each (CAPATH cleared, so the parsed CA store is kept),
// three POSTs per customer, every one on a fresh connection without TLS resumption.
// Usage: bench_floor URLS_FILE CA_BUNDLE   (one endpoint URL per line)
#include <curl/curl.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

std::vector<std::string> urls;
std::atomic<std::size_t> next{0};
std::atomic<long> failures{0};
const char* caBundle = nullptr;

size_t onBody(char* data, size_t, size_t size, void* ctx) {
  static_cast<std::string*>(ctx)->append(data, size);
  return size;
}

bool post(CURL* h, const std::string& url, const std::string& body, curl_slist* headers, std::string& answer) {
  answer.clear();
  curl_easy_setopt(h, CURLOPT_URL, url.c_str());
  curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
  curl_easy_setopt(h, CURLOPT_POSTFIELDS, body.c_str());
  long status = 0;
  if (curl_easy_perform(h) != CURLE_OK) return false;
  curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
  return status == 200;
}

void worker() {
  CURL* h = curl_easy_init();
  std::string answer;
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(h, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  curl_easy_setopt(h, CURLOPT_FRESH_CONNECT, 1L);
  curl_easy_setopt(h, CURLOPT_FORBID_REUSE, 1L);
  curl_easy_setopt(h, CURLOPT_SSL_SESSIONID_CACHE, 0L);
  curl_easy_setopt(h, CURLOPT_CAPATH, nullptr);
  curl_easy_setopt(h, CURLOPT_CAINFO, caBundle);
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, onBody);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &answer);
  curl_easy_setopt(h, CURLOPT_POST, 1L);
  curl_slist* rpc = curl_slist_append(nullptr, "Content-Type: application/json-rpc");
  curl_slist* json = curl_slist_append(nullptr, "Content-Type: application/json");
  const std::string login =
      R"({"jsonrpc": "2.0", "method": "user.login", "params": {"user": "Admin", "password": "zabbix"}, "id": 1, "auth": null})";
  for (std::size_t i; (i = next.fetch_add(1)) < urls.size();) {
    const std::string& url = urls[i];
    if (!post(h, url, login, rpc, answer)) {
      ++failures;
      continue;
    }
    const auto at = answer.find(R"("result":")");
    const auto end = at == std::string::npos ? at : answer.find('"', at + 10);
    if (end == std::string::npos) {
      ++failures;
      continue;
    }
    const std::string token = answer.substr(at + 10, end - at - 10);
    const std::string item =
        R"({"jsonrpc": "2.0", "method": "item.get", "params": {"output": ["itemid", "name", "lastvalue"], "host": "Zabbix server", "search": {"key_": "grpsum[\"CONCENTRADORES\",\"pppoeTotal\",last]"}}, "auth": ")" +
        token + R"(", "id": 1})";
    const std::string logout =
        R"({"jsonrpc": "2.0", "method": "user.logout", "params": [], "id": 1, "auth": ")" + token + R"("})";
    if (!post(h, url, item, rpc, answer) || answer.find("lastvalue") == std::string::npos) ++failures;
    if (!post(h, url, logout, json, answer) || answer.find(R"("result":true)") == std::string::npos) ++failures;
  }
  curl_slist_free_all(rpc);
  curl_slist_free_all(json);
  curl_easy_cleanup(h);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s URLS_FILE CA_BUNDLE\n", argv[0]);
    return 2;
  }
  std::ifstream in(argv[1]);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty()) urls.push_back(line);
  }
  caBundle = argv[2];
  curl_global_init(CURL_GLOBAL_DEFAULT);
  std::vector<std::thread> threads;
  for (int t = 0; t < 10; ++t) threads.emplace_back(worker);
  for (auto& t : threads) t.join();
  curl_global_cleanup();
  std::printf("%zu customers, %ld failures\n", urls.size(), failures.load());
  return failures == 0 ? 0 : 1;
}
