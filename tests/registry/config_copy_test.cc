#include "registry/config_copy.h"

#include <gtest/gtest.h>

#include <string>

namespace lumora {
namespace {

std::string path_for(const std::string& word, std::size_t size = 512) {
  char buffer[512];
  return config_copy_path(word.c_str(), buffer, size) == 1 ? std::string(buffer) : "<refused>";
}

TEST(ConfigCopyPath, TheLabelIsEverythingAfterTheColon) {
  const std::pair<std::string, std::string> cases[] = {
      {"-s:office", "/etc/opt/kelvane/scanner/lumora/office.lumoraconf"},
      {"-l:office", "/etc/opt/kelvane/scanner/lumora/office.lumoraconf"},
      {"-s:", "/etc/opt/kelvane/scanner/lumora/.lumoraconf"},
      {"-s: home", "/etc/opt/kelvane/scanner/lumora/ home.lumoraconf"},
      {" \t-s:x", "/etc/opt/kelvane/scanner/lumora/x.lumoraconf"},
      {"-s:..", "/etc/opt/kelvane/scanner/lumora/...lumoraconf"},
      {"-s:a/b", "<refused>"},
      {"-s:/etc/passwd", "<refused>"},
  };
  for (const auto& [word, path] : cases) EXPECT_EQ(path_for(word), path) << word;
}

TEST(ConfigCopyPath, RefusesSmallBuffersAndLabelsThatDoNotFit) {
  EXPECT_EQ(path_for("-s:x", 47), "<refused>");
  EXPECT_EQ(path_for("-s:x", 48), "/etc/opt/kelvane/scanner/lumora/x.lumoraconf");
  // 32 bytes of directory, 11 of suffix and the terminator leave 468 for the label.
  EXPECT_NE(path_for("-s:" + std::string(468, 'l')), "<refused>");
  EXPECT_EQ(path_for("-s:" + std::string(469, 'l')), "<refused>");
}

}  // namespace
}  // namespace lumora
