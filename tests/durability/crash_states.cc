#include "durability/crash_states.h"

#include <algorithm>
#include <map>
#include <optional>
#include <set>

namespace lumora::testing {
namespace {

struct Image {
  std::string content;
  unsigned mode = 0;
};

enum Outcome : std::uint8_t { kKept = 0, kLost = 1, kCut = 2 };

// How a crash may treat an unforced change: a write kept, lost or cut (when it has two bytes
// or more to cut), a truncate or mode change kept or lost.
std::size_t outcome_count(const Step& step) {
  return step.kind == StepKind::kWrite && step.bytes.size() >= 2 ? 3 : 2;
}

void apply_change(Image& image, const Step& step, std::size_t outcome) {
  if (outcome == kLost) return;
  switch (step.kind) {
    case StepKind::kWrite: {
      const std::string_view bytes =
          outcome == kCut ? std::string_view(step.bytes).substr(0, step.bytes.size() / 2)
                          : step.bytes;
      const auto offset = static_cast<std::size_t>(step.offset);
      if (image.content.size() < offset + bytes.size()) image.content.resize(offset + bytes.size());
      image.content.replace(offset, bytes.size(), bytes);
      break;
    }
    case StepKind::kTruncate:
      image.content.resize(static_cast<std::size_t>(step.size));
      break;
    case StepKind::kChmod:
      image.mode = step.mode;
      break;
    default:
      break;
  }
}

void apply_entry_change(std::map<std::string, int>& entries, const Step& step) {
  switch (step.kind) {
    case StepKind::kCreate:
      entries[step.name] = step.file;
      break;
    case StepKind::kRename: {
      auto old_entry = entries.find(step.name);
      if (old_entry == entries.end()) break;
      const int file = old_entry->second;
      entries.erase(old_entry);
      entries[step.new_name] = file;
      break;
    }
    case StepKind::kUnlink:
      entries.erase(step.name);
      break;
    default:
      break;
  }
}

std::string octal_mode(unsigned mode) {
  std::string text;
  for (int shift = 9; shift >= 0; shift -= 3)
    text += static_cast<char>('0' + ((mode >> shift) & 7u));
  return text;
}

std::string what_was_found(const std::optional<DirectoryFile>& found,
                           const std::optional<DirectoryFile>& old_file,
                           const std::optional<DirectoryFile>& new_file) {
  if (!found) return "nothing: the entry is missing";
  const std::string mode = " (mode " + octal_mode(found->mode) + ")";
  if (found->content.empty()) return "an empty file" + mode;
  if (old_file && found->content == old_file->content) {
    return found->mode == old_file->mode ? "the old file"
                                         : "the old content with another mode" + mode;
  }
  if (new_file && found->content == new_file->content) {
    return found->mode == new_file->mode ? "the new file"
                                         : "the new content with another mode" + mode;
  }
  return std::to_string(found->content.size()) +
         " bytes that are neither the old nor the new content" + mode;
}

// The file changes, the entry changes and what the run did so far.
class Replay {
 public:
  Replay(const DirectorySteps& steps, const DirectorySnapshot& before)
      : files_(static_cast<std::size_t>(steps.file_count)), unforced_(files_.size()) {
    int file = 0;
    for (const auto& [name, content] : before) {
      files_[static_cast<std::size_t>(file)] = {content.content, content.mode};
      entries_[name] = file++;
    }
    durable_ = files_;
    durable_entries_ = entries_;
  }

  void apply(const Step& step) {
    const auto file = static_cast<std::size_t>(step.file);
    switch (step.kind) {
      case StepKind::kCreate:
        files_[file] = durable_[file] = {"", step.mode};
        unforced_[file].clear();
        apply_entry_change(entries_, step);
        unforced_entries_.push_back(&step);
        break;
      case StepKind::kWrite:
      case StepKind::kTruncate:
      case StepKind::kChmod:
        apply_change(files_[file], step, kKept);
        unforced_[file].push_back(&step);
        break;
      case StepKind::kFsync: {
        std::vector<const Step*> left;
        for (const Step* change : unforced_[file]) {
          if (step.data_only && change->kind == StepKind::kChmod) {
            left.push_back(change);
          } else {
            apply_change(durable_[file], *change, kKept);
          }
        }
        unforced_[file] = left;
        break;
      }
      case StepKind::kRename:
      case StepKind::kUnlink:
        apply_entry_change(entries_, step);
        unforced_entries_.push_back(&step);
        break;
      case StepKind::kDirectoryFsync:
        durable_entries_ = entries_;
        unforced_entries_.clear();
        break;
      case StepKind::kSyncAll:
        durable_ = files_;
        for (auto& changes : unforced_) changes.clear();
        durable_entries_ = entries_;
        unforced_entries_.clear();
        break;
    }
  }

