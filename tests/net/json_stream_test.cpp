// Reading a body element by element must give exactly what a whole parse gives: the
// same values, the same failures with the same messages.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/json.hpp"

namespace {

using net::Json;

struct Read {
  std::vector<Json> elements;
  std::optional<Json> document;
};

Read readElements(const std::string& body, std::size_t upTo = SIZE_MAX) {
  Read read;
  read.document = net::parseJsonElements(body, [&](Json& element) {
    read.elements.push_back(element);
    return read.elements.size() < upTo;
  });
  return read;
}

std::string failureOf(const std::function<void()>& step) {
  try {
    step();
  } catch (const net::JsonError& error) {
    return error.what();
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
    const Read read = readElements(caso);
    EXPECT_FALSE(read.document.has_value()) << caso;
    ASSERT_EQ(read.elements.size(), inteiro.size()) << caso;
    for (std::size_t i = 0; i < inteiro.size(); ++i) {
      EXPECT_EQ(read.elements[i].dump(), inteiro[i].dump()) << caso;  // member order too
    }
  }
}

TEST(ParseJsonPorElemento, ReturnsAnyOtherDocumentWhole) {
  for (const std::string caso : {R"({"error": [1, 2], "z": {}})", R"("")", "42", "null", " {} "}) {
    const Read read = readElements(caso);
    ASSERT_TRUE(read.document.has_value()) << caso;
    EXPECT_EQ(read.document->dump(), net::parseJson(caso).dump()) << caso;
    EXPECT_TRUE(read.elements.empty());
  }
}

TEST(ParseJsonPorElemento, FailsLikeAWholeParseWithTheSameMessage) {
  const std::string casos[] = {
      "",           "[1, 2",
      "[1, 2] x",   "[{\"a\": 1}, {\"a\" 2}]",
      "[\"\xC3\"]", "[1,]",
      "{\"a\": [}", std::string(net::MAX_JSON_DEPTH + 1, '[') + std::string(net::MAX_JSON_DEPTH + 1, ']'),
  };
  for (const auto& caso : casos) {
    const std::string esperado = failureOf([&] { net::parseJson(caso); });
    ASSERT_NE(esperado, "(no failure)") << caso;
    EXPECT_EQ(failureOf([&] { readElements(caso); }), esperado) << caso;
  }
}

TEST(ParseJsonPorElemento, StopsBuildingWhenAskedButStillChecksTheRest) {
  EXPECT_EQ(readElements(R"([{"a": 1}, {"b": [2]}, 3, [4]])", 2).elements.size(), 2u);
  EXPECT_NE(failureOf([] { readElements(R"([{"a": 1}, {"b": [2]}, 3, [4)", 1); }), "(no failure)");
}

}  // namespace
