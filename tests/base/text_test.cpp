#include "base/text.hpp"

#include <gtest/gtest.h>

namespace {

TEST(Printable, EscapesWhatATerminalWouldActOnAndKeepsTheRest) {
  const std::pair<std::string, std::string> casos[] = {
      {"Alfa Net, São José – 日本 😀", "Alfa Net, São José – 日本 😀"},
      {std::string("A\0B", 3), "A\\u0000B"},
      {"\x1b[2J\x1b]0;x\x07", "\\u001b[2J\\u001b]0;x\\u0007"},
      {"linha\r\nnova\ttab\x7f", "linha\\u000d\\u000anova\\u0009tab\\u007f"},
      {"C1 \xc2\x9b"
       "31m \xc2\x85",
       "C1 \\u009b31m \\u0085"},
      {"\xe2\x80\xae"
       "direita\xe2\x81\xa6\xe2\x80\xa8",
       "\\u202edireita\\u2066\\u2028"},
      {"barra \\u0000", "barra \\\\u0000"},
      {"Jo\xe3o \xff \xc0\x80 \xed\xa0\x80 \xe2\x82", "Jo\\xe3o \\xff \\xc0\\x80 \\xed\\xa0\\x80 \\xe2\\x82"},
      {"\xf4\x8f\xbf\xbf \xf4\x90\x80\x80", "\xf4\x8f\xbf\xbf \\xf4\\x90\\x80\\x80"},
      {"", ""},
  };
  for (const auto& [texto, esperado] : casos) EXPECT_EQ(base::printable(texto), esperado) << esperado;
}

TEST(IsUtf8, TakesOnlyWellFormedShortestSequences) {
  const std::pair<std::string, bool> casos[] = {
      {"", true},
      {"ascii", true},
      {"S\xc3\xa3o", true},
      {"\xf0\x9f\x98\x80", true},
      {"\xef\xbf\xbf", true},
      {"\xf4\x8f\xbf\xbf", true},
      {"\xc3", false},
      {"\x80", false},
      {"\xc1\xbf", false},
      {"\xe0\x9f\xbf", false},
      {"\xed\xb0\x80", false},
      {"\xf4\x90\x80\x80", false},
      {"\xf8\x88\x80\x80\x80", false},
      {"a\xe2\x82", false},
  };
  for (const auto& [texto, valido] : casos) EXPECT_EQ(base::isUtf8(texto), valido) << testing::PrintToString(texto);
}

}  // namespace
