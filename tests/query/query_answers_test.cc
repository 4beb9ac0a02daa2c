#include "query/query_answers.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <string_view>
#include <utility>

#include "netconfig/test_scrambler.h"
#include "registry/device_registry.h"
#include "support/temp_dir.h"
#include "support/temp_sources.h"

namespace lumora {
namespace {

using lumora::testing::TempDir;
using lumora::testing::TempSources;
using namespace std::string_literals;

class QueryAnswersTest : public ::testing::Test {
 protected:
  // The answer, or "error: ..." when the query refused.
  template <typename Query>
  std::string answer(Query query) {
    std::string out;
    std::string error;
    if (!query(out, error)) return "error: " + error;
    EXPECT_EQ(error, "");
    return out;
  }
  std::string models(char terminator = '\n') {
    return answer([&](std::string& out, std::string& error) {
      return query_models(sources_, ListForm{terminator, {}}, out, error);
    });
  }
  std::string models_beginning(std::string_view prefix) {
    return answer([&](std::string& out, std::string& error) {
      return query_models(sources_, ListForm{'\n', prefix}, out, error);
    });
  }
  std::string devices() {
    return answer([&](std::string& out, std::string& error) { return query_devices(sources_, out, error); });
  }
  std::string names(char terminator = '\n') {
    return answer([&](std::string& out, std::string& error) {
      return query_names(sources_, ListForm{terminator, {}}, out, error);
    });
  }
  std::string labels(char terminator = '\n') {
    return answer([&](std::string& out, std::string& error) {
      return query_labels(sources_, ListForm{terminator, {}}, out, error);
    });
  }
  std::string log() {
    return answer([&](std::string& out, std::string& error) { return query_log(sources_, out, error); });
  }

