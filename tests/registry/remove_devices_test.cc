#include "registry/remove_devices.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "query/query_answers.h"
#include "registry/config_writer.h"
#include "registry/device_registry.h"
#include "support/command_output.h"
#include "support/device_lines.h"
#include "support/file_text.h"
#include "support/temp_dir.h"

namespace lumora {
namespace {

using lumora::testing::TempDir;

std::string escaped(std::string_view name) {
  char out[512];
  return escape_remove_word(name, out, sizeof out) ? std::string(out) : "<refused>";
}

TEST(EscapeRemoveWord, EscapesForSedAndTheQuotedShellWord) {
  const std::pair<std::string, const char*> cases[] = {
      {"office", "office"},
      {"\"MODEL-X\"", "\"MODEL-X\""},
      {"a/b", "a\\/b"},
      {".*", "\\.\\*"},
      {"[x]", "\\[x\\]"},
      {"^a$", "\\^a\\$"},
      {"back\\slash", "back\\\\slash"},
      {"it's", "it'\\''s"},
      {"$(id)", "\\$\\(id\\)"},
      {"a+b?c|d{2}", "a\\+b\\?c\\|d\\{2\\}"},
      {"caf\xe9", "caf\xe9"},
      {",", ","},
      {std::string(63, 'n'), "nnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnn"},
      {std::string(64, 'n'), "<refused>"},
      {"a,b", "<refused>"},
      {",a", "<refused>"},
      {"", "<refused>"},
      {"a b", "<refused>"},
      {"a\tb", "<refused>"},
      {"a\nb", "<refused>"},
      {"a\rb", "<refused>"},
  };
  for (const auto& [name, expected] : cases) EXPECT_EQ(escaped(name), expected) << name;
}

TEST(EscapeRemoveWord, RefusesWhatDoesNotFit) {
  char out[8];
  EXPECT_TRUE(escape_remove_word("abcdefg", out, sizeof out));
  EXPECT_FALSE(escape_remove_word("abcdef.", out, sizeof out));
  EXPECT_STREQ(out, "");
}

// Lines of the device file (without their line feed) and the name "-r" removes each by.
TEST(RemovalName, IsTheNameTheReaderGivesTheLine) {
  using namespace std::string_literals;
  const std::string long_name(70, 'L');
  const std::pair<std::string, std::string> cases[] = {
      {"DEVICE=office , \"M\" , Unknown , IP-ADDRESS=10.0.0.1 ", "office"},
      {"DEVICE=office , \"M\" , Unknown , NODENAME=host ", "office"},
      {"DEVICE=scan1,\"LX-500\",Unknown,IP-ADDRESS=10.0.0.7", "scan1"},
      {"DEVICE=tab1\t, \"M\" , Unknown , IP-ADDRESS=10.0.0.1 ", "tab1"},
      {"DEVICE=vt\v, \"M\" , Unknown , IP-ADDRESS=10.0.0.1 ", "vt"},
      {"DEVICE=  spaced , \"M\" , Unknown , IP-ADDRESS=10.0.0.1 ", "spaced"},
      {"DEVICE=crlf , \"M\" , Unknown , IP-ADDRESS=10.0.0.1\r", "crlf"},
      {"DEVICE=caf\xe9 , \"\xff\" , Unknown , IP-ADDRESS=10.0.0.1 ", "caf\xe9"},
      {"DEVICE=NODENAME=x", "NODENAME=x"},
      {"DEVICE=,b,c,IP-ADDRESS=1.2.3.4", ","},
      {"DEVICE=" + long_name + " , \"M\" , Unknown , IP-ADDRESS=10.0.0.1 ", long_name.substr(0, 63)},
      // The reader gives no name: no address text in its first read, no DEVICE= at the start.
      {"DEVICE=noaddr , \"M\" , Unknown ", ""},
      {"DEVICE=far , " + std::string(260, 'x') + " , IP-ADDRESS=10.0.0.1 ", ""},
      {" DEVICE=indented , \"M\" , Unknown , IP-ADDRESS=10.0.0.1 ", ""},
      {"# DEVICE=note , \"M\" , Unknown , IP-ADDRESS=10.0.0.1 ", ""},
      {"device=lower , \"M\" , Unknown , IP-ADDRESS=10.0.0.1 ", ""},
      {"DEVICE= \t , IP-ADDRESS=", ","},
      {"DEVICE=   ", ""},
      {"log=/tmp/lum_sane.log , 1 , w", ""},
      {"", ""},
      // The reader's text of a line ends at a NUL byte.
      {"DEVICE=nul1\0x , \"M\" , Unknown , IP-ADDRESS=10.0.0.1 "s, ""},
      {"DEVICE=nul2 , \"M\0\" , Unknown , IP-ADDRESS=10.0.0.1 "s, ""},
      {"DEVICE=nul3 , \"M\" , Unknown , IP-ADDRESS=10.0.0.1 \0x"s, "nul3"},
  };
  for (const auto& [line, name] : cases) EXPECT_EQ(removal_name(line), name) << line;
}

// The reader's own name for the device of a line of up to 276 bytes, or empty when it reads
// none: what "-r" must remove the line by.
std::string reader_name(const std::string& line) {
  char buffer[kDeviceLineBufferSize] = {};
  std::memcpy(buffer, line.data(), line.size());
  buffer[line.size()] = '\n';
  widen_commas(buffer);
  if (classify_device_line(buffer) != DeviceLineKind::kDevice) return "";
  DeviceEntry entry{};
  scan_device_line(buffer, entry);
  return entry.name;
}

// Random lines built from the pieces that decide a name (the marker, blanks, tabs, commas,
// the address texts, bytes that are not UTF-8), each short enough for one read of the reader.
std::string random_line(std::mt19937& random) {
  static const std::string_view pieces[] = {
      "DEVICE=", "DEVICE=", "DEVICE=", " ", "\t", ",", " , ", "IP-ADDRESS=", "NODENAME=", "a", "b",
      "scan1", "\xe9", "\xff", "\"M\"", "=", "#", "\r", "\v", "10.0.0.1", "Unknown", "log=",
      std::string_view("\0", 1)};
  std::uniform_int_distribution<std::size_t> pick(0, std::size(pieces) - 1);
  std::uniform_int_distribution<int> count(0, 12);
  std::string line = random() % 4 != 0 ? "DEVICE=" : "";
  for (int n = count(random); n > 0; --n) line += pieces[pick(random)];
  if (random() % 8 == 0) line += std::string(40 + random() % 40, 'n');  // past the reader's cut
  return line.substr(0, kDeviceLineReadLimit - 2);
}

TEST(RemovalName, AgreesWithTheReaderOnRandomLines) {
  std::mt19937 random(2121);
  for (int round = 0; round < 20000; ++round) {
    const std::string line = random_line(random);
    ASSERT_EQ(std::string(removal_name(line)), reader_name(line)) << "line: " << line;
  }
}

TEST(FormatRemoveCommand, IsOnePipelineWithOneAlternationForAllNames) {
  // The names first, then the window of the reader's first read on the lines that hold one.
  const std::string window = "h;s/.//277g;/^[^\\x00]*(IP-ADDRESS=|NODENAME=)/{s/.*//;h;};g;}";
  char command[1024];
  ASSERT_TRUE(format_remove_command("/tmp/lumsane_tempfile5_AbC123", "office",
                                    "/etc/opt/kelvane/scanner/lumora//new", command, sizeof command));
  EXPECT_EQ(std::string(command),
               "cat /tmp/lumsane_tempfile5_AbC123 | sed -E -e "
               "'/^DEVICE=[[:space:]]*"
               "((office)([[:space:],]|$))/{" + window + "' | uniq > /etc/opt/kelvane/scanner/lumora//new");
  const std::string cut(63, 'c');
  const char* const names[] = {"a", "", "it's", cut.c_str(), "b c", "x.y", ","};
  ASSERT_TRUE(format_remove_command("/tmp/s", names, "/etc/opt/new", command, sizeof command));
  EXPECT_EQ(std::string(command),
            "cat /tmp/s | sed -E -e '/^DEVICE=[[:space:]]*"
            "(((a|it'\\''s|x\\.y))([[:space:],]|$)|(,|" + cut + "))/{" + window + "' | uniq > /etc/opt/new");
  // Names are shaped as a tree of the bytes they share, each once.
  const char* const numbered[] = {"office-2", "office-10", "office-1", "office-2", "of"};
  ASSERT_TRUE(format_remove_command("/tmp/s", numbered, "/etc/opt/new", command, sizeof command));
  EXPECT_EQ(std::string(command),
            "cat /tmp/s | sed -E -e '/^DEVICE=[[:space:]]*"
            "((of(fice-(1(0)?|2))?)([[:space:],]|$))/{" + window + "' | uniq > /etc/opt/new");
  const char* const prefix_only[] = {","};
  ASSERT_TRUE(format_remove_command("/tmp/s", prefix_only, "/etc/opt/new", command, sizeof command));
  EXPECT_EQ(std::string(command),
               "cat /tmp/s | sed -E -e '/^DEVICE=[[:space:]]*"
               "(,)/{" + window + "' | uniq > /etc/opt/new");
}

TEST(FormatRemoveCommand, PassesOverNamesNoLineIsRemovedBy) {
  char command[4096];
  const std::string longest(63, 'n');
  const std::string too_long(64, 'n');
  EXPECT_TRUE(format_remove_command("/tmp/s", longest.c_str(), "/etc/opt/x", command, sizeof command));
  EXPECT_FALSE(format_remove_command("/tmp/s", too_long.c_str(), "/etc/opt/x", command, sizeof command));
  const char* const nothing_left[] = {"", "a b", "a,b", too_long.c_str()};
  EXPECT_FALSE(format_remove_command("/tmp/s", nothing_left, "/etc/opt/x", command, sizeof command));
}

TEST(FormatRemoveCommand, ManyNamesThatDoNotFitTogetherFormNoCommand) {
  std::vector<std::string> words;
  for (int i = 0; i < 100; ++i) words.push_back("name" + std::to_string(i));
  std::vector<const char*> names;
  for (const auto& word : words) names.push_back(word.c_str());
  char command[256];
  EXPECT_FALSE(format_remove_command("/tmp/s", names, "/etc/opt/x", command, sizeof command));
  names.resize(4);
  EXPECT_TRUE(format_remove_command("/tmp/s", names, "/etc/opt/x", command, sizeof command));
}

// Runs the remove pipeline's sed, as the shell receives it, over lines and returns the output.
std::string run_sed(const TempDir& dir, const std::string& name, const std::string& input) {
  const std::string in = dir.write("in.cfg", input);
  char command[512];
  if (!format_remove_command(in.c_str(), name.c_str(), (dir.path() + "/out.cfg").c_str(), command,
                             sizeof command)) {
    return "<refused>";
  }
  lumora::testing::command_output("LC_ALL=C; export LC_ALL; " + std::string(command));
  return lumora::testing::read_whole_file(dir.path() + "/out.cfg");
}

std::string device(const std::string& name) { return testing::ip_device_line(name); }

TEST(EscapeRemoveWord, TheShellAndSedEmptyExactlyTheNamedLine) {
  TempDir dir;
  const std::vector<std::string> others = {"office", "scan", "scanner", "a", "\"MODEL-X\"",
                                           "x.y", "x-y", "log"};
  std::mt19937 random(91);
  std::uniform_int_distribution<int> byte(1, 255);
  std::uniform_int_distribution<int> length(1, 24);
  for (int round = 0; round < 120; ++round) {
    std::string name;
    for (int n = length(random); n > 0; --n) {
      const char c = static_cast<char>(byte(random));
      if (std::string_view(" \t\n\r\v\f,").find(c) == std::string_view::npos) name += c;
    }
    if (name.empty()) continue;
    std::string input;
    std::string expected;
    for (std::size_t i = 0; i < others.size(); ++i) {
      if (i == 3) {
        input += device(name);
        expected += "\n";
      }
      input += device(others[i]);
      expected += others[i] == name ? "\n" : device(others[i]);
    }
    EXPECT_EQ(run_sed(dir, name, input), expected) << "round " << round << " name " << name;
  }
}

TEST(EscapeRemoveWord, OnlyLinesThatBeginWithTheDeviceAreEmptied) {
  TempDir dir;
  const std::string kept =
      "DEVICE=victim , \"LX-500\" , Unknown , NODENAME=DEVICE=dev001 \n"
      "# DEVICE=dev001 , \"M\" , Unknown , IP-ADDRESS=10.0.0.1 \n"
      " DEVICE=dev001 , \"M\" , Unknown , IP-ADDRESS=10.0.0.1 \n"
      "DEVICE=other , \"DEVICE=dev001\" , Unknown , IP-ADDRESS=10.0.0.2 \n";
  EXPECT_EQ(run_sed(dir, "dev001", kept + device("dev001")), kept + "\n");
}

// The remove as it used to run, one pass per name, each pass copying the file as the previous
// one left it: a name that cannot be put into a command changes nothing, not even the
// collapsing of repeated lines.
std::string passes_one_after_another(const TempDir& dir, const std::vector<std::string>& names,
                                     const std::string& input) {
  const std::string work = dir.write("work.cfg", input);
  // The passes, one after another in one shell.
  std::string script = "LC_ALL=C; export LC_ALL;";
  for (const auto& name : names) {
    char command[512];  // the buffer each pass formed its command in
    const std::string scratch = dir.path() + "/scratch.cfg";
    if (!format_remove_command(scratch.c_str(), name.c_str(), (dir.path() + "/out.cfg").c_str(),
                               command, sizeof command)) {
      continue;
    }
    script += " cp " + work + " " + scratch + " && " + command + " && mv " + dir.path() +
              "/out.cfg " + work + ";";
  }
  lumora::testing::command_output(script);
  return lumora::testing::read_whole_file(work);
}

std::string one_combined_pass(const TempDir& dir, const std::vector<std::string>& names,
                              const std::string& input) {
  const std::string scratch = dir.write("scratch.cfg", input);
  std::vector<const char*> words;
  for (const auto& name : names) words.push_back(name.c_str());
  std::vector<char> command(kShellCommandSize);
  if (!format_remove_command(scratch.c_str(), words, (dir.path() + "/out.cfg").c_str(),
                             command.data(), command.size())) {
    return input;
  }
  lumora::testing::command_output("LC_ALL=C; export LC_ALL; " + std::string(command.data()));
  return lumora::testing::read_whole_file(dir.path() + "/out.cfg");
}

// Collapsing runs of equal lines before a per-line edit changes nothing that collapsing after
// it would not, so one sed with every substitution followed by one uniq gives what a uniq
// after each name gave, byte for byte: checked with the real sh, sed and uniq.
TEST(FormatRemoveCommand, OneCombinedPassEqualsThePassesOneAfterAnother) {
  TempDir dir;
  const std::vector<std::string> pool = {"a", "b", "office", "scan", "scanner", "x.y", "x-y",
                                         "it's", "a/b", "^a$", "\"MODEL-X\"", "dev001"};
  std::mt19937 random(1414);
  auto pick = [&](std::size_t n) {
    return std::uniform_int_distribution<std::size_t>(0, n - 1)(random);
  };
  for (int round = 0; round < 80; ++round) {
    std::string input;
    const std::size_t lines = pick(30);
    for (std::size_t i = 0; i < lines; ++i) {
      const std::string& name = pool[pick(pool.size())];
      std::string line;
      switch (pick(9)) {
        case 0: line = ""; break;
        case 1: line = "# DEVICE=" + name + " note"; break;
        case 2: line = "DEVICE=v , \"M\" , Unknown , NODENAME=DEVICE=" + name + " "; break;
        case 3: line = "log=/tmp/lum_sane.log , 1 , w"; break;
        case 4:
          for (std::size_t n = pick(12); n > 0; --n) line += static_cast<char>(1 + pick(255));
          if (line.find('\n') != std::string::npos) line.clear();
          break;
        default: line = device(name).substr(0, device(name).size() - 1);
      }
      // Runs of equal lines, which uniq collapses.
      for (std::size_t copies = 1 + (pick(4) == 0 ? pick(3) : 0); copies > 0; --copies) {
        input += line + "\n";
      }
    }
    if (!input.empty() && pick(4) == 0) input.pop_back();  // no line feed at the end
    std::vector<std::string> names;
    for (std::size_t n = pick(6); n > 0; --n) {
      switch (pick(8)) {
        case 0: names.emplace_back(""); break;
        case 1: names.emplace_back("a b"); break;
        case 2: names.emplace_back(600, 'n'); break;
        default: names.push_back(pool[pick(pool.size())]);
      }
    }
    EXPECT_EQ(one_combined_pass(dir, names, input), passes_one_after_another(dir, names, input))
        << "round " << round;
  }
}

// The lines of text, the last one also when no line feed ends it.
std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t end = text.find('\n', at);
    lines.push_back(text.substr(at, end == std::string::npos ? std::string::npos : end - at));
    at = end == std::string::npos ? text.size() : end + 1;
  }
  return lines;
}

