#include "query/config_check.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>

#include "catalogue/model_list.h"
#include "common/bounded_text.h"
#include "common/paths.h"
#include "common/unique_file.h"
#include "query/json_text.h"
#include "query/query_input.h"
#include "registry/add_device.h"
#include "registry/device_registry.h"
#include "registry/file_replacement.h"
#include "registry/remove_devices.h"

namespace lumora {
namespace {

constexpr std::string_view kDevicePrefix = "DEVICE=";
constexpr std::string_view kWhiteSpace = " \t\n\r\v\f";
// What the reader keeps of a field, and reads of a line at once.
constexpr std::size_t kKeptBytes = kDeviceTextSize - 1;
constexpr std::size_t kPieceBytes = kDeviceLineReadLimit - 1;

std::string quoted(std::string_view text) { return "\"" + std::string(text) + "\""; }

// ASCII letters in upper case, every other byte as it is.
std::string upper_case(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return upper;
}

// value in the base (lower-case digits), padded with zeros to at least width digits.
std::string in_base(std::uint32_t value, int base, std::size_t width) {
  char digits[32];  // a 32-bit number has at most 32 binary digits
  const std::to_chars_result end = std::to_chars(digits, digits + sizeof digits, value, base);
  const std::string text(digits, end.ptr);
  return text.size() < width ? std::string(width - text.size(), '0') + text : text;
}

std::string field_text(const char* field, std::size_t size) {
  return {field, bounded_length(field, size)};
}

// One piece of a line, as the reader took it and what it made of it.
struct PieceRead {
  std::string bytes;  // as read, the line feed included when the piece holds it
  std::string text;   // the reader's text: after the comma step, up to the first NUL
  DeviceLineKind kind;
  const DeviceEntry* entry;  // the registry's, alive while the check's ScopedDeviceList is
};

struct LineRead {
  std::size_t number;
  std::vector<PieceRead> pieces;

  // The line's bytes without its line feed.
  std::string bytes() const {
    std::string all;
    for (const PieceRead& piece : pieces) all += piece.bytes;
    if (!all.empty() && all.back() == '\n') all.pop_back();
    return all;
  }
};

class Checker {
 public:
  explicit Checker(const QuerySources& sources) : sources_(sources) {}

  std::vector<Finding> run() {
    const bool config_readable = check_config_file();
    check_directory();
    const bool catalogue_loaded = load_catalogue();
    if (config_readable) check_lines(catalogue_loaded);
    return std::move(findings_);
  }

 private:
  void add_file_finding(FindingKind kind, std::string message) {
    findings_.push_back({0, kind, std::nullopt, std::nullopt, std::move(message)});
  }
  void add(const LineRead& line, FindingKind kind, const DeviceEntry* entry, std::string message) {
    std::optional<std::string> name;
    if (entry != nullptr && entry->name[0] != '\0') name = field_text(entry->name, kDeviceTextSize);
    findings_.push_back({line.number, kind, std::move(name), line.bytes(), std::move(message)});
  }

  // Group and others may write path: whoever they are decides what the backend reads.
  void check_mode(const std::string& path, std::string_view what) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || (info.st_mode & (S_IWGRP | S_IWOTH)) == 0) return;
    const bool group = (info.st_mode & S_IWGRP) != 0;
    const bool others = (info.st_mode & S_IWOTH) != 0;
    const std::string mode = in_base(info.st_mode & 07777U, 8, 4);
    add_file_finding(FindingKind::kWritableFile,
                     path + ": " + std::string(what) + " may be written by " +
                         (group && others ? "group and others" : group ? "group" : "others") +
                         " (mode " + mode + "); chmod go-w it");
  }

  // False when the file cannot be read: its lines are then not checked.
  bool check_config_file() {
    std::string error;
    switch (probe_input(sources_.config_file, InputKind::kFile, error)) {
      case InputState::kMissing: return false;
      case InputState::kUnreadable:
        add_file_finding(FindingKind::kUnreadable, "cannot read " + error);
        return false;
      case InputState::kReadable: break;
    }
    check_mode(sources_.config_file, "the device configuration file");
    return true;
  }

