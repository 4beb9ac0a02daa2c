// lumoraconf-query check: where the backend will read the device configuration file otherwise
// than its writer meant. The file is read by the backend's own reader, piece by piece as the
// backend takes it, and the catalogue by the catalogue's reader; each difference is a finding
// of a stable kind, which lumoraconf-query(1) explains with its mend.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "query/query_answers.h"

namespace lumora {

enum class FindingKind : std::uint8_t {
  kUnreadable,     // a file or directory the check must read cannot be read
  kWritableFile,   // the configuration file or a labelled copy may be written by group or others
  kPendingFile,    // a pending file of a killed lumoraconf run stands beside the file
  kSplitLine,      // a line over 276 bytes, which the backend reads as several
  kPassedOver,     // a line that looks like a device, of which the backend reads no device name
  kCutName,        // a name over 63 bytes, of which the backend keeps 63
  kUnremovable,    // a name as written that lumoraconf -r cannot be given
  kDuplicateName,  // a name registered on an earlier line already
  kUnknownModel,   // a model the catalogue does not know
  kIdMismatch,     // an id other than the catalogue's for the model
  kBadAddress,     // an IP-ADDRESS= that is no IPv4 address, or no address at all
  kExtraLogLine,   // a log line after the first
};

// The kind's stable name, as the output prints it ("split-line").
std::string_view finding_kind_name(FindingKind kind);

struct Finding {
  std::size_t line;  // 1 for the file's first line; 0 for a finding about a whole file
  FindingKind kind;
  std::optional<std::string> name;  // the device's name as the backend reads it, if any
  std::optional<std::string> text;  // the line's bytes without its line feed; none for line 0
  std::string message;
};

// Every finding on the configuration, the catalogue and the configuration directory of
// sources: first those about whole files, then those of the lines in file order. A missing
// file or directory is no finding: the backend reads nothing there, as on a fresh machine.
std::vector<Finding> check_configuration(const QuerySources& sources);

// The finding as one JSON object and a line feed:
// {"line":N,"kind":"..","name":".."|null,"text":".."|null,"message":".."}.
void append_finding_json(std::string& out, const Finding& finding);

// The finding for a person, as compilers print theirs: "LINE: KIND: message" and a line feed.
void append_finding_text(std::string& out, const Finding& finding);

}  // namespace lumora
