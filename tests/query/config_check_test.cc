#include "query/config_check.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "support/file_text.h"
#include "support/temp_sources.h"

namespace lumora {
namespace {

using lumora::testing::read_whole_file;
using lumora::testing::TempSources;
using lumora::testing::write_whole_file;

class ConfigCheckTest : public ::testing::Test {
 protected:
  ConfigCheckTest() {
    write_whole_file(default_catalogue_,
                     "[Support Model]\n"
                     "0x2e5a:0x500,1,0,\"LX-500\",1,1,a,b,c\n"
                     "0x2e5a:0x700,1,0,\"LX-700\",1,1,a,b,c\n");
  }

  std::string json() {
    std::string out;
    for (const Finding& finding : check_configuration(sources_)) append_finding_json(out, finding);
    return out;
  }
  std::string text() {
    std::string out;
    for (const Finding& finding : check_configuration(sources_)) append_finding_text(out, finding);
    return out;
  }
  void write_config(std::string_view content) { write_whole_file(config_file_, content, 0644); }

  TempSources files_;
  const std::string& config_file_ = files_.config_file;
  const std::string& config_dir_ = files_.config_dir;
  const std::string& default_catalogue_ = files_.default_catalogue;
  const QuerySources& sources_ = files_.sources;
};

// Each tests/data/check/NAME.cfg, as the device configuration file beside a catalogue of
// LX-500 and LX-700, gives the findings of NAME.json; sound.cfg, which holds every kind of line
// the backend reads as meant, gives none.
TEST_F(ConfigCheckTest, EachFixtureGivesTheFindingsBesideIt) {
  std::vector<std::filesystem::path> fixtures;
  for (const auto& entry : std::filesystem::directory_iterator(LUMORA_TEST_DATA_DIR "/check")) {
    if (entry.path().extension() == ".cfg") fixtures.push_back(entry.path());
  }
  std::sort(fixtures.begin(), fixtures.end());
  ASSERT_EQ(fixtures.size(), 10u);
  for (const std::filesystem::path& cfg : fixtures) {
    SCOPED_TRACE(cfg.filename().string());
    write_config(read_whole_file(cfg.string()));
    std::filesystem::path expected = cfg;
    expected.replace_extension(".json");
    EXPECT_EQ(json(), cfg.stem() == "sound" ? "" : read_whole_file(expected.string()));
  }
}

TEST_F(ConfigCheckTest, TheTextFormIsLineKindMessage) {
  write_config(read_whole_file(LUMORA_TEST_DATA_DIR "/check/duplicate_name.cfg"));
  EXPECT_EQ(text(),
            "3: duplicate-name: \"office\" is registered on line 1 already: the backend finds the "
            "device of line 1 under this name, never this one\n");
}

// Nothing configured is sound: the backend reads nothing, as on a fresh machine.
TEST_F(ConfigCheckTest, AMachineWithoutConfigurationHasNoFinding) {
  std::filesystem::remove(default_catalogue_);
  EXPECT_EQ(json(), "");
}

TEST_F(ConfigCheckTest, FilesThatOthersMayWriteAndPendingFilesAreFindings) {
  write_config("");
  const std::string label = config_dir_ + "home.lumoraconf";
  write_whole_file(label, "", 0646);
  ASSERT_EQ(::chmod(config_file_.c_str(), 0664), 0);
  write_whole_file(config_dir_ + ".lumoraconf-new.Ab12Cd", "");
  write_whole_file(config_dir_ + ".lumoraconf-new.short", "");
  std::filesystem::create_directory(config_dir_ + ".lumoraconf-new.Dir123");
  EXPECT_EQ(text(),
            "0: writable-file: " + config_file_ +
                ": the device configuration file may be written by group (mode 0664); chmod go-w "
                "it\n"
                "0: writable-file: " +
                label + ": a labelled copy may be written by others (mode 0646); chmod go-w it\n"
                "0: pending-file: " +
                config_dir_ +
                ".lumoraconf-new.Ab12Cd: a pending file that a killed lumoraconf run left; the "
                "backend never reads it, and the next lumoraconf run that writes removes it\n");
  EXPECT_EQ(json().substr(0, 56), R"({"line":0,"kind":"writable-file","name":null,"text":null)");
}

// A file that cannot be read is a finding of its own, and what depends on it is not checked:
// an unreadable catalogue makes no model unknown.
TEST_F(ConfigCheckTest, AnInputThatCannotBeReadIsAFinding) {
  struct Case {
    std::string path;
    bool fifo;
    std::string reason;
  };
  const Case cases[] = {
      {config_file_, false, "Is a directory"},
      {config_file_, true, "Invalid argument"},
      {default_catalogue_, false, "Is a directory"},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.path);
    write_config("DEVICE=old , \"LX-100\" , Unknown , IP-ADDRESS=10.0.0.1 \n");
    std::filesystem::remove(test.path);
    if (test.fifo) {
      ASSERT_EQ(::mkfifo(test.path.c_str(), 0644), 0);
    } else {
      std::filesystem::create_directory(test.path);
    }
    EXPECT_EQ(text(), "0: unreadable: cannot read " + test.path + ": " + test.reason + "\n");
    std::filesystem::remove(test.path);
  }
}

}  // namespace
}  // namespace lumora