  TempSources files_;
  const TempDir& dir_ = files_.dir;
  const std::string& config_file_ = files_.config_file;
  const std::string& config_dir_ = files_.config_dir;
  const std::string& models_dir_ = files_.models_dir;
  const std::string& default_catalogue_ = files_.default_catalogue;
  QuerySources& sources_ = files_.sources;
};

// --- models -------------------------------------------------------------------------------------

TEST_F(QueryAnswersTest, ModelsAreTheQuotedNamesInCatalogueOrderEachOnce) {
  const std::string scrambled =
      lumora::testing::scramble_line("0x2e5a:0x10,1,0,\"LX-SECRET\",1,1,a,b,c\n",
                                     lumora::testing::keys_for_selector(5));
  dir_.write("models/extra.ini",
             "[Support Model]\n"
             "0x2e5a:0x1,1,0,\"LX-500\",1,1,a,b,c\n" +
                 scrambled +
                 "0x2e5a:0x2,1,0,UNQUOTED,1,1,a,b,c\n"
                 "0x2e5a:0x3,1,0,\"\",1,1,a,b,c\n"
                 "0x2e5a:0x4,1,0,\"LX 700\",1,1,a,b,c\n"
                 "0x2e5a:0x5,1,0,\"caf\xe9 *?[\",1,1,a,b,c\n");
  dir_.write("models/notes.txt", "[Support Model]\n0x1,1,0,\"NOT-READ\",1,1,a,b,c\n");
  dir_.write("Lumsane.ini",
             "# default\n"
             "[Support Model]\n"
             "0x2e5a:0x1,1,0,\"LX-500\",1,1,a,b,c\n"
             "0x2e5a:0x9,1,0,\"LX-900\",1,1,a,b,c\n"
             "[Other]\n"
             "0x2e5a:0x9,1,0,\"AFTER-SECTION\",1,1,a,b,c\n");
  EXPECT_EQ(models(), "LX-500\nLX-SECRET\nLX700\ncaf\xe9*?[\nLX-900\n");
  EXPECT_EQ(models('\0'), "LX-500\0LX-SECRET\0LX700\0caf\xe9*?[\0LX-900\0"s);
}

// With a prefix, only the matching lines get a record; the answer is the whole list's
// matching names, in the same order, each once, scrambled lines and cleaned names included.
TEST_F(QueryAnswersTest, ModelsWithAPrefixAreTheMatchingNamesOfTheWholeList) {
  const std::string scrambled =
      lumora::testing::scramble_line("0x2e5a:0x10,1,0,\"LX-SECRET\",1,1,a,b,c\n",
                                     lumora::testing::keys_for_selector(5));
  dir_.write("models/extra.ini",
             "[Support Model]\n"
             "0x2e5a:0x1,1,0,\"LX-500\",1,1,a,b,c\n" +
                 scrambled +
                 "0x2e5a:0x2,1,0,UNQUOTED,1,1,a,b,c\n"
                 "0x2e5a:0x4,1,0,\"LX 700\",1,1,a,b,c\n"
                 "0x2e5a:0x5,1,0,\"caf\xe9 *?[\",1,1,a,b,c\n");
  dir_.write("Lumsane.ini",
             "[Support Model]\n"
             "0x2e5a:0x1,1,0,\"LX-500\",1,1,a,b,c\n"
             "0x2e5a:0x9,1,0,\"LX-900\",1,1,a,b,c\n");
  const std::pair<std::string_view, std::string> cases[] = {
      {"", "LX-500\nLX-SECRET\nLX700\ncaf\xe9*?[\nLX-900\n"},
      {"LX", "LX-500\nLX-SECRET\nLX700\nLX-900\n"},
      {"LX-5", "LX-500\n"},
      {"LX-S", "LX-SECRET\n"},
      {"LX7", "LX700\n"},
      {"LX 7", ""},
      {"caf\xe9", "caf\xe9*?[\n"},
      {"\"LX", ""},
      {"UNQ", ""},
      {"LX-500x", ""},
      {"lx", ""},
  };
  for (const auto& [prefix, expected] : cases) {
    EXPECT_EQ(models_beginning(prefix), expected) << prefix;
  }
  // The prefix of one listing does not stay for the next.
  EXPECT_EQ(models(), "LX-500\nLX-SECRET\nLX700\ncaf\xe9*?[\nLX-900\n");
}

TEST_F(QueryAnswersTest, ModelsOfAMachineWithoutCatalogueAreNone) {
  EXPECT_EQ(models(), "");
  dir_.write("Lumsane.ini", "[Support Model]\n");
  EXPECT_EQ(models(), "");
}

TEST_F(QueryAnswersTest, ModelsRefuseACatalogueThatCannotBeRead) {
  ASSERT_EQ(::mkdir(default_catalogue_.c_str(), 0755), 0);
  EXPECT_EQ(models(), "error: " + default_catalogue_ + ": Is a directory");
  ASSERT_EQ(::rmdir(default_catalogue_.c_str()), 0);
  dir_.write("models", "a file where the directory belongs\n");
  EXPECT_EQ(models(), "error: " + models_dir_ + ": Not a directory");
}

TEST_F(QueryAnswersTest, ModelsPassOverACatalogueEntryThatIsNoFile) {
  dir_.write("models/sub.ini/inner", "");
  ASSERT_EQ(::symlink("nowhere.ini", (models_dir_ + "/dangling.ini").c_str()), 0);
  dir_.write("Lumsane.ini", "[Support Model]\n0x1,1,0,\"A\",1,1,a,b,c\n");
  EXPECT_EQ(models(), "A\n");
}

// --- devices ------------------------------------------------------------------------------------

TEST_F(QueryAnswersTest, DevicesAreOneJsonObjectPerEntryInFileOrder) {
  dir_.write("lumsanenetdevice.cfg",
             "log=/tmp/lum_sane.log , 1 , w\n"
             "# DEVICE=commented , \"X\" , Unknown , IP-ADDRESS=1.2.3.4 \n"
             "DEVICE=office , \"LX-500\" , 0x2e5a:0x1 , IP-ADDRESS=192.168.1.20 \n"
             "DEVICE=lab , \"LX-700\" , Unknown , NODENAME=LQX_12345 \n"
             "foo=bar\n"
             "DEVICE=scan1,\"M\",Unknown,IP-ADDRESS=1.2.3.4\n");
  EXPECT_EQ(devices(),
            R"({"name":"office","model":"\"LX-500\"","id":"0x2e5a:0x1","ip":"192.168.1.20","nodename":""})"
            "\n"
            R"({"name":"lab","model":"\"LX-700\"","id":"Unknown","ip":"","nodename":"LQX_12345"})"
            "\n"
            R"({"name":"","model":"","id":"","ip":"","nodename":""})"
            "\n"
            R"({"name":"scan1","model":"\"M\"","id":"Unknown","ip":"1.2.3.4","nodename":""})"
            "\n");
}