// The devices the backend's reader finds in text, their fields parted by tabs (which no field
// holds).
std::vector<std::string> reader_devices(const TempDir& dir, const std::string& text) {
  const std::string path = dir.write("read.cfg", text);
  free_net_devices();
  load_net_devices_from(path.c_str());
  std::vector<std::string> devices;
  for (const DeviceEntry* e = first_net_device(); e != nullptr; e = e->next) {
    devices.push_back(std::string(e->name) + "\t" + e->model + "\t" + e->id + "\t" + e->ip +
                      "\t" + e->nodename);
  }
  free_net_devices();
  return devices;
}

// A random device file: lines as the tool writes them, hand-written ones without blanks, with
// tabs, names over 63 bytes, names that are not UTF-8 or hold regular expression characters,
// comments and log lines, repeated lines, lines longer than one read of the reader.
std::string random_file(std::mt19937& random) {
  static const char* const names[] = {"office", "scan",   "scanner", "scan1",   "a",      "x.y",
                                      "x-y",    "it's",   "a/b",     "^a$",     "caf\xe9", "(b|c)",
                                      "d{2}",   "e+",     "\\1",     "&",       "\"M\"",   "-r"};
  auto pick = [&](std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(random); };
  std::string name_or_long = names[pick(std::size(names))];
  std::string text;
  for (std::size_t i = pick(40); i > 0; --i) {
    std::string name = names[pick(std::size(names))];
    if (pick(10) == 0) name = std::string(60 + pick(8), 'L') + name;  // cut by the reader
    std::string line;
    switch (pick(13)) {
      case 0: line = "DEVICE=" + name + ",\"LX-500\",Unknown,IP-ADDRESS=10.0.0.7"; break;
      case 1: line = "DEVICE=" + name + "\t, \"M\" , Unknown , NODENAME=host "; break;
      case 2: line = "DEVICE=" + name + " , \"M\" , Unknown "; break;
      case 3: line = "# DEVICE=" + name + " , \"M\" , Unknown , IP-ADDRESS=10.0.0.1 "; break;
      case 4: line = "log=/tmp/\xff.log , 1 , w"; break;
      case 5: line = "DEVICE=v , \"M\" , Unknown , NODENAME=DEVICE=" + name + " "; break;
      case 6: line = "DEVICE=" + name + " , \"" + std::string(300, 'm') + "\" , Unknown , IP-ADDRESS=1.1.1.1 "; break;
      case 7: line = ""; break;
      case 8: line = "DEVICE=" + name + " , \"\xff\" , Unknown , IP-ADDRESS=10.0.0.1 "; break;
      case 9: line = "DEVICE=" + name + " , \"M" + std::string(1, '\0') + "\" , Unknown , IP-ADDRESS=10.0.0.1 "; break;
      default: line = testing::ip_device_line(name, "\"M\"", "Unknown", "10.0.0." + std::to_string(pick(9)));
               line.pop_back();
    }
    for (std::size_t copies = 1 + (pick(5) == 0 ? 1 : 0); copies > 0; --copies) text += line + "\n";
  }
  if (!text.empty() && pick(4) == 0) text.pop_back();
  return text;
}

