#include "durability/directory_steps.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <set>
#include <string_view>

namespace lumora::testing {
namespace {

// Lexical: "." and empty components dropped, ".." taking one back. The paths the tool uses name
// no symbolic link on the way to the directory; -y annotations are the kernel's own paths.
std::string normalize(std::string_view path) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t slash = path.find('/', start);
    if (slash == std::string_view::npos) slash = path.size();
    const std::string_view part = path.substr(start, slash - start);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.emplace_back(part);
    }
    start = slash + 1;
  }
  std::string joined;
  for (const std::string& part : parts) joined += "/" + part;
  return joined.empty() ? "/" : joined;
}

bool has_flag(std::string_view flags, std::string_view flag) {
  std::size_t start = 0;
  while (start <= flags.size()) {
    std::size_t bar = flags.find('|', start);
    if (bar == std::string_view::npos) bar = flags.size();
    if (flags.substr(start, bar - start) == flag) return true;
    start = bar + 1;
  }
  return false;
}

unsigned octal(std::string_view text) {
  return static_cast<unsigned>(std::stoul(std::string(text), nullptr, 8));
}

std::uint64_t number(std::string_view text) { return std::stoull(std::string(text), nullptr, 0); }

// No directory descriptor argument: a relative path starts at the working directory.
constexpr std::size_t kNoDirectory = static_cast<std::size_t>(-1);

struct OpenFile {
  int file = -1;              // -1: not a file of the directory
  bool is_directory = false;  // the directory itself
  std::uint64_t offset = 0;
  bool append = false;
};

struct Descriptor {
  std::shared_ptr<OpenFile> open;
  bool cloexec = false;
};

using FdTable = std::map<int, Descriptor>;

struct Process {
  std::shared_ptr<FdTable> fds = std::make_shared<FdTable>();
  std::string cwd;
  unsigned umask = 0;
};

class Translator {
 public:
  Translator(const DirectorySnapshot& before, const StepOptions& options)
      : directory_(normalize(options.directory)), options_(options) {
    for (const auto& [name, file] : before) {
      names_[name] = result_.file_count;
      sizes_[result_.file_count] = file.content.size();
      ++result_.file_count;
    }
  }

