// A scratch directory for unit tests, made under /var/tmp (never the host's /tmp) and removed
// with everything in it when the owner goes.
#pragma once

#include <string>
#include <string_view>

namespace lumora::testing {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // Writes content to name inside the directory (parents made) and returns its full path.
  std::string write(std::string_view name, std::string_view content) const;

 private:
  std::string path_;
};

}  // namespace lumora::testing
