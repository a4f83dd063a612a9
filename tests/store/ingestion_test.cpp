#include "store/ingestion.hpp"

#include <gtest/gtest.h>

#include <deque>

#include "base/deadline.hpp"
#include "tests/support/fake_http.hpp"

namespace {

using namespace std::chrono_literals;
using store::IngressError;
using store::TimestampMicros;
using store::TimestampNanos;
using testing_support::FakeHttp;

std::string messageOf(const std::function<void()>& passo) {
  try {
    passo();
  } catch (const IngressError& e) {
    return e.what();
  }
  return "(no IngressError)";
}

// Where the tests' rows go; the user name and password hold what a URL would have to escape.
const store::DestinoQuestDb DESTINO{"127.0.0.5", 19443, {"ad;min", "qu est"}};

store::Espera noRetry() {
  store::Espera espera = store::esperaReal();
  espera.limite = 0ms;
  return espera;
}

TEST(LinhaProtocolo, EscapesNamesAndValuesAndWritesTypedFields) {
  struct Caso {
    const char* nome;
    std::string tabela;
    store::Simbolos simbolos;
    store::Colunas colunas;
    std::string esperada;
  };
  const TimestampNanos at{1733650000123456789};
  const Caso casos[] = {
      {"a whole row",
       "pppoeClientes",
       {{"nome", "Alfa Net"}, {"parceiro", "Sul"}},
       {{"numero", std::int64_t{12}},
        {"status", std::int64_t{1}},
        {"pppoe", std::int64_t{345}},
        {"timestamp", TimestampMicros{1733650000000000}},
        {"timestampDummy", TimestampMicros{946684800000000}}},
       "pppoeClientes,nome=Alfa\\ Net,parceiro=Sul numero=12i,status=1i,pppoe=345i,timestamp=1733650000000000t,"
       "timestampDummy=946684800000000t 1733650000123456789\n"},
      {"null left out",
       "t",
       {{"s", "v"}},
       {{"a", std::int64_t{1}}, {"pppoe", std::monostate{}}, {"b", std::int64_t{2}}},
       "t,s=v a=1i,b=2i 1733650000123456789\n"},
      {"extreme integers",
       "t",
       {},
       {{"max", std::int64_t{9223372036854775807}},
        {"min", std::int64_t{-9223372036854775807 - 1}},
        {"zero", std::int64_t{0}}},
       "t max=9223372036854775807i,min=-9223372036854775808i,zero=0i 1733650000123456789\n"},
      {"specials in symbol values",
       "t",
       {{"s", "a b,c=d\\e\nf\rg"}},
       {{"x", std::int64_t{0}}},
       "t,s=a\\ b\\,c\\=d\\\\e\\\nf\\\rg x=0i 1733650000123456789\n"},
      {"specials in names",
       "tab la,x=y\\",
       {{"sím bolo", "v"}},
       {{"col,u=na", std::int64_t{1}}},
       "tab\\ la\\,x\\=y\\\\,s\xc3\xadm\\ bolo=v col\\,u\\=na=1i 1733650000123456789\n"},
      {"quotes, tab and UTF-8 as is",
       "t",
       {{"nome", "Provedor \"Ação\" 'X'\t😀"}},
       {{"n", std::int64_t{1}}},
       "t,nome=Provedor\\ \"Ação\"\\ 'X'\t😀 n=1i 1733650000123456789\n"},
  };
  for (const auto& caso : casos) {
    EXPECT_EQ(store::linhaProtocolo(caso.tabela, caso.simbolos, caso.colunas, at), caso.esperada) << caso.nome;
  }
}

TEST(LinhaProtocolo, RefusesRowsTheServerCouldNotRead) {
  const TimestampNanos at{1};
  const store::Colunas uma{{"n", std::int64_t{1}}};
  EXPECT_EQ(messageOf([&] { store::linhaProtocolo("", {}, uma, at); }), "nome de tabela vazio");
  EXPECT_EQ(messageOf([&] {
              store::linhaProtocolo("t", {{"s", "v"}}, {{"p", std::monostate{}}}, at);
            }),
            "linha da tabela 't' sem nenhuma coluna");
}

// A clock that moves only when the flush pauses, and notes each pause.
struct PauseClock {
  std::chrono::steady_clock::time_point agora{};
  std::vector<std::chrono::milliseconds> pausas;

  store::Espera espera(std::chrono::milliseconds limite = store::Espera{}.limite) {
    return {[this] { return agora; },
            [this](std::chrono::milliseconds pausa) {
              pausas.push_back(pausa);
              agora += pausa;
            },
            limite};
  }
};

class SenderFlush : public testing::Test {
 protected:
  store::Sender novo() {
    return store::Sender(http, DESTINO, [] { return std::int64_t{1000}; });
  }
  void oneRow(store::Sender& sender, const char* valor) {
    sender.row("t", {{"s", valor}}, {{"n", std::int64_t{1}}}, TimestampNanos{5});
  }