// What the remove pipeline must make of input: the lines removal_name gives one of removed
// for emptied, then runs of equal lines collapsed into one, every line ended by a line feed.
std::string after_removal(const std::string& input, const std::vector<std::string>& removed) {
  std::string expected;
  std::string previous;
  const std::vector<std::string> lines = lines_of(input);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string_view name = removal_name(lines[i]);
    const bool gone = std::find(removed.begin(), removed.end(), name) != removed.end();
    const std::string kept = gone ? "" : lines[i];
    // An emptied last line that no line feed ended leaves nothing behind.
    const bool vanishes = kept.empty() && i + 1 == lines.size() && input.back() != '\n';
    if ((i == 0 || kept != previous) && !vanishes) expected += kept + "\n";
    previous = kept;
  }
  return expected;
}

// The reader finds the address texts only in the first 276 bytes of a line: sed's bounded
// address agrees at every offset around that bound.
TEST(FormatRemoveCommand, TheAddressTextCountsOnlyWithinTheReadersFirstRead) {
  TempDir dir;
  std::string input;
  for (const char* marker : {"IP-ADDRESS=", "NODENAME="}) {
    for (std::size_t offset = 9; offset < 290; ++offset) {
      input += "DEVICE=n " + std::string(offset - 9, 'x') + marker + "h\n#\n";
    }
    // The reader's text of a line ends at its first NUL byte: a marker before it counts, one
    // after it does not, wherever the NUL stands against the first read's end.
    for (std::size_t offset : {9, 40, 262, 270}) {
      for (std::size_t nul_at : {12, 45, 120, 268, 276, 300}) {
        std::string line = "DEVICE=n " + std::string(offset - 9, 'x') + marker;
        line.resize(320, 'y');
        line[nul_at] = '\0';
        input += line + "\n#\n";
      }
    }
  }
  const std::string output = one_combined_pass(dir, {"n"}, input);
  EXPECT_EQ(output, after_removal(input, {"n"}));
  EXPECT_NE(output, input);
  EXPECT_NE(output.find("DEVICE=n " + std::string(257, 'x') + "IP-ADDRESS="), std::string::npos);
  EXPECT_EQ(output.find("DEVICE=n " + std::string(256, 'x') + "IP-ADDRESS="), std::string::npos);
  EXPECT_NE(output.find("DEVICE=n " + std::string(259, 'x') + "NODENAME="), std::string::npos);
  EXPECT_EQ(output.find("DEVICE=n " + std::string(258, 'x') + "NODENAME="), std::string::npos);
}

