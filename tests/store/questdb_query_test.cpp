#include "store/questdb_query.hpp"

#include <gtest/gtest.h>

#include "base/deadline.hpp"
#include "tests/support/console_capture.hpp"
#include "tests/support/fake_http.hpp"

namespace {

using net::Json;
using testing_support::ConsoleCapture;
using testing_support::FakeHttp;

class ConsultarQuestDb : public testing::Test {
 protected:
  static store::DestinoQuestDb em(const char* host) { return {host, 9443, {"admin", "qu:e st"}}; }

  FakeHttp http;
};

TEST_F(ConsultarQuestDb, SendsAPlainGetToPort80WithQueryThenFmtAndBasicCredentials) {
  const std::string sql = "\n  CREATE TABLE 'x' (a INT,   \"b\" LONG);\n  ";
  http.respond(200, R"({"ddl":"OK"})");
  store::consultarQuestDb(http, em("10.0.0.7"), sql);
  ASSERT_EQ(http.requests().size(), 1u);
  const auto& pedido = http.requests()[0];
  EXPECT_EQ(pedido.method, "GET");
  EXPECT_EQ(pedido.url, "http://10.0.0.7/exec");
  EXPECT_EQ(pedido.query, (net::QueryParams{{"query", sql}, {"fmt", "json"}}));
  ASSERT_TRUE(pedido.basic);
  EXPECT_EQ(pedido.basic->user, "admin");
  EXPECT_EQ(pedido.basic->password, "qu:e st");
  EXPECT_TRUE(pedido.headers.empty());
  EXPECT_FALSE(pedido.body);
  EXPECT_FALSE(pedido.idleTimeout);
}

TEST_F(ConsultarQuestDb, ReturnsTheDecodedBodyWhateverTheStatus) {
  const std::pair<long, const char*> respostas[] = {
      {200, R"({"query":"SHOW COLUMNS FROM t","columns":[],"count":7})"},
      {400, R"({"query":"SHOW COLUMNS FROM t","error":"table does not exist [table=t]","position":18})"},
      {401, R"({"error":"unauthorized"})"},
      {500, "[1, 2]"},
  };
  for (const auto& [status, corpo] : respostas) {
    http.respond(status, corpo);
    ConsoleCapture console;
    const Json resposta = store::consultarQuestDb(http, em("h"), "SELECT 1");
    EXPECT_EQ(console.out(), "") << status;
    EXPECT_EQ(resposta, Json::parse(corpo)) << status;
  }
  EXPECT_EQ(store::consultarQuestDb(http.respond(200, R"({"z":1,"a":2})"), em("h"), "q").begin().key(), "z");
}

TEST_F(ConsultarQuestDb, PrintsTheTransportFailureAndAnswersNull) {
  http.fail("Failed to connect to 10.0.0.7 port 80 after 0 ms: Couldn't connect to server");
  ConsoleCapture console;
  const Json resposta = store::consultarQuestDb(http, em("10.0.0.7"), "SELECT 1");
  EXPECT_EQ(console.out(), "Error: Failed to connect to 10.0.0.7 port 80 after 0 ms: Couldn't connect to server\n");
  EXPECT_TRUE(resposta.is_null());
}

TEST_F(ConsultarQuestDb, PassesABodyThatIsNotJsonOnWithoutPrintingAndNamesItsStatus) {
  const std::pair<long, const char*> casos[] = {
      {401, ""}, {401, "Unauthorized\r\n"}, {502, "<html><body>502 Bad Gateway</body></html>"}, {299, "x"}};
  const char* status[] = {"HTTP 401 Unauthorized: ", "HTTP 401 Unauthorized: ", "HTTP 502 Bad Gateway: ", "HTTP 299: "};
  for (std::size_t i = 0; i < std::size(casos); ++i) {
    http.respond(casos[i].first, casos[i].second);
    ConsoleCapture console;
    try {
      store::consultarQuestDb(http, em("h"), "SELECT 1");
      ADD_FAILURE() << casos[i].second;
    } catch (const net::JsonError& e) {
      EXPECT_TRUE(std::string(e.what()).starts_with(std::string(status[i]) + "invalid JSON: ")) << e.what();
    }
    EXPECT_EQ(console.out(), "") << casos[i].second;
  }
}

TEST_F(ConsultarQuestDb, LetsTheRunDeadlineThrough) {
  struct Expirado final : net::HttpClient {
    net::HttpResponse perform(const net::HttpRequest&) override { throw base::TimeoutException(300); }
  } expirado;
  ConsoleCapture console;
  EXPECT_THROW(store::consultarQuestDb(expirado, em("h"), "SELECT 1"), base::TimeoutException);
  EXPECT_EQ(console.out(), "");
}

}  // namespace