  // Checks every state a crash now can leave, adding to report.
  void check(std::size_t crash_point, bool returned, const std::string& after_step,
             const DirectorySnapshot& before, const DirectorySnapshot& after,
             const std::function<bool(std::string_view)>& may_be_left, CrashReport& report) const {
    for (std::size_t kept = 0; kept <= unforced_entries_.size(); ++kept) {
      std::map<std::string, int> entries = durable_entries_;
      for (std::size_t i = 0; i < kept; ++i) apply_entry_change(entries, *unforced_entries_[i]);
      std::set<int> named;
      for (const auto& entry : entries) named.insert(entry.second);
      std::vector<const Step*> changes;
      std::size_t states = 1;
      for (int file : named) {
        for (const Step* change : unforced_[static_cast<std::size_t>(file)]) {
          changes.push_back(change);
          states *= outcome_count(*change);
          if (states > kMaxStatesPerCut) {
            throw TraceError("more than " + std::to_string(kMaxStatesPerCut) +
                             " crash states after " + after_step +
                             ": too many unforced writes at once to check them all");
          }
        }
      }
      std::vector<std::size_t> outcome(changes.size());
      for (std::size_t state = 0; state < states; ++state) {
        std::size_t rest = state;
        for (std::size_t i = 0; i < changes.size(); ++i) {
          outcome[i] = rest % outcome_count(*changes[i]);
          rest /= outcome_count(*changes[i]);
        }
        std::map<int, Image> images;
        for (int file : named) images[file] = durable_[static_cast<std::size_t>(file)];
        for (std::size_t i = 0; i < changes.size(); ++i)
          apply_change(images[changes[i]->file], *changes[i], outcome[i]);
        ++report.states;
        check_state(
            entries, images, returned, before, after, may_be_left,
            [&](const std::string& entry, const std::string& found) {
              report.findings.push_back({crash_point, returned, after_step,
                                         describe_outcome(kept, changes, outcome), entry, found});
            });
      }
    }
  }

  // What replaying every step gave, against the snapshot after the run.
  std::string mismatch(const DirectorySnapshot& after) const {
    std::string differences;
    for (const auto& [name, file] : entries_) {
      const Image& image = files_[static_cast<std::size_t>(file)];
      auto found = after.find(name);
      if (found == after.end()) {
        differences += name + " is left by the replay but not by the run; ";
      } else if (found->second.content != image.content || found->second.mode != image.mode) {
        differences += name + " differs (replay: " + std::to_string(image.content.size()) +
                       " bytes, mode " + octal_mode(image.mode) +
                       "; run: " + std::to_string(found->second.content.size()) + " bytes, mode " +
                       octal_mode(found->second.mode) + "); ";
      }
    }
    for (const auto& entry : after) {
      if (!entries_.count(entry.first))
        differences += entry.first + " is left by the run but not by the replay; ";
    }
    return differences;
  }

 private:
  template <typename Report>
  static void check_state(const std::map<std::string, int>& entries,
                          const std::map<int, Image>& images, bool returned,
                          const DirectorySnapshot& before, const DirectorySnapshot& after,
                          const std::function<bool(std::string_view)>& may_be_left, Report report) {
    std::set<std::string> names;
    for (const auto& entry : before) names.insert(entry.first);
    for (const auto& entry : after) names.insert(entry.first);
    for (const std::string& name : names) {
      std::optional<DirectoryFile> found;
      if (auto entry = entries.find(name); entry != entries.end()) {
        const Image& image = images.at(entry->second);
        found = DirectoryFile{image.content, image.mode};
      }
      std::optional<DirectoryFile> old_file;
      std::optional<DirectoryFile> new_file;
      if (auto entry = before.find(name); entry != before.end()) old_file = entry->second;
      if (auto entry = after.find(name); entry != after.end()) new_file = entry->second;
      if (found == new_file || (!returned && found == old_file)) continue;
      report(name, what_was_found(found, old_file, new_file));
    }
    for (const auto& entry : entries) {
      if (!names.count(entry.first) && !may_be_left(entry.first))
        report(entry.first, "an entry the run was not to leave");
    }
  }

  std::string describe_outcome(std::size_t kept, const std::vector<const Step*>& changes,
                               const std::vector<std::size_t>& outcome) const {
    std::string text = "entry changes kept: " + std::to_string(kept) + " of " +
                       std::to_string(unforced_entries_.size());
    for (std::size_t i = 0; i < changes.size(); ++i) {
      if (outcome[i] == kKept) continue;
      text += outcome[i] == kLost ? "; lost: " : "; cut: ";
      text += describe(*changes[i]);
    }
    return text;
  }

  std::vector<Image> files_;
  std::vector<Image> durable_;
  std::vector<std::vector<const Step*>> unforced_;
  std::map<std::string, int> entries_;
  std::map<std::string, int> durable_entries_;
  std::vector<const Step*> unforced_entries_;
};

}  // namespace

CrashReport check_crash_states(const DirectorySteps& steps, const DirectorySnapshot& before,
                               const DirectorySnapshot& after,
                               const std::function<bool(std::string_view)>& may_be_left) {
  CrashReport report;
  Replay replay(steps, before);
  std::string after_step = "before the first step";
  for (std::size_t point = 0; point <= steps.steps.size(); ++point) {
    const bool returned = point == steps.steps.size();
    replay.check(point, returned, after_step, before, after, may_be_left, report);
    ++report.crash_points;
    if (returned) break;
    replay.apply(steps.steps[point]);
    after_step = describe(steps.steps[point]);
  }
  report.replay_mismatch = replay.mismatch(after);
  return report;
}

std::string format_report(const CrashReport& report, std::size_t max_findings) {
  std::string text = std::to_string(report.crash_points) + " crash points, " +
                     std::to_string(report.states) + " states, " +
                     std::to_string(report.findings.size()) + " findings\n";
  if (!report.replay_mismatch.empty()) text += "replay mismatch: " + report.replay_mismatch + "\n";
  for (std::size_t i = 0; i < report.findings.size() && i < max_findings; ++i) {
    const CrashFinding& finding = report.findings[i];
    text += (finding.returned ? "after the run returned" : "crash after " + finding.after_step) +
            " [" + finding.outcome + "]: " + finding.entry + " holds " + finding.found + "\n";
  }
  return text;
}

}  // namespace lumora::testing
