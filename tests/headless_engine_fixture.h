#ifndef VELMORAN_TESTS_HEADLESS_ENGINE_FIXTURE_H_
#define VELMORAN_TESTS_HEADLESS_ENGINE_FIXTURE_H_

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "host/headless_engine.h"

namespace velmoran_testing {

// A headless engine whose misuse reports are collected instead of aborting, and checked to be
// none at the end of every test: a test passes only if the code under test used the engine
// interface correctly.
class HeadlessEngineTest : public ::testing::Test {
 protected:
  HeadlessEngineTest()
      : previous_handler_(velmoran_host::SetMisuseHandler([this](const std::string& what) {
          std::lock_guard<std::mutex> guard(misuse_mutex_);
          misuses_.push_back(what);
        })),
        engine_(std::make_unique<velmoran_host::HeadlessEngine>()) {}

  ~HeadlessEngineTest() override {
    engine_.reset();
    velmoran_host::SetMisuseHandler(previous_handler_);
    EXPECT_TRUE(misuses_.empty()) << "engine misuse: " << misuses_.front();
  }

  // Misuse reports so far, for tests that provoke one on purpose; clears them.
  std::vector<std::string> TakeMisuses() {
    std::lock_guard<std::mutex> guard(misuse_mutex_);
    std::vector<std::string> taken;
    taken.swap(misuses_);
    return taken;
  }

  velmoran_host::HeadlessEngine& engine() { return *engine_; }

 private:
  velmoran_host::MisuseHandler previous_handler_;
  std::mutex misuse_mutex_;
  std::vector<std::string> misuses_;

 protected:
  std::unique_ptr<velmoran_host::HeadlessEngine> engine_;
};

}  // namespace velmoran_testing

#endif  // VELMORAN_TESTS_HEADLESS_ENGINE_FIXTURE_H_
