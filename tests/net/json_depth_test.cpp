// Deeply nested bodies: a peer's "[[[[…" must not run the stack out while the run prints
// or copies the parsed value. The parser refuses them as bodies that are not JSON.
#include <gtest/gtest.h>

#include <string>

#include "discovery/selection.hpp"
#include "net/json.hpp"

namespace {

std::string nested(std::size_t levels, const std::string& inside = "") {
  return std::string(levels, '[') + inside + std::string(levels, ']');
}

TEST(ParseJsonDepth, AcceptsTheDeepestNestingItAllowsAndRefusesOneLevelMore) {
  EXPECT_EQ(net::parseJson(nested(net::MAX_JSON_DEPTH)).dump().size(), 2 * net::MAX_JSON_DEPTH);
  EXPECT_THROW(net::parseJson(nested(net::MAX_JSON_DEPTH + 1)), net::JsonError);
  EXPECT_THROW(net::parseJson(std::string(net::MAX_JSON_DEPTH, '{') + "["), net::JsonError);
}

TEST(ParseJsonDepth, AHugeNestingIsAJsonErrorWithItsOwnMessage) {
  try {
    net::parseJson(nested(1000000));
    FAIL() << "parsed";
  } catch (const net::JsonError& erro) {
    EXPECT_STREQ(erro.what(), "invalid JSON: nested deeper than 1000 levels");
  }
}

TEST(ParseJsonDepth, BracketsInsideTextDoNotCount) {
  const std::string texto = std::string(5000, '[') + "\\\"" + std::string(5000, '{');
  const net::Json valor = net::parseJson("[\"" + texto + "\", \"\\\\\", [1]]");
  EXPECT_EQ(valor.size(), 3u);
  EXPECT_EQ(valor[0].get<std::string>(), std::string(5000, '[') + "\"" + std::string(5000, '{'));
}

TEST(ParseJsonDepth, TheRegistryListAtTheLimitIsRefusedBySelectionWithoutACrash) {
  const net::Json lista = net::parseJson(nested(net::MAX_JSON_DEPTH));
  EXPECT_THROW(discovery::selecionarClientes(lista), discovery::ListaInvalida);
  EXPECT_EQ(net::serialize(lista).size(), 2 * net::MAX_JSON_DEPTH);
}

}  // namespace