  void check_directory() {
    std::string error;
    switch (probe_input(sources_.config_dir, InputKind::kDirectory, error)) {
      case InputState::kMissing: return;
      case InputState::kUnreadable:
        add_file_finding(FindingKind::kUnreadable, "cannot read " + error);
        return;
      case InputState::kReadable: break;
    }
    std::string dir = sources_.config_dir;
    if (dir.empty() || dir.back() != '/') dir += '/';
    std::string labels;
    if (!query_labels(sources_, ListForm{'\0', {}}, labels, error)) {
      add_file_finding(FindingKind::kUnreadable, "cannot read " + error);
      return;
    }
    for (std::size_t at = 0; at < labels.size();) {
      const std::size_t end = labels.find('\0', at);
      check_mode(dir + labels.substr(at, end - at) + kLabelSuffix, "a labelled copy");
      at = end + 1;
    }
    const UniqueDir entries(::opendir(dir.c_str()));
    if (!entries) return;
    while (const dirent* entry = ::readdir(entries.get())) {
      if (!is_pending_file_name(entry->d_name)) continue;
      const std::string path = dir + entry->d_name;
      struct stat info {};
      if (::lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) continue;
      add_file_finding(FindingKind::kPendingFile,
                       path + ": a pending file that a killed lumoraconf run left; the backend "
                              "never reads it, and the next lumoraconf run that writes removes it");
    }
  }

  // False when the catalogue cannot be read: models are then not checked.
  bool load_catalogue() {
    std::string error;
    if (!catalogue_readable(sources_.models_dir, sources_.default_catalogue, error)) {
      add_file_finding(FindingKind::kUnreadable, "cannot read " + error);
      return false;
    }
    load_adv_models_from(sources_.models_dir, sources_.default_catalogue);
    return true;
  }

  void check_lines(bool catalogue_loaded) {
    // The log settings start from a fresh backend's; only log lines change them.
    g_logfile[0] = '\0';
    g_loglevel = 0;
    g_logmode = '\0';
    std::vector<LineRead> lines;
    std::int32_t appended = 0;
    const DeviceFileRead read =
        read_device_file(sources_.config_file, appended, [&lines](const DevicePiece& piece) {
          if (piece.piece == 0) lines.push_back({piece.line, {}});
          lines.back().pieces.push_back(
              {std::string(piece.bytes), piece.text, piece.kind, piece.entry});
        });
    if (read != DeviceFileRead::kRead) {
      add_file_finding(FindingKind::kUnreadable,
                       "cannot read " + std::string(sources_.config_file) + ": " +
                           std::strerror(errno != 0 ? errno : EIO));
      return;
    }
    for (const LineRead& line : lines) check_line(line, catalogue_loaded);
  }

  void check_line(const LineRead& line, bool catalogue_loaded) {
    const std::string bytes = line.bytes();
    if (bytes.size() > kPieceBytes) check_split(line, bytes.size());
    for (std::size_t index = 0; index < line.pieces.size(); ++index) {
      const PieceRead& piece = line.pieces[index];
      switch (piece.kind) {
        case DeviceLineKind::kSkipped:
          if (index == 0) check_skipped(line, piece);
          break;
        case DeviceLineKind::kLog:
          check_log(line);
          break;
        case DeviceLineKind::kDevice:
          if (piece.entry->name[0] == '\0') {
            if (index == 0) add_passed_over(line, piece, nameless_reason(piece));
          } else {
            check_device(line, piece, index == 0, bytes, catalogue_loaded);
          }
          break;
      }
    }
  }

  void check_split(const LineRead& line, std::size_t size) {
    std::string message = "the backend reads this line of " + std::to_string(size) +
                          " bytes in " + std::to_string(line.pieces.size()) +
                          " pieces of at most 276 bytes, each as a line of its own";
    for (std::size_t index = 1; index < line.pieces.size(); ++index) {
      const PieceRead& piece = line.pieces[index];
      const std::string which = "; piece " + std::to_string(index + 1) + " is ";
      if (piece.kind == DeviceLineKind::kLog) {
        message += which + "a log line";
      } else if (piece.kind == DeviceLineKind::kDevice) {
        message += which + (piece.entry->name[0] == '\0'
                                ? std::string("a device with no name")
                                : "the device " + quoted(field_text(piece.entry->name,
                                                                    kDeviceTextSize)));
        message += ", which no lumoraconf -r removes";
      }
    }
    add(line, FindingKind::kSplitLine, line.pieces.front().entry, message);
  }

  // A line the reader passes over for want of an equals sign that still reads like a device:
  // comments, sections and empty lines are passed over on purpose.
  void check_skipped(const LineRead& line, const PieceRead& piece) {
    const std::string_view text = piece.text;
    if (text.empty() || text.front() == '#' || text.front() == '[' || text.front() == '\n') return;
    if (upper_case(text).find("DEVICE") == std::string::npos) return;
    const std::string note = nul_note(piece);
    add_passed_over(line, piece, "it holds no =" + (note.empty() ? note : " (" + note + ")"));
  }

