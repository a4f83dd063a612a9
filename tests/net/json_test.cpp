#include "net/json.hpp"

#include <gtest/gtest.h>

namespace {

using net::Json;

struct Caso {
  const char* nome;
  Json valor;
  const char* esperado;
};

TEST(Serialize, WritesEachValueAsTheRequestBodiesNeed) {
  const Caso casos[] = {
      {"empty object", Json::object(), "{}"},
      {"empty array", Json::array(), "[]"},
      {"null, booleans, integers", Json::array({nullptr, true, false, 1, -42, 0}), "[null, true, false, 1, -42, 0]"},
      {"member order kept",
       Json{{"jsonrpc", "2.0"}, {"method", "user.logout"}, {"params", Json::array()}, {"id", 1}, {"auth", "tok"}},
       R"({"jsonrpc": "2.0", "method": "user.logout", "params": [], "id": 1, "auth": "tok"})"},
      {"nested", Json{{"a", Json{{"b", Json::array({1, "x"})}}}}, R"({"a": {"b": [1, "x"]}})"},
      {"short escapes", "\"\\\b\f\n\r\t", R"("\"\\\b\f\n\r\t")"},
      {"other controls", std::string("\x01\x1f\x00", 3), R"("\u0001\u001f\u0000")"},
      {"solidus and DEL as is", "a/b\x7f", "\"a/b\x7f\""},
      {"latin letters", "Não é", R"("N\u00e3o \u00e9")"},
      {"basic plane", "€✓", R"("\u20ac\u2713")"},
      {"beyond the basic plane", "😀𝄞", R"("\ud83d\ude00\ud834\udd1e")"},
      {"zabbix item key", R"(grpsum["CONCENTRADORES","pppoeTotal",last])",
       R"("grpsum[\"CONCENTRADORES\",\"pppoeTotal\",last]")"},
  };
  for (const auto& caso : casos) EXPECT_EQ(net::serialize(caso.valor), caso.esperado) << caso.nome;
}

TEST(Serialize, RefusesTextThatIsNotUtf8) {
  const std::string invalidos[] = {"\xff", "a\xc3", "\xc0\xaf", "\xed\xa0\x80", "\xf4\x90\x80\x80", "\xe2\x82"};
  for (const auto& texto : invalidos) EXPECT_THROW(net::serialize(Json(texto)), net::JsonEncodeError) << texto;
}

TEST(Serialize, RoundTripsThroughTheParser) {
  const Json original = Json::parse(R"({"z": "ação 😀", "a": [1, {"k": null}], "m": "\u0007"})");
  EXPECT_EQ(net::parseJson(net::serialize(original)), original);
  EXPECT_EQ(net::parseJson(net::serialize(original)).begin().key(), "z");
}

TEST(ParseJson, FailsWithAJsonErrorOnBodiesThatAreNotJson) {
  for (const char* corpo : {"", "<html></html>", "{\"a\": ", "\"\xff\"", "{} x"}) {
    EXPECT_THROW(net::parseJson(corpo), net::JsonError) << corpo;
  }
}

TEST(PlainText, GivesTextUnchangedAndOtherValuesAsCompactJson) {
  EXPECT_EQ(net::plainText(Json("abc é")), "abc é");
  EXPECT_EQ(net::plainText(Json(12345678901234)), "12345678901234");
  EXPECT_EQ(net::plainText(Json(1.5)), "1.5");
  EXPECT_EQ(net::plainText(Json(nullptr)), "null");
  EXPECT_EQ(net::plainText(Json::parse(R"({"a": [1, true]})")), R"({"a":[1,true]})");
}

}  // namespace
