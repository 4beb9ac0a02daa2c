#include "catalogue/model_match.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "netconfig/test_scrambler.h"
#include "query/query_answers.h"
#include "support/temp_dir.h"

namespace lumora {
namespace {

struct MatchCase {
  const char* what;
  std::vector<std::string> catalogue;
  std::string_view ty;
  std::string_view usb_mdl;
  const char* expected;  // null: no match
};

const char* matched(const MatchCase& c) {
  const std::size_t index = match_catalogue_model(c.catalogue, {c.ty, c.usb_mdl});
  return index == kNoModelMatch ? nullptr : c.catalogue[index].c_str();
}

TEST(ModelMatchTest, TheLongestCatalogueNameStandingAsAWholeWordWins) {
  const MatchCase cases[] = {
      {"exact", {"MX-200"}, "MX-200", "", "MX-200"},
      {"maker's name before it", {"MX-200"}, "Kelvane MX-200", "", "MX-200"},
      {"maker and range before it", {"MX-200"}, "Kelvane LumaScan MX-200", "", "MX-200"},
      {"series suffix", {"MX-200"}, "Kelvane MX-200 series", "", "MX-200"},
      {"other case", {"MX-200"}, "kelvane mx-200 Series", "", "MX-200"},
      {"bracketed", {"MX-200"}, "Kelvane (MX-200)", "", "MX-200"},
      {"two candidates: the longer", {"LS-10", "LS-10-PRO"}, "Kelvane LS-10-PRO", "", "LS-10-PRO"},
      {"two candidates in the other order", {"LS-10-PRO", "LS-10"}, "LS-10-PRO series", "",
       "LS-10-PRO"},
      {"two candidates: only the shorter stands", {"LS-10", "LS-10-PRO"}, "Kelvane LS-10 series",
       "", "LS-10"},
      {"equally long: catalogue order", {"MX-200", "LS-300"}, "MX-200 / LS-300", "", "MX-200"},
      {"none", {"MX-200", "LS-10"}, "Other Maker Z9", "", nullptr},
      {"a prefix of a longer model is no match", {"MX-200"}, "Kelvane MX-2000", "", nullptr},
      {"a suffix of a longer model is no match", {"X-200"}, "Kelvane MX-200", "", nullptr},
      {"letters glued before it", {"MX-200"}, "KelvaneMX-200", "", nullptr},
      {"a digit glued after it", {"MX-200"}, "MX-2001", "", nullptr},
      {"a letter glued after it", {"MX-200"}, "MX-200F", "", nullptr},
      {"blanks inside the name do not count", {"MX200"}, "MX 200", "", nullptr},
      {"empty description", {"MX-200"}, "", "", nullptr},
      {"empty catalogue", {}, "MX-200", "", nullptr},
      {"empty catalogue name", {""}, "MX-200", "", nullptr},
      {"usb_MDL alone", {"MX-300"}, "", "MX-300", "MX-300"},
      {"usb_MDL when ty names none", {"MX-300"}, "Kelvane Office", "MX-300", "MX-300"},
      {"the longer of ty and usb_MDL", {"LS-10", "LS-10-PRO"}, "LS-10", "LS-10-PRO", "LS-10-PRO"},
      {"ty first on equal length", {"MX-200", "MX-300"}, "MX-300", "MX-200", "MX-300"},
      {"non-ASCII bytes around it", {"MX-200"}, "B\xc3\xbcro MX-200 \xe2\x9c\x93", "", "MX-200"},
      {"longer than the description", {"MX-200 series"}, "MX-200", "", nullptr},
  };
  for (const MatchCase& c : cases) {
    const char* got = matched(c);
    if (c.expected == nullptr) {
      EXPECT_EQ(got, nullptr) << c.what << ": matched " << got;
    } else {
      ASSERT_NE(got, nullptr) << c.what;
      EXPECT_STREQ(got, c.expected) << c.what;
    }
  }
}

TEST(ModelMatchTest, WholeWordsAreCutAtNonAlphanumericBytes) {
  const std::pair<std::string_view, bool> cases[] = {
      {"MX-200", true},   {"x MX-200", true},  {"MX-200,", true},   {"_MX-200_", true},
      {"aMX-200", false}, {"MX-2009", false},  {"MX-20", false},    {"", false},
  };
  for (const auto& [description, expected] : cases) {
    EXPECT_EQ(stands_as_whole_word(description, "MX-200"), expected) << description;
  }
}

// The names come from the catalogue files as the add command reads them: a scrambled line is
// descrambled first, and only quoted names count.
TEST(ModelMatchTest, MatchesNamesOfScrambledCatalogueLines) {
  const testing::TempDir dir;
  const std::string scrambled = testing::scramble_line(
      "0x2e5a:0x0107,101,2,\"LS-10-PRO\",1,1,,,", testing::keys_for_selector(3));
  const std::string scrambled_in_models = testing::scramble_line(
      "0x2e5a:0x0109,101,2,\"QX-9\",1,1,,,", testing::keys_for_selector(6, 'C'));
  dir.write("Lumsane.ini", "[Support Model]\n0x2e5a:0x0106,101,2,\"LS-10\",1,1,,,\n" + scrambled +
                               "\n0x2e5a:0x0110,101,2,UNQUOTED-1,1,1,,,\n");
  dir.write("models/extra.ini", "[Support Model]\n" + scrambled_in_models + "\n");
  QuerySources sources;
  const std::string models = dir.path() + "/models";
  const std::string catalogue = dir.path() + "/Lumsane.ini";
  sources.models_dir = models.c_str();
  sources.default_catalogue = catalogue.c_str();
  std::vector<std::string> names;
  std::string error;
  ASSERT_TRUE(catalogue_model_names(sources, names, error)) << error;
  ASSERT_EQ(names, (std::vector<std::string>{"QX-9", "LS-10", "LS-10-PRO"}));

  const std::pair<std::string_view, const char*> cases[] = {
      {"Kelvane LS-10-PRO series", "LS-10-PRO"},
      {"Kelvane LS-10", "LS-10"},
      {"Kelvane QX-9", "QX-9"},
      {"Kelvane UNQUOTED-1", nullptr},
      {"?#ARm%o8h<gm%mlmjqlmlqoq", nullptr},
  };
  for (const auto& [ty, expected] : cases) {
    const std::size_t index = match_catalogue_model(names, {ty});
    if (expected == nullptr) {
      EXPECT_EQ(index, kNoModelMatch) << ty;
    } else {
      ASSERT_NE(index, kNoModelMatch) << ty;
      EXPECT_EQ(names[index], expected) << ty;
    }
  }
}

}  // namespace
}  // namespace lumora