  void add_passed_over(const LineRead& line, const PieceRead& piece, const std::string& reason) {
    const bool device = piece.kind == DeviceLineKind::kDevice;
    add(line, FindingKind::kPassedOver, nullptr,
        std::string(device ? "the backend reads this line as a device with no name, model or "
                             "address, which no lumoraconf -r removes: "
                           : "the backend passes over this line: ") +
            reason);
  }

  // Where the piece's first NUL byte stands, as the reader's text ends there; empty without.
  static std::string nul_note(const PieceRead& piece) {
    const std::size_t nul = piece.bytes.find('\0');
    if (nul == std::string::npos) return {};
    return "a NUL byte at byte " + std::to_string(nul + 1) + " ends the line for the backend";
  }

  static std::string nameless_reason(const PieceRead& piece) {
    const std::string_view text = piece.text;
    if (!text.starts_with(kDevicePrefix)) {
      const std::size_t start = text.find_first_not_of(kWhiteSpace);
      if (start != std::string_view::npos && start > 0 &&
          text.substr(start).starts_with(kDevicePrefix)) {
        return "white space stands before DEVICE=";
      }
      if (upper_case(text.substr(0, kDevicePrefix.size())) == kDevicePrefix) {
        return "it begins with DEVICE= in another case";
      }
      return "it does not begin with DEVICE=";
    }
    if (piece.bytes.find('\0') != std::string::npos) return nul_note(piece);
    if (text.find("IP-ADDRESS=") == std::string_view::npos &&
        text.find("NODENAME=") == std::string_view::npos) {
      return "it holds neither IP-ADDRESS= nor NODENAME= in the first 276 bytes";
    }
    return "no name follows DEVICE=";
  }

  void check_log(const LineRead& line) {
    if (++log_lines_ == 1) return;
    const std::string path = field_text(g_logfile, kLogFileSize);
    const std::string settings = (path.empty() ? std::string("no file") : path) + ", level " +
                                 std::to_string(g_loglevel) + ", mode " +
                                 (g_logmode == '\0' ? '-' : g_logmode);
    add(line, FindingKind::kExtraLogLine, nullptr,
        "another log line: the backend applies each log line in turn, and for each setting the "
        "last line that supplies it wins (it logs to " +
            settings + ")");
  }

  void check_device(const LineRead& line, const PieceRead& piece, bool first_piece,
                    const std::string& bytes, bool catalogue_loaded) {
    const DeviceEntry& entry = *piece.entry;
    // Room for every word of a piece, uncut; the reader keeps 63 bytes of each.
    const auto words = std::make_unique<DeviceLineWords>();
    scan_device_words(piece.text.c_str(), *words);
    const std::string name = field_text(entry.name, kDeviceTextSize);
    const std::size_t name_size = std::strlen(words->name);
    if (name_size > kKeptBytes) {
      add(line, FindingKind::kCutName, &entry,
          "the backend keeps the first 63 bytes of this name of " + std::to_string(name_size) +
              " bytes: " + quoted(name));
    }
    // A name cut short by white space stops the reader's scan there: it reads no model, id or
    // address from the line, and the finding on the name says all there is.
    const bool name_cut_short = first_piece && check_written_name(line, entry, bytes, words->name);
    const auto [first, inserted] = first_lines_.emplace(name, line.number);
    if (!inserted) {
      add(line, FindingKind::kDuplicateName, &entry,
          quoted(name) + " is registered on line " + std::to_string(first->second) +
              " already: the backend finds the device of line " +
              std::to_string(first->second) + " under this name, never this one");
    }
    if (name_cut_short) return;
    if (catalogue_loaded) check_model(line, entry);
    check_address(line, piece, entry, *words);
  }

  // The name as the line writes it, up to its first comma: a blank, a tab or a NUL byte in it
  // ends the name for the backend, and lumoraconf -r refuses a name holding white space. True
  // when it found so.
  bool check_written_name(const LineRead& line, const DeviceEntry& entry, std::string_view bytes,
                          std::string_view read_name) {
    std::string_view written = bytes.substr(kDevicePrefix.size());
    written = written.substr(std::min(written.size(), written.find_first_not_of(kWhiteSpace)));
    written = written.substr(0, written.find(','));
    written = written.substr(0, written.find_last_not_of(kWhiteSpace) + 1);
    if (written.empty() || written == read_name) return false;
    const bool nul = written.find('\0') != std::string_view::npos;
    const std::string_view removable = removal_name(bytes);
    add(line, FindingKind::kUnremovable, &entry,
        "the name as written holds " + std::string(nul ? "a NUL byte" : "white space") +
            ", which ends it for the backend: it reads the name " +
            quoted(field_text(entry.name, kDeviceTextSize)) +
            " and no model or address, lumoraconf -r cannot be given the name as written, and " +
            (removable.empty() ? std::string("no lumoraconf -r removes this line")
                               : "lumoraconf -r " + std::string(removable) +
                                     " removes this line"));
    return true;
  }

