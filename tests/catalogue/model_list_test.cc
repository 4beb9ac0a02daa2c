#include "catalogue/model_list.h"

#include <gtest/gtest.h>

#include <dirent.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "common/build_config.h"
#include "support/output_capture.h"
#include "support/param_label.h"
#include "support/temp_dir.h"

namespace lumora {

namespace {

constexpr std::uint32_t kNoProduct = 0xFFFF;
constexpr std::int32_t kMissing = 65535;

struct Expected {
  std::uint32_t vendor_id;
  std::uint32_t product_id;
  std::int32_t type;
  std::int32_t type_hundreds;
  std::int32_t type2;
  std::int32_t re;
  std::int32_t we;
  std::string name;
  std::string cm0;
  std::string cm1;
  std::string cm2;
};

// A line that names nothing but (at most) its identifiers: every other field is missing.
Expected only_ids(std::uint32_t vendor_id, std::uint32_t product_id) {
  return {vendor_id, product_id, 35, 655, kMissing, kMissing, kMissing, "", "", "", ""};
}

struct LineCase {
  const char* label;
  std::string line;
  Expected expected;
};

class ParseAdvModel : public ::testing::TestWithParam<LineCase> {
 protected:
  void TearDown() override { free_adv_models(); }
};

TEST_P(ParseAdvModel, FillsTheRecordAtTheTail) {
  std::vector<char> line(GetParam().line.begin(), GetParam().line.end());
  line.push_back('\0');
  ASSERT_EQ(parse_adv_model(line.data()), 0);
  ASSERT_NE(root_adv_model, nullptr);
  ASSERT_EQ(root_adv_model, tail_adv_model);
  const AdvModel& m = *root_adv_model;
  const Expected& e = GetParam().expected;
  EXPECT_EQ(m.vendor_id, e.vendor_id);
  EXPECT_EQ(m.product_id, e.product_id);
  EXPECT_EQ(m.type, e.type);
  EXPECT_EQ(m.type_hundreds, e.type_hundreds);
  EXPECT_EQ(m.type2, e.type2);
  EXPECT_EQ(m.re, e.re);
  EXPECT_EQ(m.we, e.we);
  EXPECT_EQ(std::string(m.name), e.name);
  EXPECT_EQ(std::string(m.cm[0]), e.cm0);
  EXPECT_EQ(std::string(m.cm[1]), e.cm1);
  EXPECT_EQ(std::string(m.cm[2]), e.cm2);
  EXPECT_EQ(m.next, nullptr);
}

const std::string kLongName(200, 'N');
const std::string kLongCm(100, 'c');

INSTANTIATE_TEST_SUITE_P(
    ModelLine, ParseAdvModel,
    ::testing::Values(
        LineCase{"product_alone", "0x1234", only_ids(kMakerVendorId, 0x1234)},
        LineCase{"vendor_and_product", "0x0001:0x0002,,5,ModelA1,,,x",
                 {1, 2, 0, 0, 5, -1, -1, "ModelA1", "x", "", ""}},
        LineCase{"every_field", "0x04b8:0x0142,1203,7,\"M-1\",16,32,a,b,c,ignored\n",
                 {0x04b8, 0x0142, 3, 12, 7, 16, 32, "\"M-1\"", "a", "b", "c"}},
        LineCase{"negative_type", "0x5,-205,1",
                 {kMakerVendorId, 5, -5, -2, 1, kMissing, kMissing, "", "", "", ""}},
        LineCase{"blanks_inside_quotes", "0x5, 1 , 2 , \"Model  X 1\" , 3 ,4, a b ,c\t,d\r\n",
                 {kMakerVendorId, 5, 1, 0, 2, 3, 4, "\"ModelX1\"", "ab", "c", "d"}},
        LineCase{"comma_inside_quotes_splits", "0x5,1,2,\"A,B\",3",
                 {kMakerVendorId, 5, 1, 0, 2, -1, 3, "\"A", "", "", ""}},
        LineCase{"trailing_comma_after_re", "0x5,1,2,N,7,",
                 {kMakerVendorId, 5, 1, 0, 2, 7, -1, "N", "", "", ""}},
        LineCase{"trailing_comma_after_name", "0x5,1,2,N,",
                 {kMakerVendorId, 5, 1, 0, 2, -1, kMissing, "N", "", "", ""}},
        LineCase{"vendor_without_product", "0x12:0x,1", {0x12, kNoProduct, 1, 0, kMissing,
                                                         kMissing, kMissing, "", "", "", ""}},
        LineCase{"colon_without_second_prefix", "0x5:6", only_ids(kMakerVendorId, 5)},
        LineCase{"id_without_prefix", "1234:0x5", only_ids(kMakerVendorId, kNoProduct)},
        LineCase{"id_not_a_number", "Scanner", only_ids(kMakerVendorId, kNoProduct)},
        LineCase{"empty_id", ",", {kMakerVendorId, kNoProduct, 0, 0, kMissing, kMissing,
                                   kMissing, "", "", "", ""}},
        LineCase{"empty_line", "", only_ids(kMakerVendorId, kNoProduct)},
        LineCase{"carriage_return_only", "\r", only_ids(kMakerVendorId, kNoProduct)},
        LineCase{"blanks_and_tabs_only", " \t ", only_ids(kMakerVendorId, kNoProduct)},
        LineCase{"types_not_numbers", "0x5,abc,xyz,N",
                 {kMakerVendorId, 5, 0, 0, 0, kMissing, kMissing, "N", "", "", ""}},
        LineCase{"type_followed_by_text", "0x5,12ab,3",
                 {kMakerVendorId, 5, 12, 0, 3, kMissing, kMissing, "", "", "", ""}},
        LineCase{"re_we_not_numbers", "0x5,1,2,N,x,y",
                 {kMakerVendorId, 5, 1, 0, 2, -1, -1, "N", "", "", ""}},
        LineCase{"type_overflow_saturates", "0x5,99999999999",
                 {kMakerVendorId, 5, INT32_MAX % 100, INT32_MAX / 100, kMissing, kMissing,
                  kMissing, "", "", "", ""}},
        LineCase{"id_overflow_saturates", "0x123456789:0x1ffffffff",
                 only_ids(UINT32_MAX, UINT32_MAX)},
        LineCase{"long_texts_are_cut", "0x5,1,2," + kLongName + ",3,4," + kLongCm + ",y,z",
                 {kMakerVendorId, 5, 1, 0, 2, 3, 4, kLongName.substr(0, kAdvModelNameSize - 1),
                  kLongCm.substr(0, kAdvModelCmSize - 1), "y", "z"}},
        LineCase{"long_id_is_scanned_whole",
                 "0x" + std::string(900, '0') + "1:0x" + std::string(40, '0') + "2,9",
                 {1, 2, 9, 0, kMissing, kMissing, kMissing, "", "", "", ""}}),
    lumora::testing::ParamLabel());

class ParseAdvModelList : public ::testing::Test {
 protected:
  void TearDown() override { free_adv_models(); }
};

TEST_F(ParseAdvModelList, AppendsEachLineAtTheTailInOrder) {
  for (const char* text : {"0x1,1,1,First", "0x2,2,2,Second", "0x3,3,3,Third"}) {
    std::string line = text;
    ASSERT_EQ(parse_adv_model(line.data()), 0);
    ASSERT_NE(tail_adv_model, nullptr);
    EXPECT_EQ(std::string(tail_adv_model->name), text + 8);
  }
  std::vector<std::string> names;
  for (const AdvModel* m = root_adv_model; m != nullptr; m = m->next) names.push_back(m->name);
  EXPECT_EQ(names, (std::vector<std::string>{"First", "Second", "Third"}));
}

TEST_F(ParseAdvModelList, RemovesTheWhitespaceOfTheCallersLine) {
  std::string line = " 0x1 , 2 ,\t3\r\n";
  ASSERT_EQ(parse_adv_model(line.data()), 0);
  // The line is cut at its commas as the fields are read; the first field is what is left.
  EXPECT_EQ(std::string(line.c_str()), "0x1");
}

}  // namespace

namespace {

constexpr std::int32_t kBefore = 77;  // what the target held before the field was read

struct NumberCase {
  const char* label;
  std::optional<std::string> rest;  // nullopt: no field left
  std::int32_t expected;
  std::optional<std::string> after;  // the rest returned; nullopt: none
};

class NumberField : public ::testing::TestWithParam<NumberCase> {};

TEST_P(NumberField, ScansOrKeepsOrDefaults) {
  const NumberCase& c = GetParam();
  std::vector<char> line;
  if (c.rest) {
    line.assign(c.rest->begin(), c.rest->end());
    line.push_back('\0');
  }
  std::int32_t target = kBefore;
  const char* after = next_field(c.rest ? line.data() : nullptr, target, kMissing);
  EXPECT_EQ(target, c.expected);
  ASSERT_EQ(after != nullptr, c.after.has_value());
  if (after != nullptr) {
    EXPECT_EQ(std::string(after), *c.after);
    EXPECT_EQ(after, line.data() + (c.rest->size() - c.after->size()));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Fields, NumberField,
    ::testing::Values(
        NumberCase{"missing", std::nullopt, kMissing, std::nullopt},
        NumberCase{"last_field", "12", 12, std::nullopt},
        NumberCase{"followed_by_more", "12,34,x", 12, "34,x"},
        NumberCase{"negative", "-205,", -205, ""},
        NumberCase{"plus_sign", "+3", 3, std::nullopt},
        NumberCase{"digits_then_text", "5abc,1", 5, "1"},
        NumberCase{"empty_and_more", ",1", kBefore, "1"},
        NumberCase{"empty_and_last", "", kBefore, std::nullopt},
        NumberCase{"not_a_number", "abc,1", kBefore, "1"},
        NumberCase{"sign_alone", "-,1", kBefore, "1"},
        NumberCase{"digits_after_the_comma_do_not_count", "x,5", kBefore, "5"},
        NumberCase{"overflow_saturates", "99999999999", INT32_MAX, std::nullopt},
        NumberCase{"underflow_saturates", "-99999999999", INT32_MIN, std::nullopt}),
    lumora::testing::ParamLabel());

struct TextCase {
  const char* label;
  std::optional<std::string> rest;
  std::string expected;
  std::optional<std::string> after;
};

class TextField : public ::testing::TestWithParam<TextCase> {};

TEST_P(TextField, CopiesCutsKeepsOrEmpties) {
  const TextCase& c = GetParam();
  std::vector<char> line;
  if (c.rest) {
    line.assign(c.rest->begin(), c.rest->end());
    line.push_back('\0');
  }
  // Six bytes of room and a guard behind them that must never change.
  char target[8] = {'o', 'l', 'd', '\0', '\0', '\0', '#', '#'};
  const char* after = next_field(c.rest ? line.data() : nullptr, target, 6);
  EXPECT_EQ(std::string(target), c.expected);
  EXPECT_EQ(target[6], '#');
  EXPECT_EQ(target[7], '#');
  ASSERT_EQ(after != nullptr, c.after.has_value());
  if (after != nullptr) {
    EXPECT_EQ(std::string(after), *c.after);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Fields, TextField,
    ::testing::Values(
        TextCase{"missing_empties", std::nullopt, "", std::nullopt},
        TextCase{"whole_text", "\"M1\",3", "\"M1\"", "3"},
        TextCase{"comma_inside_quotes_splits", "\"A,B\"", "\"A", "B\""},
        TextCase{"empty_keeps", ",x", "old", "x"},
        TextCase{"empty_last_keeps", "", "old", std::nullopt},
        TextCase{"long_text_is_cut", "abcdefghij,k", "abcde", "k"},
        TextCase{"trailing_comma", "x,", "x", ""}),
    lumora::testing::ParamLabel());

}  // namespace

namespace {

using lumora::testing::TempDir;

std::vector<std::string> names() {
  std::vector<std::string> result;
  for (const AdvModel* m = root_adv_model; m != nullptr; m = m->next) result.push_back(m->name);
  return result;
}

std::string section(const std::string& lines) { return "[Support Model]\n" + lines; }

class ModelList : public ::testing::Test {
 protected:
  void SetUp() override { free_adv_models(); }
  void TearDown() override { free_adv_models(); }

  std::string models_dir() const { return dir_.path() + "/models"; }
  std::string default_file() const { return dir_.path() + "/Lumsane.ini"; }
  void write_model_file(const std::string& name, const std::string& content) const {
    dir_.write("models/" + name, content);
  }
  void write_default(const std::string& content) const { dir_.write("Lumsane.ini", content); }
  int load() { return load_adv_models_from(models_dir().c_str(), default_file().c_str()); }
  static std::string dump() {
    lumora::testing::OutputCapture printed;
    EXPECT_EQ(dump_adv_models(), 0);
    return printed.text();
  }

  TempDir dir_;
};

TEST_F(ModelList, ReadsTheModelsDirectoryBeforeTheDefaultFile) {
  write_default(section("0x1:0x20,1,2,\"X\"\n0x1:0x30,1,2,\"Y\"\n"));
  write_model_file("b.ini", section("0x1:0x10,1,2,\"X\"\n"));
  EXPECT_EQ(load(), 0);
  EXPECT_EQ(names(), (std::vector<std::string>{"\"X\"", "\"X\"", "\"Y\""}));
  std::uint32_t vendor = 0;
  std::uint32_t product = 0;
  EXPECT_EQ(get_adv_model_ids("\"X\"", &vendor, &product), 1);
  EXPECT_EQ(vendor, 1u);
  EXPECT_EQ(product, 0x10u);
  EXPECT_EQ(get_adv_model_ids("\"Y\"", &vendor, &product), 1);
  EXPECT_EQ(product, 0x30u);
}

TEST_F(ModelList, ReadsDirectoryFilesInTheOrderTheDirectoryYieldsThem) {
  for (const char* name : {"c.ini", "a.ini", "d.ini", "b.ini"}) {
    write_model_file(name, section(std::string("0x1,1,2,") + name + "\n"));
  }
  std::vector<std::string> expected;
  DIR* dir = opendir(models_dir().c_str());
  ASSERT_NE(dir, nullptr);
  while (const dirent* entry = readdir(dir)) {
    if (entry->d_name[0] != '.') expected.push_back(entry->d_name);
  }
  closedir(dir);
  EXPECT_EQ(load(), 0);
  EXPECT_EQ(names(), expected);
}

TEST_F(ModelList, ReadsOnlyVisibleIniEntriesOfTheDirectory) {
  for (const char* name : {".ini", "a.INI", ".x.ini", "b.ini", "notes.txt", "c.ini~"}) {
    write_model_file(name, section(std::string("0x1,1,2,") + name + "\n"));
  }
  std::filesystem::create_directories(models_dir() + "/x.ini");
  EXPECT_EQ(load(), 0);
  EXPECT_EQ(names(), (std::vector<std::string>{"b.ini"}));
}

TEST_F(ModelList, ReadsTheDefaultFileWithoutAModelsDirectory) {
  write_default(section("0x1,1,2,\"Only\"\n"));
  EXPECT_EQ(load(), 0);
  EXPECT_EQ(names(), (std::vector<std::string>{"\"Only\""}));
}

TEST_F(ModelList, PassesOverEntriesWhosePathDoesNotFitItsBuffer) {
  // A models directory path of 1000 characters leaves room for 22 characters of a name in a
  // 1024-byte path. A longer name cut to fit would name the file "nnnnnnnnnnnnnnnnnnnnnn",
  // which must not be read in its place.
  std::string deep = dir_.path();
  while (deep.size() < 1000) {
    deep += "/" + std::string(std::min<std::size_t>(100, 999 - deep.size()), 'd');
  }
  ASSERT_EQ(deep.size(), 1000u);
  const std::string relative = deep.substr(dir_.path().size() + 1);
  const std::string cut_name(22, 'n');
  dir_.write(relative + "/b.ini", section("0x1,1,2,Short\n"));
  dir_.write(relative + "/" + cut_name + "tail.ini", section("0x1,1,2,Long\n"));
  dir_.write(relative + "/" + cut_name, section("0x1,1,2,Cut\n"));
  EXPECT_EQ(load_adv_models_from(deep.c_str(), default_file().c_str()), 0);
  EXPECT_EQ(names(), (std::vector<std::string>{"Short"}));
}

TEST_F(ModelList, ASecondLoadReadsNothing) {
  write_default(section("0x1,1,2,A\n"));
  ASSERT_EQ(load(), 0);
  const AdvModel* head = root_adv_model;
  write_default(section("0x1,1,2,B\n"));
  EXPECT_EQ(load(), -1);
  // The built-in paths are never opened while a list is held.
  EXPECT_EQ(load_adv_models(), -1);
  EXPECT_EQ(root_adv_model, head);
  EXPECT_EQ(names(), (std::vector<std::string>{"A"}));
}

TEST_F(ModelList, FreeingLetsTheNextLoadReadTheFilesAgain) {
  write_default(section("0x1,1,2,A\n0x1,1,2,B\n"));
  ASSERT_EQ(load(), 0);
  EXPECT_EQ(free_adv_models(), 0);
  EXPECT_EQ(root_adv_model, nullptr);
  EXPECT_EQ(tail_adv_model, nullptr);
  EXPECT_EQ(adv_model_exists("A"), 0);
  write_default(section("0x1,1,2,C\n"));
  EXPECT_EQ(load(), 0);
  EXPECT_EQ(names(), (std::vector<std::string>{"C"}));
  EXPECT_EQ(tail_adv_model, root_adv_model);
}

TEST_F(ModelList, ALoadWithoutModelLinesLeavesTheCatalogueNotLoaded) {
  write_default(section("# nothing yet\n"));
  EXPECT_EQ(load(), 0);
  EXPECT_EQ(root_adv_model, nullptr);
  write_default(section("0x1,1,2,A\n"));
  EXPECT_EQ(load(), 0);
  EXPECT_EQ(names(), (std::vector<std::string>{"A"}));
}

TEST_F(ModelList, LookupsOnACatalogueNeverLoadedGiveNothing) {
  write_default(section("0x1,1,2,\"A\"\n"));
  std::uint32_t vendor = 7;
  std::uint32_t product = 8;
  EXPECT_EQ(adv_model_exists("\"A\""), 0);
  EXPECT_EQ(get_adv_model_ids("\"A\"", &vendor, &product), 0);
  EXPECT_EQ(vendor, 7u);
  EXPECT_EQ(product, 8u);
  EXPECT_EQ(dump(), "");
  EXPECT_EQ(root_adv_model, nullptr);
}

struct LookupCase {
  const char* name;
  int expected;
};

class ModelLookup : public ModelList, public ::testing::WithParamInterface<LookupCase> {};

TEST_P(ModelLookup, ComparesNamesExactly) {
  write_default(section("0x04b8:0x0142,1,2,\"Model  One\"\n0x0143,1,2,Bare\n"));
  ASSERT_EQ(load(), 0);
  std::uint32_t vendor = 7;
  std::uint32_t product = 8;
  EXPECT_EQ(adv_model_exists(GetParam().name), GetParam().expected);
  EXPECT_EQ(get_adv_model_ids(GetParam().name, &vendor, &product), GetParam().expected);
  if (GetParam().expected == 0) {
    EXPECT_EQ(vendor, 7u);
    EXPECT_EQ(product, 8u);
  } else {
    EXPECT_NE(product, 8u);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Catalogue, ModelLookup,
    ::testing::Values(LookupCase{"\"ModelOne\"", 1}, LookupCase{"Bare", 1},
                      LookupCase{"\"Model  One\"", 0}, LookupCase{"ModelOne", 0},
                      LookupCase{"\"modelone\"", 0}, LookupCase{"\"ModelOne", 0},
                      LookupCase{"\"Model", 0}, LookupCase{"\"Bare\"", 0}, LookupCase{"", 0}));

TEST_F(ModelList, GivesTheIdsOfTheFirstRecordOfAName) {
  write_default(section("0x04b8:0x0142,1,2,\"M\"\n0x0143,1,2,\"M\"\n0x0144,1,2,\"N\"\n"));
  ASSERT_EQ(load(), 0);
  std::uint32_t vendor = 0;
  std::uint32_t product = 0;
  ASSERT_EQ(get_adv_model_ids("\"M\"", &vendor, &product), 1);
  EXPECT_EQ(vendor, 0x04b8u);
  EXPECT_EQ(product, 0x0142u);
  ASSERT_EQ(get_adv_model_ids("\"N\"", &vendor, &product), 1);
  EXPECT_EQ(vendor, kMakerVendorId);
  EXPECT_EQ(product, 0x0144u);
}

TEST_F(ModelList, DumpsEveryRecordInListOrder) {
  write_default(section("0x0001:0x0002,,5,ModelA1,,,x\n0x1234\n"
                        "0x04b8:0x0142, -205 ,3,\"Model  One\",16,255,a,b,c\n"));
  ASSERT_EQ(load(), 0);
  char maker_line[128];
  std::snprintf(maker_line, sizeof maker_line,
                "MODEL:,ID:0x%x:0x1234,TYPE:35,65535,RE:0xffff,WE:0xffff CM:,,\n",
                static_cast<unsigned>(kMakerVendorId));
  EXPECT_EQ(dump(), std::string("MODEL:ModelA1,ID:0x1:0x2,TYPE:0,5,RE:0xffffffff,WE:0xffffffff CM:x,,\n") +
                        maker_line +
                        "MODEL:\"ModelOne\",ID:0x4b8:0x142,TYPE:-5,3,RE:0x10,WE:0xff CM:a,b,c\n");
}

}  // namespace

}  // namespace lumora