  FakeHttp http;
};

TEST_F(SenderFlush, PostsTheWholeBufferOnceWithCredentialsAndContentType) {
  http.respond(204, "");
  auto sender = novo();
  oneRow(sender, "a");
  oneRow(sender, "b");
  sender.flush();
  ASSERT_EQ(http.requests().size(), 1u);
  const auto& pedido = http.requests()[0];
  EXPECT_EQ(pedido.method, "POST");
  EXPECT_EQ(pedido.url, "https://127.0.0.5:19443/write");
  EXPECT_EQ(pedido.headers, (net::Headers{{"Content-Type", "text/plain; charset=utf-8"}}));
  EXPECT_TRUE(pedido.query.empty());
  EXPECT_EQ(testing_support::wholeBody(pedido), "t,s=a n=1i 5\nt,s=b n=1i 5\n");
  ASSERT_TRUE(pedido.basic);
  EXPECT_EQ(pedido.basic->user, "ad;min");
  EXPECT_EQ(pedido.basic->password, "qu est");
  EXPECT_FALSE(pedido.idleTimeout);
}

TEST_F(SenderFlush, KeepsALargeBatchInBlocksOfAtMost64KiB) {
  http.respond(204, "");
  auto sender = novo();
  std::string esperado;
  for (int i = 0; i < 3000; ++i) {
    const std::string valor = "cliente-" + std::to_string(i) + std::string(static_cast<std::size_t>(i % 50), 'x');
    oneRow(sender, valor.c_str());
    esperado += "t,s=" + valor + " n=1i 5\n";
  }
  sender.flush();
  const auto& pedido = http.requests().at(0);
  EXPECT_FALSE(pedido.body);
  EXPECT_GT(pedido.bodyParts.size(), 1u);
  for (const auto& bloco : pedido.bodyParts) EXPECT_LE(bloco.capacity(), 64u * 1024);
  EXPECT_EQ(testing_support::wholeBody(pedido), esperado);
}

TEST_F(SenderFlush, SendsNothingForAnEmptyBufferNorTwiceForTheSameRows) {
  auto sender = novo();
  sender.flush();
  EXPECT_TRUE(http.requests().empty());
  http.respond(204, "").respond(204, "");
  oneRow(sender, "a");
  sender.flush();
  sender.flush();
  oneRow(sender, "b");
  sender.flush();
  ASSERT_EQ(http.requests().size(), 2u);
  EXPECT_EQ(testing_support::wholeBody(http.requests()[1]), "t,s=b n=1i 5\n");
}

TEST_F(SenderFlush, TurnsEveryRefusalIntoAnIngressErrorWithTheServersText) {
  struct Caso {
    long status;
    const char* corpo;
    const char* mensagem;
  };
  const Caso casos[] = {
      {400,
       R"({"code":"invalid","message":"failed to parse line protocol:errors encountered on line(s):\nerror in line 1: table: semTabela; table does not exist, creating new tables is disabled","line":1,"errorId":"c75bb05939df-1"})",
       "o QuestDB recusou as linhas (HTTP 400): failed to parse line protocol:errors encountered on line(s): error in "
       "line 1: table: semTabela; table does not exist, creating new tables is disabled [linha 1]"},
      {401, "Unauthorized\r\n", "o QuestDB recusou as linhas (HTTP 401): Unauthorized"},
      {502, "<html>\r\n<head><title>502 Bad Gateway</title></head>\r\n</html>\r\n",
       "o QuestDB recusou as linhas (HTTP 502): <html> <head><title>502 Bad Gateway</title></head> </html>"},
      {500, "", "o QuestDB recusou as linhas (HTTP 500)"},
  };
  for (const auto& caso : casos) {
    http.respond(caso.status, caso.corpo);
    auto sender = store::Sender(http, DESTINO, store::nanosSistema, noRetry());
    oneRow(sender, "a");
    EXPECT_EQ(messageOf([&] { sender.flush(); }), caso.mensagem) << caso.status;
  }
}

// Sent again on a restart's failures (a fresh connection each time: every exchange has one),
// never on a refusal, a redirect or a certificate that cannot be trusted.
TEST_F(SenderFlush, SendsAgainOnlyWhileTheFailureMayPass) {
  using testing_support::Script;
  const auto semRede = testing_support::Failure{"Recv failure: Connection reset by peer", true};
  const auto semConfianca = testing_support::Failure{"SSL certificate problem: unable to get local issuer certificate"};
  struct Caso {
    const char* nome;
    std::vector<Script> roteiro;
    const char* mensagem;  // empty: stored
  };
  const Caso casos[] = {
      {"503 then 204", {testing_support::response(503, "busy"), testing_support::response(204, "")}, ""},
      {"reset then 204", {semRede, testing_support::response(204, "")}, ""},
      {"400 is final",
       {testing_support::response(400, R"({"message":"bad"})")},
       "o QuestDB recusou as linhas (HTTP 400): bad"},
      {"404 is final", {testing_support::response(404, "")}, "o QuestDB recusou as linhas (HTTP 404)"},
      {"an untrusted certificate is final",
       {semConfianca},
       "falha ao enviar as linhas para https://127.0.0.5:19443/write: SSL certificate problem: unable to get local "
       "issuer certificate"},
      {"a redirect is final",
       {net::HttpResponse{302, "", "https://127.0.0.5:19443/moved"}},
       "o QuestDB respondeu com um redirecionamento (HTTP 302 para https://127.0.0.5:19443/moved): as linhas não "
       "foram gravadas"},
  };
  for (const auto& caso : casos) {
    FakeHttp fake;
    for (const auto& passo : caso.roteiro) fake.respond(passo);
    PauseClock relogio;
    auto sender = store::Sender(fake, DESTINO, store::nanosSistema, relogio.espera());
    oneRow(sender, "a");
    EXPECT_EQ(messageOf([&] { sender.flush(); }), *caso.mensagem ? caso.mensagem : "(no IngressError)") << caso.nome;
    EXPECT_TRUE(fake.scriptDone()) << caso.nome;
    for (const auto& pedido : fake.requests()) {
      EXPECT_EQ(testing_support::wholeBody(pedido), "t,s=a n=1i 5\n") << caso.nome;
      EXPECT_FALSE(pedido.followRedirects) << caso.nome;
    }
  }
}

// The pauses double from 10 ms up to 1 s, and the flush gives up with the last failure once
// its retry time has passed.
TEST_F(SenderFlush, GivesUpWithTheLastErrorOnceTheRetryTimeoutHasPassed) {
  using Pausas = std::vector<std::chrono::milliseconds>;
  Pausas ate1s{10ms, 20ms, 40ms, 80ms, 160ms, 320ms, 640ms};
  ate1s.insert(ate1s.end(), 9, 1000ms);  // 1270 ms, then 1 s at a time past 10 s
  const std::pair<std::chrono::milliseconds, Pausas> casos[] = {
      {100ms, {10ms, 20ms, 40ms, 80ms}},
      {10000ms, ate1s},
      {0ms, {}},
  };
  for (const auto& [reenvio, esperadas] : casos) {
    FakeHttp fake;
    for (std::size_t i = 0; i < esperadas.size(); ++i) fake.respond(503, "busy");
    fake.respond(503, "still busy");
    PauseClock relogio;
    auto sender = store::Sender(fake, DESTINO, store::nanosSistema, relogio.espera(reenvio));
    oneRow(sender, "a");
    EXPECT_EQ(messageOf([&] { sender.flush(); }), "o QuestDB recusou as linhas (HTTP 503): still busy")
        << reenvio.count();
    EXPECT_EQ(relogio.pausas, esperadas) << reenvio.count();
    EXPECT_TRUE(fake.scriptDone()) << reenvio.count();
  }
}

TEST_F(SenderFlush, LetsTheRunDeadlineThroughUntouched) {
  struct Expirado final : net::HttpClient {
    net::HttpResponse perform(const net::HttpRequest&) override { throw base::TimeoutException(300); }
  } expirado;
  auto sender = store::Sender(expirado, DESTINO);
  sender.row("t", {}, {{"n", std::int64_t{1}}}, TimestampNanos{5});
  EXPECT_THROW(sender.flush(), base::TimeoutException);
}

TEST_F(SenderFlush, ClosingAfterAFailureSendsNothingAndRefusesMoreRows) {
  http.respond(400, R"({"message":"no"})");
  {
    auto sender = novo();
    oneRow(sender, "a");
    EXPECT_THROW(sender.flush(), IngressError);
    sender.close();
    sender.close();
    EXPECT_EQ(messageOf([&] { oneRow(sender, "b"); }), "o sender já foi fechado");
    EXPECT_EQ(messageOf([&] { sender.flush(); }), "o sender já foi fechado");
  }
  {
    auto naoEnviado = novo();
    oneRow(naoEnviado, "c");
  }
  EXPECT_EQ(http.requests().size(), 1u);
}

TEST(SenderNow, NeverGoesBackInTime) {
  std::deque<std::int64_t> leituras{100, 90, 120, 120, 50, 121};
  FakeHttp http;
  auto sender = store::Sender(http, DESTINO, [&] {
    const auto lido = leituras.front();
    leituras.pop_front();
    return lido;
  });
  std::vector<std::int64_t> dadas;
  for (int i = 0; i < 6; ++i) dadas.push_back(sender.now().nanos);
  EXPECT_EQ(dadas, (std::vector<std::int64_t>{100, 100, 120, 120, 120, 121}));
}

}  // namespace