TEST_F(QueryAnswersTest, DevicesKeepEveryByteOfOddNames) {
  dir_.write("lumsanenetdevice.cfg",
             "DEVICE=$(touch\x01/x);\\\"caf\xe9\xc3\xa9 , \"M\" , Unknown , NODENAME=n\x7f \n");
  EXPECT_EQ(devices(),
            "{\"name\":\"$(touch\\u0001/x);\\\\\\\"caf\\udce9\xc3\xa9\",\"model\":\"\\\"M\\\"\","
            "\"id\":\"Unknown\",\"ip\":\"\",\"nodename\":\"n\\u007f\"}\n");
}

TEST_F(QueryAnswersTest, DevicesCutFieldsAsTheReaderDoes) {
  dir_.write("lumsanenetdevice.cfg",
             "DEVICE=" + std::string(70, 'n') + " , \"M\" , Unknown , IP-ADDRESS=1.2.3.4 \n");
  EXPECT_EQ(devices(), R"({"name":")" + std::string(63, 'n') +
                           R"(","model":"\"M\"","id":"Unknown","ip":"1.2.3.4","nodename":""})" "\n");
}

TEST_F(QueryAnswersTest, DevicesOfAMissingFileAreNoneAndADirectoryIsRefused) {
  EXPECT_EQ(devices(), "");
  sources_.config_file = "/nonexistent-lumora-dir/lumsanenetdevice.cfg";
  EXPECT_EQ(devices(), "");
  sources_.config_file = config_file_.c_str();
  ASSERT_EQ(::mkdir(config_file_.c_str(), 0755), 0);
  EXPECT_EQ(devices(), "error: " + config_file_ + ": Is a directory");
  EXPECT_EQ(log(), "error: " + config_file_ + ": Is a directory");
}

TEST_F(QueryAnswersTest, EachAnswerReadsTheFileAfresh) {
  dir_.write("lumsanenetdevice.cfg", "DEVICE=a , \"M\" , Unknown , IP-ADDRESS=1.2.3.4 \n");
  EXPECT_EQ(devices().find("\"name\":\"a\""), 1U);
  dir_.write("lumsanenetdevice.cfg", "DEVICE=b , \"M\" , Unknown , IP-ADDRESS=1.2.3.4 \n");
  const std::string second = devices();
  EXPECT_EQ(second.find("\"name\":\"b\""), 1U) << second;
  EXPECT_EQ(second.find("\"name\":\"a\""), std::string::npos) << second;
}

TEST_F(QueryAnswersTest, NamesAreTheNonEmptyNamesInFileOrderEachOnce) {
  EXPECT_EQ(names(), "");
  dir_.write("lumsanenetdevice.cfg",
             "DEVICE=office , \"M\" , Unknown , IP-ADDRESS=1.2.3.4 \n"
             "DEVICE=noaddr , \"M\" , Unknown \n"
             " DEVICE=indented , \"M\" , Unknown , IP-ADDRESS=1.2.3.5 \n"
             "DEVICE=\"MODEL-X\" , \"MODEL-X\" , Unknown , NODENAME=n \n"
             "DEVICE=office , \"M\" , Unknown , IP-ADDRESS=1.2.3.6 \n"
             "DEVICE=caf\xe9*?[ , \"M\" , Unknown , IP-ADDRESS=1.2.3.7 \r\n"
             "DEVICE=last , \"M\" , Unknown , NODENAME=n1");
  EXPECT_EQ(names(), "office\n\"MODEL-X\"\ncaf\xe9*?[\nlast\n");
  EXPECT_EQ(names('\0'), "office\0\"MODEL-X\"\0caf\xe9*?[\0last\0"s);
  ASSERT_EQ(::unlink(config_file_.c_str()), 0);
  ASSERT_EQ(::mkdir(config_file_.c_str(), 0755), 0);
  EXPECT_EQ(names(), "error: " + config_file_ + ": Is a directory");
}

