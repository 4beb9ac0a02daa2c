// The sandbox's directories and files, and the base of the end-to-end tests.
#include "sandbox/sandbox.h"

#include <sys/stat.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "support/file_text.h"

namespace fs = std::filesystem;

namespace lumora::testing {
namespace {

constexpr const char* kPathFakes[] = {"ping", "sane-find-scanner", "scanimage"};
constexpr const char* kExternalTools[] = {"/opt/kelvane/scanner/lumora/lumora_gnetconfig",
                                          "/opt/kelvane/scanner/lumora/lumora_cnetconfig"};

bool under(std::string_view path, std::string_view dir) {
  return path == dir || (path.size() > dir.size() && path.substr(0, dir.size()) == dir &&
                         path[dir.size()] == '/');
}

// The per-test directories must stay reachable once /tmp, /opt and /etc/opt are covered.
std::string sandbox_base() {
  const char* chosen = std::getenv("LUMORA_SANDBOX_BASE");
  std::string base = chosen && *chosen ? chosen : "/var/tmp";
  base = fs::absolute(base).lexically_normal().string();
  if (under(base, "/tmp") || under(base, "/opt") || under(base, "/etc/opt")) base = "/var/tmp";
  return base;
}

}  // namespace

Sandbox::Sandbox() {
  std::string pattern = sandbox_base() + "/lumora-e2e-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp " + pattern);
  root_ = pattern;
  for (const char* dir : {"etc_opt", "opt", "tmp", "fakebin", "record"}) {
    fs::create_directories(root_ + "/" + dir);
  }
  fs::permissions(root_ + "/tmp", fs::perms::all | fs::perms::sticky_bit);
  fs::permissions(root_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                             fs::perms::others_read | fs::perms::others_exec);
  make_dir("/etc/opt/kelvane/scanner/lumora");
  for (const char* fake : kPathFakes) install_fake(fake);
  for (const char* tool : kExternalTools) install_fake(tool);
}

Sandbox::~Sandbox() {
  const char* keep = std::getenv("LUMORA_KEEP_SANDBOX");
  if (keep != nullptr && *keep != '\0') return;
  std::error_code ignored;
  fs::remove_all(root_, ignored);
}

std::string Sandbox::host_path(std::string_view inside) const {
  const std::pair<std::string_view, std::string_view> map[] = {
      {"/etc/opt", "/etc_opt"}, {"/opt", "/opt"}, {"/tmp", "/tmp"}};
  for (const auto& [prefix, dir] : map) {
    if (under(inside, prefix)) {
      return root_ + std::string(dir) + std::string(inside.substr(prefix.size()));
    }
  }
  throw std::invalid_argument("not a sandboxed path: " + std::string(inside));
}

void Sandbox::write_file(std::string_view inside, std::string_view content, mode_t mode) const {
  write_whole_file(host_path(inside), content, mode);
}

std::string Sandbox::read_file(std::string_view inside) const { return read_whole_file(host_path(inside)); }

bool Sandbox::exists(std::string_view inside) const {
  struct stat info {};
  return ::lstat(host_path(inside).c_str(), &info) == 0;
}

void Sandbox::make_dir(std::string_view inside, mode_t mode) const {
  const std::string path = host_path(inside);
  fs::create_directories(path);
  ::chmod(path.c_str(), mode);
}

std::vector<std::string> Sandbox::tmp_entries() const {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(root_ + "/tmp")) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

void SandboxTest::SetUp() {
  const std::string reason = Sandbox::unavailable_reason();
  if (!reason.empty()) {
    const char* ci = std::getenv("CI");
    if (ci != nullptr && *ci != '\0') FAIL() << "end-to-end sandbox unavailable in CI: " << reason;
    GTEST_SKIP() << "end-to-end sandbox unavailable: " << reason;
  }
  sandbox_ = std::make_unique<Sandbox>();
}

std::string SandboxTest::config() const { return sandbox_->read_file(kConfigPath); }

void SandboxTest::write_config(std::string_view content) const {
  sandbox_->write_file(kConfigPath, content);
}

}  // namespace lumora::testing