  void take(const TracedCall& call) {
    call_ = &call;
    if (!call.has_result || call.result < 0) return;  // a failed call changed nothing
    const std::string& name = call.name;
    if (name == "open" || name == "openat" || name == "creat") {
      open(call);
    } else if (name == "close") {
      process().fds->erase(fd_arg(0));
    } else if (name == "dup") {
      duplicate(fd_arg(0), static_cast<int>(call.result), false);
    } else if (name == "dup2" || name == "dup3") {
      duplicate(fd_arg(0), static_cast<int>(call.result),
                arg_count() > 2 && has_flag(arg(2), "O_CLOEXEC"));
    } else if (name == "fcntl") {
      fcntl(call);
    } else if (name == "clone" || name == "clone3" || name == "fork" || name == "vfork") {
      fork(call);
    } else if (name == "execve" || name == "execveat") {
      FdTable& fds = *process().fds;
      std::erase_if(fds, [](const auto& entry) { return entry.second.cloexec; });
    } else if (name == "write" || name == "pwrite64") {
      const std::string bytes = decode_string(arg(1));
      write(fd_arg(0), bytes, name == "pwrite64" ? std::optional(number(arg(3))) : std::nullopt);
    } else if (name == "writev" || name == "pwritev" || name == "pwritev2") {
      std::string bytes;
      for (const std::string& piece : decode_strings(arg(1))) bytes += piece;
      write(fd_arg(0), bytes, name != "writev" ? std::optional(number(arg(3))) : std::nullopt);
    } else if (name == "read" || name == "readv") {
      if (OpenFile* open = open_file(fd_arg(0)))
        open->offset += static_cast<std::uint64_t>(call.result);
    } else if (name == "lseek") {
      if (OpenFile* open = open_file(fd_arg(0)))
        open->offset = static_cast<std::uint64_t>(call.result);
    } else if (name == "sendfile" || name == "sendfile64" || name == "copy_file_range" ||
               name == "splice") {
      const std::size_t out = name == "copy_file_range" || name == "splice" ? 2 : 0;
      if (in_directory(fd_arg(out)))
        refuse("data copied into a file without passing through the trace");
    } else if (name == "ftruncate") {
      if (const int file = file_of(fd_arg(0)); file >= 0) truncate(file, number(arg(1)));
    } else if (name == "truncate") {
      if (auto entry = entry_of(path_arg(kNoDirectory, 0)); entry && names_.count(*entry)) {
        truncate(names_[*entry], number(arg(1)));
      }
    } else if (name == "fsync" || name == "fdatasync") {
      fsync(fd_arg(0), name == "fdatasync");
    } else if (name == "sync" || name == "syncfs") {
      add(step_of(StepKind::kSyncAll, -1));
    } else if (name == "rename") {
      rename(path_arg(kNoDirectory, 0), path_arg(kNoDirectory, 1), "");
    } else if (name == "renameat" || name == "renameat2") {
      rename(path_arg(0, 1), path_arg(2, 3), name == "renameat2" ? arg(4) : "");
    } else if (name == "unlink") {
      unlink(path_arg(kNoDirectory, 0));
    } else if (name == "unlinkat") {
      if (!has_flag(arg(2), "AT_REMOVEDIR")) unlink(path_arg(0, 1));
    } else if (name == "fchmod") {
      if (const int file = file_of(fd_arg(0)); file >= 0) chmod(file, octal(arg(1)));
    } else if (name == "chmod" || name == "fchmodat") {
      const bool at = name == "fchmodat";
      const auto entry = entry_of(at ? path_arg(0, 1) : path_arg(kNoDirectory, 0));
      if (entry && names_.count(*entry)) chmod(names_[*entry], octal(arg(at ? 2 : 1)));
    } else if (name == "umask") {
      process().umask = octal(arg(0));
    } else if (name == "chdir") {
      process().cwd = path_arg(kNoDirectory, 0);
    } else if (name == "fchdir") {
      if (auto descriptor = decode_descriptor(arg(0)); descriptor && !descriptor->path.empty()) {
        process().cwd = normalize(descriptor->path);
      }
    } else if (name == "link" || name == "linkat" || name == "symlink" || name == "symlinkat" ||
               name == "mknod" || name == "mknodat" || name == "mkdir" || name == "mkdirat") {
      for (std::size_t i = 0; i < arg_count(); ++i) {
        if (arg(i).empty() || arg(i).front() != '"') continue;
        const bool after_descriptor = i > 0 && decode_descriptor(arg(i - 1)).has_value();
        if (entry_of(path_arg(after_descriptor ? i - 1 : kNoDirectory, i)))
          refuse("an entry the steps do not model (link, directory, device)");
      }
    }
  }

  DirectorySteps finish() { return std::move(result_); }

 private:
  const std::string& arg(std::size_t index) const {
    if (index >= call_->args.size()) refuse("too few arguments");
    return call_->args[index];
  }
  std::size_t arg_count() const { return call_->args.size(); }

  [[noreturn]] void refuse(const std::string& why) const {
    throw TraceError("trace line " + std::to_string(call_->last_line) + " (" + call_->name +
                     "): " + why);
  }

  Process& process() {
    auto found = processes_.find(call_->pid);
    if (found != processes_.end()) return found->second;
    // A process whose making the trace does not show: the first one.
    Process& made = processes_[call_->pid];
    made.cwd = normalize(options_.working_dir);
    made.umask = options_.umask;
    return made;
  }

  int fd_arg(std::size_t index) const {
    const auto descriptor = decode_descriptor(arg(index));
    if (!descriptor) refuse("not a descriptor: " + arg(index));
    return descriptor->fd;
  }

  OpenFile* open_file(int fd) {
    FdTable& fds = *process().fds;
    auto found = fds.find(fd);
    return found == fds.end() ? nullptr : found->second.open.get();
  }

  // The file of the directory behind fd, or -1. A descriptor the trace never showed opened
  // (inherited from before the run) must not lead into the directory: its writes would be lost.
  int file_of(int fd) {
    if (OpenFile* open = open_file(fd)) return open->file;
    const auto descriptor = decode_descriptor(call_->args.front());
    if (descriptor && entry_of(descriptor->path))
      refuse("a descriptor of the directory that the trace never opened");
    return -1;
  }

  bool in_directory(int fd) {
    if (OpenFile* open = open_file(fd)) return open->file >= 0;
    return file_of(fd) >= 0;
  }

