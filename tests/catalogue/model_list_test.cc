#include "catalogue/model_list.h"

#include <dirent.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "common/build_config.h"
#include "support/temp_dir.h"

namespace lumora {
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
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(dump_adv_models(), 0);
    return ::testing::internal::GetCapturedStdout();
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
