#include "net/status.hpp"

#include <array>
#include <utility>

namespace net {

namespace {

constexpr std::array<std::pair<long, const char*>, 22> PHRASES = {{
    {200, "OK"},
    {201, "Created"},
    {204, "No Content"},
    {301, "Moved Permanently"},
    {302, "Found"},
    {307, "Temporary Redirect"},
    {308, "Permanent Redirect"},
    {400, "Bad Request"},
    {401, "Unauthorized"},
    {403, "Forbidden"},
    {404, "Not Found"},
    {405, "Method Not Allowed"},
    {407, "Proxy Authentication Required"},
    {408, "Request Timeout"},
    {413, "Content Too Large"},
    {429, "Too Many Requests"},
    {500, "Internal Server Error"},
    {501, "Not Implemented"},
    {502, "Bad Gateway"},
    {503, "Service Unavailable"},
    {504, "Gateway Timeout"},
    {507, "Insufficient Storage"},
}};

}  // namespace

std::string statusText(long status) {
  std::string text = "HTTP " + std::to_string(status);
  for (const auto& [code, phrase] : PHRASES) {
    if (code == status) return text + " " + phrase;
  }
  return text;
}

}  // namespace net
