// Every state a crash can leave the directory in while a traced run changes it, and the check
// that each is one the run's promise allows: the method of ALICE (OSDI 2014) and CrashMonkey
// (OSDI 2018), on the steps of directory_steps.h.
//
// The crash model (what a power cut may do; weaker than any Linux file system in common use,
// so that what holds here holds there):
// - A write, truncate or mode change reaches the disk only when an fsync of that file that
//   came after it returned (fdatasync: not the mode); sync forces everything. Until then the
//   crash may lose it or keep it, each independently of the others and in any combination, and
//   may keep a write cut: its first half only.
// - An entry change (create, rename, unlink) reaches the disk only when an fsync of the
//   directory that came after it returned; an fsync of the file does not force its name. Until
//   then the crash keeps the changes of the directory made since its last fsync up to some
//   point, in the order they were made (the file systems journal them in that order): all,
//   none, or the first k of them.
// - A rename is atomic: after the crash the new name holds the renamed file or what it held
//   before, never nothing and never a mix. Before the directory's fsync either may be found;
//   after it, only the renamed file.
// - A file's mode is part of what is checked; its owner is not.
//
// The states, and why their number stays small: a crash point after each step (and before the
// first, and after the last: the run has returned); at each, each cut of the directory's
// unforced entry changes; and for each, every combination of the outcomes (kept, lost, cut) of
// the unforced changes of the files that the directory then names. A run that forces each file
// before it renames it has at most one file with unforced writes at any point, and the tool
// writes each new file in a few writes, so a run gives tens to hundreds of states. More than
// kMaxStatesPerCut at one point is refused (TraceError) rather than sampled.
//
// The check of each state, for every name the directory held before the run or after it:
// before the run returned, the file under it is the one before the run or the one after it
// (content and mode, or absent when it was absent), never empty, cut, mixed or another file's;
// once the run has returned, only the one after it. A name in neither is allowed only when
// may_be_left accepts it (the pending files a killed run leaves, which the next writer
// removes).
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "durability/directory_steps.h"

namespace lumora::testing {

inline constexpr std::size_t kMaxStatesPerCut = std::size_t{1} << 16;

struct CrashFinding {
  std::size_t crash_point = 0;  // steps done before the crash
  bool returned = false;        // the crash came after the run had returned
  std::string after_step;       // describe() of the last step done, or "before the first step"
  std::string outcome;          // the entry changes kept and the file changes lost or cut
  std::string entry;
  std::string found;  // what the entry held
};

struct CrashReport {
  std::size_t crash_points = 0;
  std::size_t states = 0;
  std::vector<CrashFinding> findings;
  // Empty when replaying every step on the snapshot before the run gives the snapshot after
  // it, else what differs: then the trace does not tell what happened, and nothing is proven.
  std::string replay_mismatch;
};

CrashReport check_crash_states(const DirectorySteps& steps, const DirectorySnapshot& before,
                               const DirectorySnapshot& after,
                               const std::function<bool(std::string_view)>& may_be_left);

// The report in a few lines, with the first max_findings findings.
std::string format_report(const CrashReport& report, std::size_t max_findings);

}  // namespace lumora::testing