  // The absolute path of a path argument, relative ones taken from the directory descriptor
  // argument dir_index (or, for kNoDirectory, the working directory).
  std::string path_arg(std::size_t dir_index, std::size_t path_index) {
    const std::string path = decode_string(arg(path_index));
    if (!path.empty() && path.front() == '/') return normalize(path);
    std::string base = process().cwd;
    if (dir_index != kNoDirectory) {
      const auto dir = decode_descriptor(arg(dir_index));
      if (!dir) refuse("not a directory descriptor: " + arg(dir_index));
      if (!dir->path.empty()) {
        base = dir->path;
      } else if (dir->fd != kAtFdcwd) {
        refuse("a directory descriptor without its path (trace with -y)");
      }
    }
    return normalize(base + "/" + path);
  }

  // The entry name when path lies directly in the directory.
  std::optional<std::string> entry_of(const std::string& path) const {
    const std::string normal = normalize(path);
    const std::size_t slash = normal.rfind('/');
    if (slash == std::string::npos || normal.substr(0, slash) != directory_) return std::nullopt;
    return normal.substr(slash + 1);
  }

  // A step of kind on file, with the fields that fill sets.
  template <typename Fill = void (*)(Step&)>
  static Step step_of(
      StepKind kind, int file, Fill fill = [](Step&) {}) {
    Step step;
    step.kind = kind;
    step.file = file;
    fill(step);
    return step;
  }

  void add(Step step) {
    step.line = call_->last_line;
    result_.steps.push_back(std::move(step));
  }

  void open(const TracedCall& call) {
    const bool at = call.name == "openat";
    const std::string path = at ? path_arg(0, 1) : path_arg(kNoDirectory, 0);
    const std::string flags = call.name == "creat" ? "O_CREAT|O_WRONLY|O_TRUNC" : arg(at ? 2 : 1);
    const std::size_t mode_index = call.name == "creat" ? 1 : at ? 3 : 2;
    // The kernel's own path of what was opened: a symbolic link's target, for one.
    const std::string real = call.result_path.empty() ? path : normalize(call.result_path);
    auto open = std::make_shared<OpenFile>();
    if (real == directory_) {
      open->is_directory = true;
    } else if (const auto entry = entry_of(real)) {
      auto known = names_.find(*entry);
      if (known == names_.end()) {
        if (!has_flag(flags, "O_CREAT"))
          refuse("opens " + *entry + ", which the directory did not hold");
        const int file = result_.file_count++;
        names_[*entry] = file;
        sizes_[file] = 0;
        add(step_of(StepKind::kCreate, file, [&](Step& step) {
          step.name = *entry;
          step.mode = octal(arg(mode_index)) & ~process().umask & 07777u;
        }));
        open->file = file;
      } else {
        if (has_flag(flags, "O_CREAT") && has_flag(flags, "O_EXCL")) {
          refuse("O_EXCL succeeded on " + *entry + ", which the directory held");
        }
        open->file = known->second;
        if (has_flag(flags, "O_TRUNC") && !has_flag(flags, "O_RDONLY")) truncate(open->file, 0);
      }
      open->append = has_flag(flags, "O_APPEND");
    }
    (*process().fds)[static_cast<int>(call.result)] = {open, has_flag(flags, "O_CLOEXEC")};
  }

  void duplicate(int from, int to, bool cloexec) {
    FdTable& fds = *process().fds;
    auto found = fds.find(from);
    if (found == fds.end()) {
      if (file_of(from) < 0) fds.erase(to);
      return;
    }
    fds[to] = {found->second.open, cloexec};
  }

  void fcntl(const TracedCall& call) {
    const std::string& command = arg(1);
    if (command == "F_DUPFD" || command == "F_DUPFD_CLOEXEC") {
      duplicate(fd_arg(0), static_cast<int>(call.result), command == "F_DUPFD_CLOEXEC");
    } else if (command == "F_SETFD") {
      auto found = process().fds->find(fd_arg(0));
      if (found != process().fds->end()) found->second.cloexec = has_flag(arg(2), "FD_CLOEXEC");
    } else if (command == "F_SETFL") {
      if (OpenFile* open = open_file(fd_arg(0))) open->append = has_flag(arg(2), "O_APPEND");
    }
  }

  void fork(const TracedCall& call) {
    Process& parent = process();
    const bool shares_table =
        !call.args.empty() && call.args.front().find("CLONE_FILES") != std::string::npos;
    Process child;
    child.fds = shares_table ? parent.fds : std::make_shared<FdTable>(*parent.fds);
    child.cwd = parent.cwd;
    child.umask = parent.umask;
    processes_[static_cast<int>(call.result)] = std::move(child);
  }

