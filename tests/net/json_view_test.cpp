// The quick in-place reading of array elements must never read a text otherwise than
// the JSON library: what it reads to the end, the library reads the same way; on
// anything the library refuses it says it cannot tell.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/json.hpp"
#include "net/json_view.hpp"

namespace {

using net::ElementosJson;
using Passo = ElementosJson::Passo;

// The steps of reading `corpo` to its end (or to the first uncertain step).
std::vector<Passo> passos(const std::string& corpo, std::vector<std::string>* brutos = nullptr) {
  ElementosJson elementos(corpo);
  if (!elementos.abrir()) return {};
  std::vector<Passo> lidos;
  net::NosJson nos;
  for (;;) {
    lidos.push_back(elementos.proximo(nos));
    if (lidos.back() == Passo::fim || lidos.back() == Passo::incerto) return lidos;
    if (brutos != nullptr) brutos->emplace_back(nos[0].bruto);
  }
}

TEST(ElementosJson, ReadsEachElementAsItsOwnText) {
  std::vector<std::string> brutos;
  EXPECT_EQ(passos(" [1 ,\"a\\\"\",{\"k\": [true, null, -0]},[] ,{}\r\n]\t", &brutos),
            (std::vector<Passo>{Passo::elemento, Passo::elemento, Passo::elemento, Passo::elemento, Passo::elemento,
                                Passo::fim}));
  EXPECT_EQ(brutos, (std::vector<std::string>{"1", "\"a\\\"\"", "{\"k\": [true, null, -0]}", "[]", "{}"}));
  EXPECT_EQ(passos("[]"), std::vector<Passo>{Passo::fim});
}

TEST(ElementosJson, LeavesNumbersBeyondAPlainIntegerToTheLibrary) {
  for (const char* corpo : {"[1.5]", "[{\"n\": 1e400}]", "[-1234567890123456789]", "[[0E0]]"}) {
    EXPECT_EQ(passos(corpo), (std::vector<Passo>{Passo::numero, Passo::fim})) << corpo;
  }
  EXPECT_EQ(passos("[-123456789012345678]"), (std::vector<Passo>{Passo::elemento, Passo::fim}));
}

TEST(ElementosJson, IsUncertainWhereverTheLibraryRefusesTheBody) {
  const std::vector<std::string> recusados = {
      "[", "[1", "[1,]", "[,1]", "[1 2]", "[1] x", "[1]]", "[01]", "[-]", "[1.]", "[.5]", "[1e]", "[+1]",
      "[tru]", "[nul]", "[True]", "[{\"a\" 1}]", "[{1: 2}]", "[{\"a\": 1,}]", "[{\"a\": 1 \"b\": 2}]", "[\"a]",
      "[\"\\x\"]", "[\"\\u12G4\"]", "[\"\\ud800\"]", "[\"\\ud800\\u0041\"]", "[\"\\udc00\"]",
      std::string("[\"a\x01\"]"), std::string("[\"\0\"]", 5), "[\"\xc0\xaf\"]", "[\"\xc3\"]",
      "[\"\xe0\x80\xaf\"]", "[\"\xed\xa0\x80\"]", "[\"\xf4\x90\x80\x80\"]", "[\"\xf5\x80\x80\x80\"]", "[\"\xff\"]",
      "[1]\v", "[/* */]", std::string(net::MAX_JSON_DEPTH + 1, '[') + std::string(net::MAX_JSON_DEPTH + 1, ']')};
  for (const auto& corpo : recusados) {
    EXPECT_THROW(net::parseJson(corpo), net::JsonDecodeError) << corpo;
    const auto lidos = passos(corpo);
    EXPECT_TRUE(!lidos.empty() && lidos.back() == Passo::incerto) << corpo;
  }
  // Not an array to begin with (a byte order mark included): the caller parses it whole.
  for (const char* corpo : {"{}", "\"\"", "", "\xef\xbb\xbf[]"}) EXPECT_FALSE(ElementosJson(corpo).abrir()) << corpo;
  // The deepest nesting the library takes is read.
  const std::string fundo = std::string(net::MAX_JSON_DEPTH, '[') + std::string(net::MAX_JSON_DEPTH, ']');
  EXPECT_EQ(passos(fundo).back(), Passo::fim);
}

TEST(ElementosJson, DecodesTextsAndFindsTheMemberTheLibraryKeeps) {
  const std::string corpo =
      R"([{"a": 1, "\u0061": "x\u00e7\ud83d\ude00\/\\\"\b\f\n\r\t\u0000", "b": {"a": 9}, "a": "últim)"
      "\xc3\xb3\"}]";
  ElementosJson elementos(corpo);
  ASSERT_TRUE(elementos.abrir());
  net::NosJson nos;
  ASSERT_EQ(elementos.proximo(nos), Passo::elemento);
  const net::Json esperado = net::parseJson(corpo)[0];
  std::string espaco;
  const std::size_t a = net::membroJson(nos, 0, "a", espaco);
  ASSERT_NE(a, 0u);
  EXPECT_EQ(net::textoDe(nos[a], espaco), esperado["a"].get<std::string>());
  EXPECT_EQ(net::membroJson(nos, 0, "c", espaco), 0u);
  const std::size_t b = net::membroJson(nos, 0, "b", espaco);
  EXPECT_EQ(net::parseJson(nos[b].bruto), esperado["b"]);
  // Every text node decodes as the library decodes it.
  for (const auto& no : nos) {
    if (no.tipo == net::NoJson::Tipo::texto) {
      EXPECT_EQ(net::textoDe(no, espaco), net::parseJson(no.bruto).get<std::string>()) << no.bruto;
    }
  }
  EXPECT_EQ(elementos.proximo(nos), Passo::fim);
}

}  // namespace