// For random files: every name that "names" lists, given to "-r" (all of them, some of them,
// each alone), empties exactly the lines removal_name gives it for, checked with the real sh,
// sed and uniq; the backend's reader then finds none of them, and every other device as
// before.
TEST(FormatRemoveCommand, RemovesEveryNameTheNamesQueryListsAndNoOtherDevice) {
  TempDir dir;
  std::mt19937 random(4242);
  for (int round = 0; round < 60; ++round) {
    const std::string input = random_file(random);
    QuerySources sources;
    const std::string config = dir.write("names.cfg", input);
    sources.config_file = config.c_str();
    std::string listed;
    std::string error;
    ASSERT_TRUE(query_names(sources, ListForm{'\0', {}}, listed, error)) << error;
    std::vector<std::string> names;
    for (std::size_t at = 0; at < listed.size();) {
      const std::size_t end = listed.find('\0', at);
      names.push_back(listed.substr(at, end - at));
      at = end + 1;
    }
    if (names.empty()) continue;
    std::vector<std::vector<std::string>> choices = {names, {names.front()}, {names.back()}};
    std::vector<std::string> some;
    for (const auto& name : names) {
      if (random() % 2 == 0) some.push_back(name);
    }
    if (!some.empty()) choices.push_back(some);
    for (const auto& removed : choices) {
      const std::string expected = after_removal(input, removed);
      const std::string output = one_combined_pass(dir, removed, input);
      ASSERT_EQ(output, expected) << "round " << round << "\n" << input;
      std::vector<std::string> others;
      for (const std::string& device : reader_devices(dir, output)) {
        const std::string name = device.substr(0, device.find('\t'));
        EXPECT_EQ(std::find(removed.begin(), removed.end(), name), removed.end())
            << "round " << round << ": " << name << " left";
        others.push_back(device);
      }
      // The other devices as they stood, runs of equal lines collapsed as uniq collapses them.
      std::string collapsed;
      std::string last;
      bool at_start = true;
      for (const std::string& line : lines_of(input)) {
        if (at_start || line != last) collapsed += line + "\n";
        last = line;
        at_start = false;
      }
      std::vector<std::string> before;
      for (const std::string& device : reader_devices(dir, collapsed)) {
        if (std::find(removed.begin(), removed.end(), device.substr(0, device.find('\t'))) ==
            removed.end()) {
          before.push_back(device);
        }
      }
      EXPECT_EQ(others, before) << "round " << round << "\n" << input;
    }
  }
}

}  // namespace
}  // namespace lumora
