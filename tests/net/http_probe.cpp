// Test driver: performs one exchange described as JSON in argv[1] with the real HTTP
// core and prints the outcome as one JSON line.
#include <iostream>

#include "base/deadline.hpp"
#include "net/http.hpp"
#include "net/json.hpp"

namespace {

net::HttpRequest readRequest(const net::Json& d) {
  net::HttpRequest request;
  request.method = d.value("method", "GET");
  request.url = d.at("url").get<std::string>();
  for (const auto& h : d.value("headers", net::Json::array())) request.headers.emplace_back(h[0], h[1]);
  for (const auto& q : d.value("query", net::Json::array())) request.query.emplace_back(q[0], q[1]);
  if (d.contains("body")) request.body = d["body"].get<std::string>();
  for (const auto& piece : d.value("parts", net::Json::array())) request.bodyParts.push_back(piece.get<std::string>());
  if (d.contains("basic")) request.basic = net::Credentials{d["basic"][0], d["basic"][1]};
  if (d.contains("idle_ms"))
    request.idleTimeout = request.connectTimeout = std::chrono::milliseconds(d["idle_ms"].get<long>());
  if (d.contains("connect_ms")) request.connectTimeout = std::chrono::milliseconds(d["connect_ms"].get<long>());
  request.followRedirects = d.value("follow", true);
  return request;
}

net::Json exchange(const net::Json& d) {
  net::CurlClient client(d.value("ca", std::string()));
  std::optional<base::RuntimeGuard> guard;
  if (d.contains("deadline_s")) guard.emplace(d["deadline_s"].get<int>());
  const auto response = client.perform(readRequest(d));
  return {{"status", response.status},
          {"location", response.location},
          {"body", net::Json::binary({response.body.begin(), response.body.end()})}};
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  net::Json output;
  try {
    output = exchange(net::Json::parse(argv[1]));
    // Bytes as a list of numbers: the body need not be UTF-8.
    const auto& bytes = output["body"].get_binary();
    output["body"] = net::Json(std::vector<int>(bytes.begin(), bytes.end()));
  } catch (const base::TimeoutException& e) {
    output = {{"error", "TimeoutException"}, {"message", e.what()}};
  } catch (const net::RequestException& e) {
    output = {{"error", "RequestException"}, {"message", e.what()}, {"transient", e.transient()}};
  }
  std::cout << output.dump() << std::endl;
  return 0;
}
