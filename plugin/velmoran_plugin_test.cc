#include "plugin/velmoran_plugin.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include <gtest/gtest.h>

#include "codec/encodable_value.h"
#include "engine/plugin.h"
#include "method/method_call.h"
#include "method/method_result.h"
#include "tests/stderr_capture.h"
#include "winver/winver.h"
#include "winver/winver_emulation.h"

namespace velmoran {
namespace {

using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;
using flutter::MethodCall;
using flutter::MethodResult;

static_assert(std::is_base_of_v<flutter::Plugin, VelmoranPlugin>);
static_assert(std::has_virtual_destructor_v<VelmoranPlugin>);

// What a result went through, kept outside the result so that it can be read after the plugin
// has destroyed it.
struct ResultLog {
  int successes = 0;
  int errors = 0;
  int not_implemented = 0;
  bool success_had_value = false;
  EncodableValue success_value;
  bool destroyed = false;
  int answers_at_destruction = -1;

  int answers() const { return successes + errors + not_implemented; }
};

class RecordingResult : public MethodResult<> {
 public:
  explicit RecordingResult(ResultLog* log) : log_(log) {}
  ~RecordingResult() override {
    log_->destroyed = true;
    log_->answers_at_destruction = log_->answers();
  }

 protected:
  void OnSuccess(const EncodableValue* result) override {
    ++log_->successes;
    log_->success_had_value = result != nullptr;
    if (result != nullptr) {
      log_->success_value = *result;
    }
  }
  void OnError(const std::string&, const std::string&, const EncodableValue*) override {
    ++log_->errors;
  }
  void OnNotImplemented() override { ++log_->not_implemented; }

 private:
  ResultLog* log_;
};

// One version check as the plugin made it, with a copy of the record it passed.
struct Probe {
  OSVERSIONINFOEXW record;
  bool record_present;
  DWORD type_mask;
  DWORDLONG condition_mask;
  BOOL result;
};

void RecordProbe(void* user_data, const OSVERSIONINFOEXW* record, DWORD type_mask,
                 DWORDLONG condition_mask, BOOL result) {
  Probe probe;
  std::memset(&probe.record, 0, sizeof(probe.record));
  probe.record_present = record != nullptr;
  if (record != nullptr) {
    std::memcpy(&probe.record, record, sizeof(probe.record));
  }
  probe.type_mask = type_mask;
  probe.condition_mask = condition_mask;
  probe.result = result;
  static_cast<std::vector<Probe>*>(user_data)->push_back(probe);
}

struct Outcome {
  ResultLog log;
  // Whether the result was already gone when OnMethodCall came back, checked before the
  // caller's expression ends (some ABIs destroy by-value arguments only then).
  bool destroyed_on_return = false;
  std::vector<std::string> stderr_lines;
};

struct VersionTriple {
  DWORD major;
  DWORD minor;
  WORD service_pack_major;
};

// Every test runs on a chosen emulated system and sees every version check the plugin makes.
class VelmoranPluginTest : public ::testing::Test {
 protected:
  void SetUp() override {
    VelmoranResetEmulatedWindowsVersion();
    VelmoranSetVersionCheckObserver(&RecordProbe, &probes_);
  }
  void TearDown() override {
    VelmoranSetVersionCheckObserver(nullptr, nullptr);
    VelmoranResetEmulatedWindowsVersion();
  }

  Outcome Call(const std::string& method, std::unique_ptr<EncodableValue> arguments) {
    const MethodCall<> call(method, std::move(arguments));
    Outcome outcome;
    outcome.stderr_lines = velmoran_testing::StderrLinesOf([&] {
      auto result = std::make_unique<RecordingResult>(&outcome.log);
      outcome.destroyed_on_return =
          (plugin_.OnMethodCall(call, std::move(result)), outcome.log.destroyed);
    });
    return outcome;
  }

  std::vector<VersionTriple> ProbedVersions() const {
    std::vector<VersionTriple> versions;
    for (const Probe& probe : probes_) {
      versions.push_back({probe.record.dwMajorVersion, probe.record.dwMinorVersion,
                          probe.record.wServicePackMajor});
    }
    return versions;
  }