  void write(int fd, const std::string& all, std::optional<std::uint64_t> at) {
    OpenFile* open = open_file(fd);
    const int file = open != nullptr ? open->file : file_of(fd);
    const std::string bytes = all.substr(0, static_cast<std::size_t>(call_->result));
    if (open == nullptr) return;
    std::uint64_t offset = at ? *at : open->append && file >= 0 ? sizes_[file] : open->offset;
    if (!at) open->offset = offset + bytes.size();
    if (file < 0 || bytes.empty()) return;
    sizes_[file] = std::max(sizes_[file], offset + bytes.size());
    add(step_of(StepKind::kWrite, file, [&](Step& step) {
      step.offset = offset;
      step.bytes = bytes;
    }));
  }

  void truncate(int file, std::uint64_t size) {
    sizes_[file] = size;
    add(step_of(StepKind::kTruncate, file, [&](Step& step) { step.size = size; }));
  }

  void chmod(int file, unsigned mode) {
    add(step_of(StepKind::kChmod, file, [&](Step& step) { step.mode = mode & 07777u; }));
  }

  void fsync(int fd, bool data_only) {
    OpenFile* open = open_file(fd);
    if (open != nullptr && open->is_directory) {
      add(step_of(StepKind::kDirectoryFsync, -1));
    } else if (const int file = open != nullptr ? open->file : file_of(fd); file >= 0) {
      add(step_of(StepKind::kFsync, file, [&](Step& step) { step.data_only = data_only; }));
    }
  }

  void rename(const std::string& from, const std::string& to, const std::string& flags) {
    const auto old_entry = entry_of(from);
    const auto new_entry = entry_of(to);
    if (!old_entry && !new_entry) return;
    if (has_flag(flags, "RENAME_EXCHANGE")) refuse("RENAME_EXCHANGE is not modelled");
    if (!old_entry)
      refuse("a file renamed into the directory from elsewhere: its content is unknown");
    auto known = names_.find(*old_entry);
    if (known == names_.end()) {
      if (new_entry) refuse("renames " + *old_entry + ", which the directory did not hold");
      return;  // a subdirectory or link moved away
    }
    if (!new_entry) {
      unlink(from);
      return;
    }
    const int file = known->second;
    names_.erase(known);
    names_[*new_entry] = file;
    add(step_of(StepKind::kRename, file, [&](Step& step) {
      step.name = *old_entry;
      step.new_name = *new_entry;
    }));
  }

  void unlink(const std::string& path) {
    const auto entry = entry_of(path);
    if (!entry) return;
    auto known = names_.find(*entry);
    if (known == names_.end()) return;  // a link or a subdirectory, not a file of the snapshot
    add(step_of(StepKind::kUnlink, known->second, [&](Step& step) { step.name = *entry; }));
    names_.erase(known);
  }

  std::string directory_;
  StepOptions options_;
  DirectorySteps result_;
  std::map<std::string, int> names_;
  std::map<int, std::uint64_t> sizes_;
  std::map<int, Process> processes_;
  const TracedCall* call_ = nullptr;
};

}  // namespace

std::string describe(const Step& step) {
  std::string text = "line " + std::to_string(step.line) + ": ";
  const std::string file = "file #" + std::to_string(step.file);
  switch (step.kind) {
    case StepKind::kCreate:
      return text + "create " + step.name + " (" + file + ")";
    case StepKind::kWrite:
      return text + "write " + std::to_string(step.bytes.size()) + " bytes at " +
             std::to_string(step.offset) + " to " + file;
    case StepKind::kTruncate:
      return text + "truncate " + file + " to " + std::to_string(step.size);
    case StepKind::kChmod: {
      std::string mode;
      for (int shift = 9; shift >= 0; shift -= 3)
        mode += static_cast<char>('0' + ((step.mode >> shift) & 7u));
      return text + "chmod " + file + " " + mode;
    }
    case StepKind::kFsync:
      return text + (step.data_only ? "fdatasync " : "fsync ") + file;
    case StepKind::kRename:
      return text + "rename " + step.name + " -> " + step.new_name;
    case StepKind::kUnlink:
      return text + "unlink " + step.name;
    case StepKind::kDirectoryFsync:
      return text + "fsync the directory";
    case StepKind::kSyncAll:
      return text + "sync";
  }
  return text;
}

DirectorySteps directory_steps(const std::vector<TracedCall>& calls,
                               const DirectorySnapshot& before, const StepOptions& options) {
  Translator translator(before, options);
  for (const TracedCall& call : calls) translator.take(call);
  return translator.finish();
}

}  // namespace lumora::testing
