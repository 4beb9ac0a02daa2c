// What the code under test prints on standard output, taken at the descriptor, so that the
// stdio buffer, the tool's own printf and the shell commands it runs are all seen in order.
#pragma once

#include <gtest/gtest.h>

#include <string>

namespace lumora::testing {

// From construction until text() (or destruction), standard output goes to a scratch file
// under /var/tmp instead of the test's own output.
class OutputCapture {
 public:
  OutputCapture();
  ~OutputCapture();
  OutputCapture(const OutputCapture&) = delete;
  OutputCapture& operator=(const OutputCapture&) = delete;

  // Ends the capture and returns what was printed; later calls return the same text.
  const std::string& text();

 private:
  void restore();

  int saved_fd_ = -1;
  int file_fd_ = -1;
  std::string text_;
};

}  // namespace lumora::testing

// Runs statement and expects it to print exactly expected on standard output.
#define EXPECT_PRINTS(statement, expected)                   \
  do {                                                       \
    ::lumora::testing::OutputCapture lumora_capture_;        \
    statement;                                               \
    EXPECT_EQ(lumora_capture_.text(), expected) << #statement; \
  } while (false)
