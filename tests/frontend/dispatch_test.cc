#include "frontend/dispatch.h"

#include <gtest/gtest.h>

namespace lumora {
namespace {

struct KeyCase {
  const char* word;
  std::int32_t key;
};

TEST(CommandKey, PacksTheFirstTwoOrThreeBytes) {
  const KeyCase cases[] = {
      {"-a", 0x2D61},       {"-r", 0x2D72},        {"-q", 0x2D71},
      {"-d", 0x2D64},       {"-D3", 0x2D4433},     {"-D3verbose", 0x2D4433},
      {"-p", 0x2D70},       {"-s:", 0x2D733A},     {"-s:office", 0x2D733A},
      {"-l:", 0x2D6C3A},    {"-LI", 0x2D4C49},     {"-LO", 0x2D4C4F},
      {"-LOG", 0x2D4C4F},   {"-i", 0x2D69},        {"-h", 0x2D68},
      {"-H", 0x2D48},       {"-?", 0x2D3F},        {"-ab", 0x2D6162},
      {"-pp", 0x2D7070},    {"", 0},               {nullptr, 0},
      {"-", 0x2D00},        {"\xff\xff\xff", 0xFFFFFF},
  };
  for (const KeyCase& c : cases) {
    EXPECT_EQ(command_key(c.word), c.key) << (c.word ? c.word : "(none)");
  }
}

TEST(CommandKey, ATwoCharacterOptionMatchesOnlyWhenTheWordEndsThere) {
  EXPECT_EQ(command_key("-a"), make_key('-', 'a'));
  EXPECT_NE(command_key("-ab"), make_key('-', 'a'));
  EXPECT_NE(command_key("-pp"), make_key('-', 'p'));
}

}  // namespace
}  // namespace lumora
