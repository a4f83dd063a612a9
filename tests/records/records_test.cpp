// The work item keeps its four values in one block: each must come back exactly as the
// registry gave it, and a value that was not text must stay recognisable as such.
#include "records/records.hpp"

#include <gtest/gtest.h>

#include <string>

namespace {

using records::ClienteDados;
using Campo = ClienteDados::Campo;
using net::Json;

TEST(ClienteDados, GivesBackEachValueExactlyAndTellsTextFromOtherTypes) {
  const std::string comNulo("a\0b", 3);
  const ClienteDados item{"", comNulo, Json(-42), Json::object({{"p", {1, "ç"}}})};
  EXPECT_EQ(item.texto(Campo::link), "");
  EXPECT_EQ(item.texto(Campo::nome), comNulo);
  EXPECT_EQ(item.texto(Campo::numero), std::nullopt);
  EXPECT_EQ(item.comoTexto(Campo::numero), "-42");
  EXPECT_EQ(item.texto(Campo::parceiro), std::nullopt);
  EXPECT_EQ(item.comoTexto(Campo::parceiro), R"({"p":[1,"\u00e7"]})");
  // The same text as text or as JSON are different items.
  EXPECT_FALSE((ClienteDados{"h", "1", "1", "p"} == ClienteDados{"h", "1", 1, "p"}));
  EXPECT_TRUE((ClienteDados{"h", "1", "1", "p"} == ClienteDados{"h", "1", "1", "p"}));
  EXPECT_EQ(ClienteDados{}.comoTexto(Campo::parceiro), "");
}

}  // namespace
