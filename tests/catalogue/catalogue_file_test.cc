#include "catalogue/catalogue_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "catalogue/model_list.h"
#include "common/build_config.h"
#include "netconfig/test_scrambler.h"
#include "support/file_text.h"
#include "support/output_capture.h"
#include "support/param_label.h"
#include "support/temp_dir.h"

namespace lumora {
namespace {

using lumora::testing::keys_for_selector;
using lumora::testing::scramble_line;
using lumora::testing::TempDir;

// Every field of a record in one text, so lists compare as vectors of texts.
std::string describe(const AdvModel& m) {
  return std::string(m.name) + "|" + std::to_string(m.vendor_id) + ":" +
         std::to_string(m.product_id) + "|" + std::to_string(m.type) + "," +
         std::to_string(m.type_hundreds) + "," + std::to_string(m.type2) + "|" +
         std::to_string(m.re) + "," + std::to_string(m.we) + "|" + m.cm[0] + "," + m.cm[1] +
         "," + m.cm[2];
}

std::vector<std::string> catalogue() {
  std::vector<std::string> records;
  for (const AdvModel* m = root_adv_model; m != nullptr; m = m->next) records.push_back(describe(*m));
  return records;
}

// A record read from "0x1:0x<product>,1,2,<name>".
std::string model(const std::string& name, std::uint32_t product) {
  return name + "|1:" + std::to_string(product) + "|1,0,2|65535,65535|,,";
}

// The record of a line that is empty once its whitespace is gone.
std::string empty_model() {
  return "|" + std::to_string(kMakerVendorId) + ":65535|35,655,65535|65535,65535|,,";
}

class CatalogueFile : public ::testing::Test {
 protected:
  void TearDown() override { free_adv_models(); }
  std::vector<std::string> read(const std::string& content) {
    free_adv_models();
    read_adv_model_file(dir_.write("Lumsane.ini", content).c_str());
    return catalogue();
  }
  TempDir dir_;
};

struct FileCase {
  const char* label;
  std::string content;
  std::vector<std::string> expected;
};

class CatalogueFileCases : public CatalogueFile, public ::testing::WithParamInterface<FileCase> {};

TEST_P(CatalogueFileCases, YieldsTheSectionsModels) {
  EXPECT_EQ(read(GetParam().content), GetParam().expected);
}

std::string scrambled(const std::string& plain, int selector) {
  return scramble_line(plain, keys_for_selector(selector));
}

INSTANTIATE_TEST_SUITE_P(
    Files, CatalogueFileCases,
    ::testing::Values(
        // The files of tests/data/catalogue are read by CatalogueFixtures below.
        FileCase{"carriage_return_lines", "[Support Model]\r\n0x1:0x2,1,2,A\r\n\r\n",
                 {model("A", 2), empty_model()}},
        FileCase{"last_line_of_blanks", "[Support Model]\n0x1:0x2,1,2,A\n \t",
                 {model("A", 2), empty_model()}},
        FileCase{"scrambled_lines", scrambled("[Support Model]\n", 3) +
                                        scrambled("0x1:0x2,1,2,A\n", 5) +
                                        scrambled("  # note\n", 6) + scrambled("\n", 7) +
                                        scrambled("[Other]\n", 0) + "0x1:0x3,1,2,B\n",
                 {model("A", 2)}},
        // "?#", a key and a line break descrambles to the empty line: not a blank line.
        FileCase{"line_empty_after_descrambling", "[Support Model]\n?#A\n", {empty_model()}},
        FileCase{"scrambled_line_break_is_blank", "[Support Model]\n?#AB\n", {}},
        // fgets takes 1023 characters at a time: a line of 1023 and its break gives a blank
        // line after it, one of 1024 a one-character line.
        FileCase{"line_of_1023", "[Support Model]\n0x1:0x2,1,2,A" + std::string(1010, ' ') +
                                     "\n",
                 {model("A", 2)}},
        FileCase{"line_of_1024", "[Support Model]\n0x1:0x2,1,2,A" + std::string(1010, ' ') +
                                     "Q\n",
                 {model("A", 2), empty_model()}}),
    lumora::testing::ParamLabel());

// Each tests/data/catalogue/NAME.ini, read on its own, dumps as NAME.dump beside it. The
// header near-misses (one byte longer, one byte short) are among them.
TEST_F(CatalogueFile, EachFixtureDumpsAsTheFileBesideIt) {
  std::vector<std::filesystem::path> fixtures;
  for (const auto& entry : std::filesystem::directory_iterator(LUMORA_TEST_DATA_DIR "/catalogue")) {
    if (entry.path().extension() == ".ini") fixtures.push_back(entry.path());
  }
  std::sort(fixtures.begin(), fixtures.end());
  ASSERT_FALSE(fixtures.empty());
  for (const std::filesystem::path& ini : fixtures) {
    SCOPED_TRACE(ini.filename().string());
    free_adv_models();
    read_adv_model_file(ini.c_str());
    std::filesystem::path dump = ini;
    dump.replace_extension(".dump");
    EXPECT_PRINTS(dump_adv_models(), lumora::testing::read_whole_file(dump.string()));
  }
}

TEST_F(CatalogueFile, ScrambledLinesOver496CharactersStayAsTheyAre) {
  const std::string plain = "0x1:0x2,1,2,A" + std::string(490, ' ') + "\n";
  const std::string line = scrambled(plain, 2);
  ASSERT_GT(line.size(), 496u);
  const std::vector<std::string> records = read("[Support Model]\n" + line);
  ASSERT_EQ(records.size(), 1u);
  // Read as plain text, the ID field begins with "?#" and supplies no identifier.
  EXPECT_EQ(root_adv_model->vendor_id, kMakerVendorId);
  EXPECT_EQ(root_adv_model->product_id, 0xFFFFu);
}

TEST_F(CatalogueFile, ScrambledAndPlainFilesGiveTheSameList) {
  const std::vector<std::string> lines = {
      "# catalogue of the test\n",
      "[Support Model]\n",
      "0x04b8:0x0142, 1203, 7, \"Model  One\", 16, 32, a|b, ~c, d\n",
      "\n",
      "  # not a model\n",
      "0x0143,2,0,\"Two\",,,x\n",
      "0x12:0x,-205,1,\"Three\",\n",
      "\t0x0144,1,2,\"Four{}\",1,2,3,4,5,6\r\n",
      "\r\n",
      "[Other]\n",
      "0x0145,1,2,\"Never\"\n",
  };
  std::string plain;
  std::string scrambled_file;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    plain += lines[i];
    scrambled_file += scrambled(lines[i], static_cast<int>(i % 8));
  }
  const std::vector<std::string> from_plain = read(plain);
  EXPECT_EQ(from_plain.size(), 5u);
  EXPECT_EQ(read(scrambled_file), from_plain);
}

TEST_F(CatalogueFile, MissingFilesAndDirectoriesContributeNothing) {
  read_adv_model_file((dir_.path() + "/absent.ini").c_str());
  EXPECT_EQ(root_adv_model, nullptr);
  std::filesystem::create_directory(dir_.path() + "/x.ini");
  read_adv_model_file((dir_.path() + "/x.ini").c_str());
  EXPECT_EQ(root_adv_model, nullptr);
}

TEST_F(CatalogueFile, AppendsBehindWhatIsAlreadyInTheList) {
  read("[Support Model]\n0x1:0x2,1,2,A\n");
  read_adv_model_file(dir_.write("more.ini", "[Support Model]\n0x1:0x3,1,2,B\n").c_str());
  EXPECT_EQ(catalogue(), (std::vector<std::string>{model("A", 2), model("B", 3)}));
  EXPECT_EQ(std::string(tail_adv_model->name), "B");
}

struct NameCase {
  const char* name;
  int expected;
};

class IniName : public ::testing::TestWithParam<NameCase> {};

TEST_P(IniName, PassesOnlyVisibleIniFiles) {
  EXPECT_EQ(is_ini_name(GetParam().name), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Files, IniName,
                         ::testing::Values(NameCase{"b.ini", 0}, NameCase{"x.ini", 0},
                                           NameCase{"a.b.ini", 0}, NameCase{".ini", -1},
                                           NameCase{".x.ini", -1}, NameCase{"a.INI", -1},
                                           NameCase{"b.ini.bak", -1}, NameCase{"aini", -1},
                                           NameCase{"ini", -1}, NameCase{"", -1},
                                           NameCase{".", -1}, NameCase{"..", -1}));

TEST(IniNameMissing, Fails) { EXPECT_EQ(is_ini_name(nullptr), -1); }

}  // namespace
}  // namespace lumora