  VelmoranPlugin plugin_;
  std::vector<Probe> probes_;
};

// The one acceptable shape of an answer to "getPlatformVersion".
void ExpectVersionAnswer(const Outcome& outcome, const std::string& expected_text) {
  EXPECT_EQ(outcome.log.successes, 1);
  EXPECT_EQ(outcome.log.errors, 0);
  EXPECT_EQ(outcome.log.not_implemented, 0);
  EXPECT_TRUE(outcome.log.success_had_value);
  const std::string* text = outcome.log.success_value.GetIf<std::string>();
  ASSERT_NE(text, nullptr) << "the answer must be the string alternative, index "
                           << outcome.log.success_value.index() << " seen";
  EXPECT_EQ(*text, expected_text);
  EXPECT_TRUE(outcome.destroyed_on_return);
  EXPECT_EQ(outcome.log.answers_at_destruction, 1);
  EXPECT_TRUE(outcome.stderr_lines.empty());
}

constexpr std::size_t kMaxProbes = 3;

struct VersionCase {
  const char* what;
  VelmoranWindowsVersion system;
  const char* expected_text;
  std::size_t probe_count;
  VersionTriple probes[kMaxProbes];
};

constexpr VersionTriple kAtLeast10 = {10, 0, 0};
constexpr VersionTriple kAtLeast8 = {6, 2, 0};
constexpr VersionTriple kAtLeast7 = {6, 1, 0};

constexpr VersionCase kVersionCases[] = {
    {"Windows 10", {10, 0, 19045, 0, 0}, "10", 1, {kAtLeast10}},
    {"Windows 11 also reports 10.0", {10, 0, 22631, 0, 0}, "10", 1, {kAtLeast10}},
    {"a later minor of 10", {10, 1, 0, 0, 0}, "10", 1, {kAtLeast10}},
    {"a later major", {11, 0, 0, 0, 0}, "10", 1, {kAtLeast10}},
    {"Windows 8.1", {6, 3, 9600, 0, 0}, "8", 2, {kAtLeast10, kAtLeast8}},
    {"Windows 8", {6, 2, 9200, 0, 0}, "8", 2, {kAtLeast10, kAtLeast8}},
    {"a major between 6 and 10", {9, 0, 0, 0, 0}, "8", 2, {kAtLeast10, kAtLeast8}},
    {"Windows 7 SP1", {6, 1, 7601, 1, 0}, "7", 3, {kAtLeast10, kAtLeast8, kAtLeast7}},
    {"Windows 7", {6, 1, 7600, 0, 0}, "7", 3, {kAtLeast10, kAtLeast8, kAtLeast7}},
    {"Vista SP2", {6, 0, 6002, 2, 0}, "", 3, {kAtLeast10, kAtLeast8, kAtLeast7}},
    {"XP SP3", {5, 1, 2600, 3, 0}, "", 3, {kAtLeast10, kAtLeast8, kAtLeast7}},
    {"nothing at all", {0, 0, 0, 0, 0}, "", 3, {kAtLeast10, kAtLeast8, kAtLeast7}},
};

TEST_F(VelmoranPluginTest, ClassifiesTheReleaseProbingInOrderUntilOneSucceeds) {
  for (const VersionCase& row : kVersionCases) {
    SCOPED_TRACE(row.what);
    probes_.clear();
    VelmoranSetEmulatedWindowsVersion(&row.system);

    const Outcome outcome = Call("getPlatformVersion", nullptr);

    ExpectVersionAnswer(outcome, row.expected_text);
    const std::vector<VersionTriple> probed = ProbedVersions();
    ASSERT_EQ(probed.size(), row.probe_count);
    for (std::size_t i = 0; i < probed.size(); ++i) {
      SCOPED_TRACE("probe " + std::to_string(i));
      EXPECT_EQ(probed[i].major, row.probes[i].major);
      EXPECT_EQ(probed[i].minor, row.probes[i].minor);
      EXPECT_EQ(probed[i].service_pack_major, row.probes[i].service_pack_major);
      // Probing stops at the first success, so only a last probe that found a text succeeded.
      const bool last = i + 1 == probed.size();
      const bool should_succeed = last && std::string(row.expected_text) != "";
      EXPECT_EQ(probes_[i].result != 0, should_succeed);
    }
  }
}

TEST_F(VelmoranPluginTest, EachProbeAsksExactlyForTheThreeFieldsAtLeast) {
  // Old enough that all three probes run.
  VelmoranEmulateWindowsVersion(5, 1, 3);
  const Outcome outcome = Call("getPlatformVersion", nullptr);
  ExpectVersionAnswer(outcome, "");
  ASSERT_EQ(probes_.size(), 3u);

  for (std::size_t i = 0; i < probes_.size(); ++i) {
    SCOPED_TRACE("probe " + std::to_string(i));
    const Probe& probe = probes_[i];
    ASSERT_TRUE(probe.record_present);
    EXPECT_EQ(probe.record.dwOSVersionInfoSize, 284u);
    EXPECT_EQ(probe.type_mask, 0x23u);
    EXPECT_EQ(probe.condition_mask,
              (DWORDLONG{3} << 3) | (DWORDLONG{3} << 0) | (DWORDLONG{3} << 15));

    // Clear what the probe sets; every other byte must have been zero.
    OSVERSIONINFOEXW rest = probe.record;
    rest.dwOSVersionInfoSize = 0;
    rest.dwMajorVersion = 0;
    rest.dwMinorVersion = 0;
    rest.wServicePackMajor = 0;
    unsigned char bytes[sizeof(rest)];
    std::memcpy(bytes, &rest, sizeof(rest));
    for (std::size_t offset = 0; offset < sizeof(bytes); ++offset) {
      EXPECT_EQ(bytes[offset], 0) << "byte " << offset;
    }
  }
}

TEST_F(VelmoranPluginTest, AnswersOtherMethodsAsNotImplementedWithoutProbing) {
  struct Case {
    const char* bytes;
    std::size_t size;
  };
  static constexpr Case kNames[] = {
      {"getplatformversion", 18},
      {"GetPlatformVersion", 18},
      {"getPlatformversion", 18},
      {"GETPLATFORMVERSION", 18},
      {"getPlatformVersion ", 19},
      {" getPlatformVersion", 19},
      {"getPlatformVersion\0", 19},
      {"getPlatformVersion\0x", 20},
      {"getPlatformVersio", 17},
      {"getPlatform", 11},
      {"", 0},
      {"\0", 1},
      {"getBatteryLevel", 15},
  };
  VelmoranEmulateWindowsVersion(6, 1, 0);
  for (const Case& row : kNames) {
    const std::string name(row.bytes, row.size);
    SCOPED_TRACE("name '" + name + "' of " + std::to_string(row.size) + " bytes");
    probes_.clear();
    const Outcome outcome = Call(name, std::make_unique<EncodableValue>());
    EXPECT_EQ(outcome.log.not_implemented, 1);
    EXPECT_EQ(outcome.log.successes, 0);
    EXPECT_EQ(outcome.log.errors, 0);
    EXPECT_TRUE(outcome.destroyed_on_return);
    EXPECT_EQ(outcome.log.answers_at_destruction, 1);
    EXPECT_TRUE(outcome.stderr_lines.empty());
    EXPECT_TRUE(probes_.empty());
  }
}

TEST_F(VelmoranPluginTest, IgnoresTheArguments) {
  std::vector<std::unique_ptr<EncodableValue>> arguments;
  arguments.push_back(nullptr);
  arguments.push_back(std::make_unique<EncodableValue>());
  arguments.push_back(std::make_unique<EncodableValue>(
      EncodableMap{{EncodableValue("major"), EncodableValue(int32_t{10})}}));
  arguments.push_back(std::make_unique<EncodableValue>(
      EncodableList{EncodableValue("10"), EncodableValue(int64_t{10})}));
  arguments.push_back(std::make_unique<EncodableValue>("10"));
  arguments.push_back(std::make_unique<EncodableValue>(std::vector<uint8_t>{0, 1, 2}));

  // A release whose answer differs from anything the arguments could suggest.
  VelmoranEmulateWindowsVersion(6, 3, 0);
  for (std::unique_ptr<EncodableValue>& argument : arguments) {
    SCOPED_TRACE(argument == nullptr
                     ? std::string("no arguments")
                     : "arguments of alternative " + std::to_string(argument->index()));
    probes_.clear();
    const Outcome outcome = Call("getPlatformVersion", std::move(argument));
    ExpectVersionAnswer(outcome, "8");
    EXPECT_EQ(probes_.size(), 2u);
  }
}

TEST_F(VelmoranPluginTest, ProbesAgainOnEveryCall) {
  VelmoranEmulateWindowsVersion(10, 0, 0);
  const Outcome first = Call("getPlatformVersion", nullptr);
  ExpectVersionAnswer(first, "10");
  EXPECT_EQ(probes_.size(), 1u);

  VelmoranEmulateWindowsVersion(6, 1, 0);
  const Outcome second = Call("getPlatformVersion", nullptr);
  ExpectVersionAnswer(second, "7");
  EXPECT_EQ(probes_.size(), 4u);

  VelmoranEmulateWindowsVersion(10, 0, 0);
  const Outcome third = Call("getPlatformVersion", nullptr);
  ExpectVersionAnswer(third, "10");
  EXPECT_EQ(probes_.size(), 5u);
}

}  // namespace
}  // namespace velmoran
