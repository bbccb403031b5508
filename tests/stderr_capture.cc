#include "tests/stderr_capture.h"

#include <cstdlib>
#include <iostream>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#define VELMORAN_DUP _dup
#define VELMORAN_DUP2 _dup2
#define VELMORAN_CLOSE _close
#define VELMORAN_FILENO _fileno
#else
#include <unistd.h>
#define VELMORAN_DUP dup
#define VELMORAN_DUP2 dup2
#define VELMORAN_CLOSE close
#define VELMORAN_FILENO fileno
#endif

namespace velmoran_testing {

namespace {
void FlushStandardError() {
  std::cerr.flush();
  std::fflush(stderr);
}

// A temporary file deleted when closed. msvcrt's tmpfile() names its files in the root of the
// drive with a per-process counter, so two test processes running at once collide there.
std::FILE* OpenTemporaryFile() {
#ifdef _WIN32
  wchar_t directory[MAX_PATH + 1];
  wchar_t path[MAX_PATH + 1];
  if (GetTempPathW(MAX_PATH + 1, directory) == 0 ||
      GetTempFileNameW(directory, L"vel", 0, path) == 0) {
    return nullptr;
  }
  return _wfopen(path, L"w+bD");
#else
  return std::tmpfile();
#endif
}

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stdout, "StderrCapture: %s failed\n", what);
  std::fflush(stdout);
  std::abort();
}
}  // namespace

StderrCapture::StderrCapture() {
  FlushStandardError();
  sink_ = OpenTemporaryFile();
  if (sink_ == nullptr) Fail("creating a temporary file");
  saved_fd_ = VELMORAN_DUP(2);
  if (saved_fd_ < 0) Fail("dup");
  if (VELMORAN_DUP2(VELMORAN_FILENO(sink_), 2) < 0) Fail("dup2");
}

StderrCapture::~StderrCapture() { Finish(); }

std::string StderrCapture::Finish() {
  if (sink_ == nullptr) return captured_;
  FlushStandardError();
  VELMORAN_DUP2(saved_fd_, 2);
  VELMORAN_CLOSE(saved_fd_);
  saved_fd_ = -1;
  std::rewind(sink_);
  char buffer[4096];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, sink_)) > 0) captured_.append(buffer, got);
  std::fclose(sink_);
  sink_ = nullptr;
  return captured_;
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

}  // namespace velmoran_testing