TEST_F(QueryAnswersTest, NamesAreThoseTheRemoveCommandRemovesLinesBy) {
  const std::string long_name(70, 'L');
  dir_.write("lumsanenetdevice.cfg",
             "DEVICE=scan1,\"LX-500\",Unknown,IP-ADDRESS=10.0.0.7\n"
             "DEVICE=tab1\t, \"M\" , Unknown , NODENAME=n \n"
             "DEVICE=" + long_name + " , \"M\" , Unknown , IP-ADDRESS=1.2.3.4 \n"
             "DEVICE=" + long_name + "x , \"M\" , Unknown , IP-ADDRESS=1.2.3.5 \n"
             "DEVICE=far , " + std::string(260, 'x') + " , IP-ADDRESS=1.2.3.6 \n");
  EXPECT_EQ(names(), "scan1\ntab1\n" + long_name.substr(0, 63) + "\n");
}

// --- labels -------------------------------------------------------------------------------------

TEST_F(QueryAnswersTest, LabelsAreTheSavedCopiesSorted) {
  for (const char* name : {"office.lumoraconf", "before move.lumoraconf", ".hidden.lumoraconf",
                           ".lumoraconf", "notes.txt", "office.lumoraconf.bak", "caf\xe9.lumoraconf",
                           "two\nlines.lumoraconf"}) {
    dir_.write(name, "");
  }
  dir_.write("dir.lumoraconf/inner", "");
  ASSERT_EQ(::symlink("office.lumoraconf", (dir_.path() + "/linked.lumoraconf").c_str()), 0);
  ASSERT_EQ(::symlink("nowhere", (dir_.path() + "/dangling.lumoraconf").c_str()), 0);
  EXPECT_EQ(labels(), ".hidden\nbefore move\ncaf\xe9\nlinked\noffice\n");
  EXPECT_EQ(labels('\0'),
            ".hidden\0before move\0caf\xe9\0linked\0office\0two\nlines\0"s);
}

TEST_F(QueryAnswersTest, LabelsOfAMissingDirectoryAreNone) {
  sources_.config_dir = "/nonexistent-lumora-dir/";
  EXPECT_EQ(labels(), "");
  const std::string file = dir_.write("plain", "");
  sources_.config_dir = file.c_str();
  EXPECT_EQ(labels(), "error: " + file + ": Not a directory");
}

// --- log ----------------------------------------------------------------------------------------

TEST_F(QueryAnswersTest, LogSettingsAreWhatTheBackendWouldApply) {
  const std::pair<const char*, const char*> cases[] = {
      {"", "null\n"},
      {"DEVICE=a , \"M\" , Unknown , IP-ADDRESS=1.2.3.4 \n", "null\n"},
      {"log=/tmp/lum_sane.log , 1 , w\n", R"({"path":"/tmp/lum_sane.log","level":1,"mode":"w"})" "\n"},
      {"log=/tmp/x.log,2,a\n", R"({"path":"/tmp/x.log","level":2,"mode":"a"})" "\n"},
      // the second line supplies the path only; level and mode come from the first
      {"log=/a.log , 3 , a\nlog=/var/x.log\n", R"({"path":"/var/x.log","level":3,"mode":"a"})" "\n"},
      {"log=/only.log\n", R"({"path":"/only.log","level":0,"mode":null})" "\n"},
      {"log=/odd\xff\".log , -1 , \xe9\n", R"({"path":"/odd\udcff\".log","level":-1,"mode":"\udce9"})" "\n"},
  };
  for (const auto& [content, expected] : cases) {
    dir_.write("lumsanenetdevice.cfg", content);
    EXPECT_EQ(log(), expected) << content;
  }
}

TEST_F(QueryAnswersTest, LogOfAMissingFileIsNull) {
  g_loglevel = 7;  // left over from an earlier reading; a fresh backend starts from 0
  EXPECT_EQ(log(), "null\n");
}

}  // namespace
}  // namespace lumora
