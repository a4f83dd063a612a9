// Reading a body element by element must give exactly what a whole parse gives: the
// same values, the same failures with the same messages.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/json.hpp"

namespace {

using net::Json;

struct Lido {
  std::vector<Json> elementos;
  std::optional<Json> documento;
};

Lido ler(const std::string& corpo, std::size_t ate = SIZE_MAX) {
  Lido lido;
  lido.documento = net::parseJsonElements(corpo, [&](Json& elemento) {
    lido.elementos.push_back(elemento);
    return lido.elementos.size() < ate;
  });
  return lido;
}

std::string falha(const std::function<void()>& passo) {
  try {
    passo();
  } catch (const net::JsonError& erro) {
    return erro.what();
  }
  return "(no failure)";
}

TEST(ParseJsonPorElemento, HandsOverTheElementsAWholeParseHolds) {
  const char* casos[] = {
      "[]",
      " [ 1 , \"dois\", null, true, false, -3.5e2, 18446744073709551615 ] ",
      R"([{"a": 1, "b": [1, {"c": []}], "a": 2}, [[]], {}, "\u00e7\ud83d\ude00", [{"x": {"y": [null]}}]])",
      "\xEF\xBB\xBF[{\"bom\": 1}]",
  };
  for (const std::string caso : casos) {
    const Json inteiro = net::parseJson(caso);
    const Lido lido = ler(caso);
    EXPECT_FALSE(lido.documento.has_value()) << caso;
    ASSERT_EQ(lido.elementos.size(), inteiro.size()) << caso;
    for (std::size_t i = 0; i < inteiro.size(); ++i) {
      EXPECT_EQ(lido.elementos[i].dump(), inteiro[i].dump()) << caso;  // member order too
    }
  }
}

TEST(ParseJsonPorElemento, ReturnsAnyOtherDocumentWhole) {
  for (const std::string caso : {R"({"error": [1, 2], "z": {}})", R"("")", "42", "null", " {} "}) {
    const Lido lido = ler(caso);
    ASSERT_TRUE(lido.documento.has_value()) << caso;
    EXPECT_EQ(lido.documento->dump(), net::parseJson(caso).dump()) << caso;
    EXPECT_TRUE(lido.elementos.empty());
  }
}

TEST(ParseJsonPorElemento, FailsLikeAWholeParseWithTheSameMessage) {
  const std::string casos[] = {
      "",
      "[1, 2",
      "[1, 2] x",
      "[{\"a\": 1}, {\"a\" 2}]",
      "[\"\xC3\"]",
      "[1,]",
      "{\"a\": [}",
      std::string(net::MAX_JSON_DEPTH + 1, '[') + std::string(net::MAX_JSON_DEPTH + 1, ']'),
  };
  for (const auto& caso : casos) {
    const std::string esperado = falha([&] { net::parseJson(caso); });
    ASSERT_NE(esperado, "(no failure)") << caso;
    EXPECT_EQ(falha([&] { ler(caso); }), esperado) << caso;
  }
}

TEST(ParseJsonPorElemento, StopsBuildingWhenAskedButStillChecksTheRest) {
  EXPECT_EQ(ler(R"([{"a": 1}, {"b": [2]}, 3, [4]])", 2).elementos.size(), 2u);
  EXPECT_NE(falha([] { ler(R"([{"a": 1}, {"b": [2]}, 3, [4)", 1); }), "(no failure)");
}

}  // namespace