  void check_model(const LineRead& line, const DeviceEntry& entry) {
    const std::string model = field_text(entry.model, kDeviceTextSize);
    if (adv_model_exists(model.c_str()) == 0) {
      add(line, FindingKind::kUnknownModel, &entry,
          model.empty() ? std::string("the backend reads no model from this line")
                        : "the catalogue does not know the model " + model +
                              " (models are compared with their double quotes, byte by byte)");
      return;
    }
    std::uint32_t vendor = 0;
    std::uint32_t product = 0;
    get_adv_model_ids(model.c_str(), &vendor, &product);
    // As the add writes it: "0x%x:0x%x", vendor first.
    const std::string id = "0x" + in_base(vendor, 16, 1) + ":0x" + in_base(product, 16, 1);
    const std::string written = field_text(entry.id, kDeviceTextSize);
    if (written == id) return;
    add(line, FindingKind::kIdMismatch, &entry,
        "the catalogue gives the model " + model + " the id " + id + ", this line " +
            (written.empty() ? std::string("none") : written) +
            ", and the backend takes the line's");
  }

  void check_address(const LineRead& line, const PieceRead& piece, const DeviceEntry& entry,
                     const DeviceLineWords& words) {
    if (piece.text.find("IP-ADDRESS=") != std::string::npos) {
      if (words.ip[0] == '\0') {
        add(line, FindingKind::kBadAddress, &entry,
            "the backend reads no address after IP-ADDRESS=");
      } else if (is_valid_ipv4(words.ip) == 0) {
        add(line, FindingKind::kBadAddress, &entry,
            "the backend reads the address " + quoted(words.ip) +
                ", which is no IPv4 address (four numbers 0 to 255 joined by dots)");
      }
    } else if (words.nodename[0] == '\0') {
      add(line, FindingKind::kBadAddress, &entry, "the backend reads no node name after NODENAME=");
    }
  }

  const QuerySources& sources_;
  const ScopedDeviceList devices_;
  const ScopedCatalogue catalogue_;
  std::vector<Finding> findings_;
  std::map<std::string, std::size_t> first_lines_;  // each name's first line
  std::size_t log_lines_ = 0;
};

void append_optional(std::string& out, const std::optional<std::string>& text) {
  if (text) {
    append_json_string(out, *text);
  } else {
    out += "null";
  }
}

}  // namespace

std::string_view finding_kind_name(FindingKind kind) {
  switch (kind) {
    case FindingKind::kUnreadable: return "unreadable";
    case FindingKind::kWritableFile: return "writable-file";
    case FindingKind::kPendingFile: return "pending-file";
    case FindingKind::kSplitLine: return "split-line";
    case FindingKind::kPassedOver: return "passed-over";
    case FindingKind::kCutName: return "cut-name";
    case FindingKind::kUnremovable: return "unremovable";
    case FindingKind::kDuplicateName: return "duplicate-name";
    case FindingKind::kUnknownModel: return "unknown-model";
    case FindingKind::kIdMismatch: return "id-mismatch";
    case FindingKind::kBadAddress: return "bad-address";
    case FindingKind::kExtraLogLine: return "extra-log-line";
  }
  return "unknown";
}

std::vector<Finding> check_configuration(const QuerySources& sources) {
  return Checker(sources).run();
}

void append_finding_json(std::string& out, const Finding& finding) {
  out += "{\"line\":" + std::to_string(finding.line) + ",\"kind\":";
  append_json_string(out, finding_kind_name(finding.kind));
  out += ",\"name\":";
  append_optional(out, finding.name);
  out += ",\"text\":";
  append_optional(out, finding.text);
  out += ",\"message\":";
  append_json_string(out, finding.message);
  out += "}\n";
}

void append_finding_text(std::string& out, const Finding& finding) {
  out += std::to_string(finding.line) + ": ";
  out += finding_kind_name(finding.kind);
  out += ": " + finding.message + "\n";
}

}  // namespace lumora
