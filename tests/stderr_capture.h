#ifndef VELMORAN_TESTS_STDERR_CAPTURE_H_
#define VELMORAN_TESTS_STDERR_CAPTURE_H_

#include <cstdio>
#include <string>
#include <vector>

namespace velmoran_testing {

// Captures everything written to the process's standard error while it is alive, at the level
// of file descriptor 2, so that std::cerr and stdio writes are both seen, exactly as a terminal
// or a log file would see them. Not reentrant: one capture at a time.
class StderrCapture {
 public:
  StderrCapture();
  ~StderrCapture();
  StderrCapture(const StderrCapture&) = delete;
  StderrCapture& operator=(const StderrCapture&) = delete;

  // Stops capturing (if still capturing) and returns all that was written.
  std::string Finish();

 private:
  std::FILE* sink_ = nullptr;
  int saved_fd_ = -1;
  std::string captured_;
};

// What a statement writes to standard error, split into lines (without their ends of line).
template <typename Statement>
std::vector<std::string> StderrLinesOf(Statement&& statement);

// Splits captured text into lines; a final line without an end of line is kept as well.
std::vector<std::string> SplitLines(const std::string& text);

template <typename Statement>
std::vector<std::string> StderrLinesOf(Statement&& statement) {
  StderrCapture capture;
  statement();
  return SplitLines(capture.Finish());
}

}  // namespace velmoran_testing

#endif  // VELMORAN_TESTS_STDERR_CAPTURE_H_
