// The recording fakes of external commands and the wrappers of system ones.
#include "sandbox/sandbox.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/file_text.h"

namespace fs = std::filesystem;

namespace lumora::testing {
namespace {

constexpr const char* kSystemPath = "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin";

std::vector<std::string> read_lines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(path, std::ios::binary);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Single-quotes text for the fake scripts.
std::string sh_quote(std::string_view text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') quoted += "'\\''";
    else quoted += c;
  }
  return quoted + "'";
}

}  // namespace

std::string Sandbox::fake_host_path(std::string_view name) const {
  if (!name.empty() && name[0] == '/') return host_path(name);
  return root_ + "/fakebin/" + std::string(name);
}

std::string Sandbox::record_path(std::string_view name) const {
  std::string file(name);
  std::replace(file.begin(), file.end(), '/', '_');
  return root_ + "/record/" + file + ".calls";
}

void Sandbox::install_fake(std::string_view name, int status, std::string_view output) const {
  const std::string label(name.substr(name.rfind('/') == std::string_view::npos ? 0 : name.rfind('/') + 1));
  std::string script =
      "#!/bin/sh\n"
      "line=" + sh_quote(label) + "\n"
      "for a in \"$@\"; do line=\"$line [$a]\"; done\n"
      "printf '%s\\n' \"$line\" >> " + sh_quote(record_path(name)) + "\n"
      "printf '%s\\n' \"$line\" >> " + sh_quote(root_ + "/record/all.calls") + "\n";
  if (!output.empty()) script += "printf '%s' " + sh_quote(output) + "\n";
  script += "exit " + std::to_string(status) + "\n";
  write_whole_file(fake_host_path(name), script, 0755);
}

void Sandbox::remove_fake(std::string_view name) const {
  std::error_code ignored;
  fs::remove(fake_host_path(name), ignored);
}

std::vector<std::string> Sandbox::calls(std::string_view name) const {
  return read_lines(record_path(name));
}

std::vector<std::string> Sandbox::all_calls() const { return read_lines(root_ + "/record/all.calls"); }

std::string Sandbox::tool_path_env() const { return root_ + "/fakebin:" + kSystemPath; }

void Sandbox::install_wrapper(std::string_view name) const {
  const std::string script =
      "#!/bin/sh\n"
      "line=" + sh_quote(name) + "\n"
      "for a in \"$@\"; do line=\"$line [$a]\"; done\n"
      "printf '%s\\n' \"$line\" >> " + sh_quote(record_path(name)) + "\n"
      "printf '%s\\n' \"$line\" >> " + sh_quote(root_ + "/record/all.calls") + "\n"
      "PATH=" + kSystemPath + "; export PATH\n"
      "exec " + sh_quote(name) + " \"$@\"\n";
  write_whole_file(fake_host_path(name), script, 0755);
}

}  // namespace lumora::testing
