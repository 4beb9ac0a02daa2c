// lumoraconf-query check on arbitrary device file contents: the backend's reader, piece by
// piece, and every finding made of what it read, beside a catalogue of two models. Each
// finding must name a line the file has and hold that line's bytes, name no more than the 63
// bytes the reader keeps, and print as exactly one JSON line and one text line.
//
// The labelled copies and pending files are looked for in an empty scratch directory, so
// what is fuzzed is the file alone. The flags of device_file.flags apply for the same reason
// (config_check.flags): every piece is checked against the lines before it.
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "query/config_check.h"

using lumora::fuzz::fail;

namespace {

struct Setting {
  lumora::fuzz::MemFile file;
  std::string config_dir = lumora::fuzz::scratch_dir() + "/config/";
  std::string models_dir = lumora::fuzz::scratch_dir() + "/models";
  std::string default_catalogue = lumora::fuzz::scratch_dir() + "/Lumsane.ini";
  lumora::QuerySources sources;

  Setting() {
    lumora::fuzz::write_file(default_catalogue,
                             "[Support Model]\n"
                             "0x2e5a:0x500,1,0,\"LX-500\",1,1,a,b,c\n"
                             "0x2e5a:0x700,1,0,\"LX-700\",1,1,a,b,c\n");
    if (::mkdir(config_dir.c_str(), 0755) != 0) fail("cannot make the configuration directory");
    sources.config_file = file.path().c_str();
    sources.config_dir = config_dir.c_str();
    sources.models_dir = models_dir.c_str();
    sources.default_catalogue = default_catalogue.c_str();
  }
};

// The file's lines without their line feeds; the last one may have none.
std::vector<std::string_view> lines_of(std::string_view content) {
  std::vector<std::string_view> lines;
  while (!content.empty()) {
    const std::size_t end = std::min(content.find('\n'), content.size());
    lines.push_back(content.substr(0, end));
    content.remove_prefix(std::min(end + 1, content.size()));
  }
  return lines;
}

bool one_line(const std::string& text) {
  return !text.empty() && text.back() == '\n' && text.find('\n') == text.size() - 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Setting setting;
  setting.file.set(data, size);
  // A memfd is made writable by everyone; the backend's file is not.
  if (::chmod(setting.file.path().c_str(), 0644) != 0) fail("cannot chmod the input");

  const std::string_view content(reinterpret_cast<const char*>(data), size);
  const std::vector<std::string_view> lines = lines_of(content);
  std::size_t last_line = 0;
  for (const lumora::Finding& finding : lumora::check_configuration(setting.sources)) {
    if (finding.line == 0) {
      fail("a finding about a whole file on a sound file",
           std::string(lumora::finding_kind_name(finding.kind)) + ": " + finding.message);
    }
    if (finding.line < last_line) fail("findings out of line order");
    last_line = finding.line;
    if (finding.line > lines.size()) fail("a finding on a line the file does not have");
    if (!finding.text || *finding.text != lines[finding.line - 1]) {
      fail("a finding whose text is not its line's", finding.message);
    }
    if (finding.name && (finding.name->empty() || finding.name->size() > 63)) {
      fail("a finding names what the reader cannot have read", *finding.name);
    }
    std::string json;
    lumora::append_finding_json(json, finding);
    std::string text;
    lumora::append_finding_text(text, finding);
    if (!one_line(json)) fail("a JSON finding is not one line", json);
    if (!one_line(text)) fail("a text finding is not one line", text);
  }
  return 0;
}
