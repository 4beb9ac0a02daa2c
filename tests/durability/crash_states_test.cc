// The crash model on small hand-written traces, whose states can be counted by hand: a
// replacement done right passes in exactly the states the model gives, and one step less
// (no fsync, no directory fsync, writing in place) is found.
#include "durability/crash_states.h"

#include <gtest/gtest.h>

#include "durability/directory_steps.h"
#include "durability/strace_lines.h"

namespace lumora::testing {
namespace {

// The parent makes the new file, a child (its shell) writes it through an inherited
// descriptor, the parent sets its mode, forces it, renames it and forces the directory.
constexpr char kSoundReplacement[] =
    "1 openat(AT_FDCWD</>, \"/d//.new.A\", O_RDWR|O_CREAT|O_EXCL|O_CLOEXEC, 0600) = 3</d/.new.A>\n"
    "1 vfork() = 2\n"
    "2 dup2(3</d/.new.A>, 1) = 1</d/.new.A>\n"
    "2 execve(\"/bin/sh\", [\"sh\"], 0x1 /* 1 var */) = 0\n"
    "2 write(1</d/.new.A>, \"new\\n\", 4) = 4\n"
    "1 fchmod(3</d/.new.A>, 0644) = 0\n"
    "1 fsync(3</d/.new.A>) = 0\n"
    "1 close(3</d/.new.A>) = 0\n"
    "1 rename(\"/d//.new.A\", \"/d//f.cfg\") = 0\n"
    "1 openat(AT_FDCWD</>, \"/d/\", O_RDONLY|O_CLOEXEC|O_DIRECTORY) = 4</d>\n"
    "1 fsync(4</d>) = 0\n";

DirectorySnapshot before_run() { return {{"f.cfg", {"old\n", 0644}}}; }
DirectorySnapshot after_run() { return {{"f.cfg", {"new\n", 0644}}}; }

bool is_new_file(std::string_view name) { return name.substr(0, 5) == ".new."; }

CrashReport check_text(const std::string& text) {
  StepOptions options;
  options.directory = "/d";
  const DirectorySnapshot before = before_run();
  return check_crash_states(directory_steps(parse_trace(text), before, options), before,
                            after_run(), is_new_file);
}

std::string without_line(std::string text, const std::string& line) {
  const std::size_t at = text.find(line);
  EXPECT_NE(at, std::string::npos) << line;
  return at == std::string::npos ? text : text.erase(at, line.size());
}

TEST(CrashStatesTest, ASoundReplacementPassesInTheStatesTheModelGives) {
  const CrashReport report = check_text(kSoundReplacement);
  EXPECT_EQ(report.replay_mismatch, "");
  EXPECT_TRUE(report.findings.empty()) << format_report(report, 5);
  // Six steps (create, write, chmod, fsync, rename, directory fsync), seven crash points. The
  // states at each, by the cuts of the unforced entry changes and the outcomes of the new
  // file's unforced changes (a write: kept, lost or cut; a mode change: kept or lost):
  // 1 + (1+1) + (1+3) + (1+3*2) + (1+1) + (1+1+1) + 1 = 20.
  EXPECT_EQ(report.crash_points, 7u);
  EXPECT_EQ(report.states, 20u);
}

TEST(CrashStatesTest, AMissingFsyncOfTheNewFileIsFound) {
  const CrashReport report =
      check_text(without_line(kSoundReplacement, "1 fsync(3</d/.new.A>) = 0\n"));
  ASSERT_FALSE(report.findings.empty());
  bool empty_after_rename = false;
  for (const CrashFinding& finding : report.findings) {
    EXPECT_EQ(finding.entry, "f.cfg");
    if (finding.after_step.find("rename") != std::string::npos &&
        finding.found.rfind("an empty file", 0) == 0) {
      empty_after_rename = true;
    }
  }
  EXPECT_TRUE(empty_after_rename) << format_report(report, 10);
}

TEST(CrashStatesTest, AMissingDirectoryFsyncIsFoundOnceTheRunHasReturned) {
  const CrashReport report = check_text(without_line(kSoundReplacement, "1 fsync(4</d>) = 0\n"));
  // Of the create and the rename, left unforced, the crash may keep none or the create alone:
  // either way the old file is back after the run returned.
  ASSERT_EQ(report.findings.size(), 2u) << format_report(report, 10);
  for (const CrashFinding& finding : report.findings) {
    EXPECT_TRUE(finding.returned);
    EXPECT_EQ(finding.found, "the old file");
  }
}

// The mode set after the fsync may be lost while the rename is kept: the new content under the
// private mode the file was made with.
TEST(CrashStatesTest, AModeChangeAfterTheFsyncIsFound) {
  std::string text = without_line(kSoundReplacement, "1 fchmod(3</d/.new.A>, 0644) = 0\n");
  text.insert(text.find("1 close(3"), "1 fchmod(3</d/.new.A>, 0644) = 0\n");
  const CrashReport report = check_text(text);
  EXPECT_EQ(report.replay_mismatch, "");
  ASSERT_FALSE(report.findings.empty());
  for (const CrashFinding& finding : report.findings) {
    EXPECT_EQ(finding.found, "the new content with another mode (mode 0600)");
    EXPECT_NE(finding.outcome.find("lost: line 7: chmod file #1 0644"), std::string::npos)
        << finding.outcome;
  }
}

TEST(CrashStatesTest, WritingTheFileInPlaceIsFound) {
  const CrashReport report = check_text(
      "1 openat(AT_FDCWD</>, \"/d/f.cfg\", O_WRONLY|O_TRUNC) = 3</d/f.cfg>\n"
      "1 write(3</d/f.cfg>, \"new\\n\", 4) = 4\n"
      "1 fsync(3</d/f.cfg>) = 0\n");
  EXPECT_EQ(report.replay_mismatch, "");
  ASSERT_FALSE(report.findings.empty());
  EXPECT_EQ(report.findings[0].found, "an empty file (mode 0644)");
  EXPECT_NE(report.findings[0].after_step.find("truncate"), std::string::npos);
}

TEST(CrashStatesTest, AnUnexpectedEntryAndAReplayThatMissesTheRunAreReported) {
  CrashReport report =
      check_text(std::string(kSoundReplacement) +
                 "1 openat(AT_FDCWD</>, \"/d/other\", O_WRONLY|O_CREAT, 0644) = 5</d/other>\n");
  EXPECT_NE(report.replay_mismatch.find("other is left by the replay"), std::string::npos);
  ASSERT_FALSE(report.findings.empty());
  EXPECT_EQ(report.findings.back().found, "an entry the run was not to leave");
  report =
      check_text(without_line(kSoundReplacement, "2 write(1</d/.new.A>, \"new\\n\", 4) = 4\n"));
  EXPECT_NE(report.replay_mismatch.find("f.cfg differs"), std::string::npos);
}

}  // namespace
}  // namespace lumora::testing
