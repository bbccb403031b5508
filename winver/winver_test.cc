#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "winver/winver.h"
#include "winver/winver_emulation.h"

namespace {

// Every test starts and ends on the default emulated system, with no observer.
class WinverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    VelmoranResetEmulatedWindowsVersion();
    VelmoranSetVersionCheckObserver(nullptr, nullptr);
  }
  void TearDown() override {
    VelmoranResetEmulatedWindowsVersion();
    VelmoranSetVersionCheckObserver(nullptr, nullptr);
  }
};

using ConditionMaskTest = WinverTest;
using VerifyVersionInfoTest = WinverTest;
using EmulationTest = WinverTest;

TEST_F(ConditionMaskTest, PacksThreeBitsPerTypeFlag) {
  struct Case {
    const char* what;
    ULONGLONG mask;
    DWORD type;
    BYTE condition;
    ULONGLONG expected;
  };
  static constexpr Case kCases[] = {
      {"minor version, bits 0-2", 0, VER_MINORVERSION, 1, 0x1},
      {"major version, bits 3-5", 0, VER_MAJORVERSION, 2, 0x10},
      {"build number, bits 6-8", 0, VER_BUILDNUMBER, 3, 0xC0},
      {"platform id, bits 9-11", 0, VER_PLATFORMID, 4, 0x800},
      {"service-pack minor, bits 12-14", 0, VER_SERVICEPACKMINOR, 5, 0x5000},
      {"service-pack major, bits 15-17", 0, VER_SERVICEPACKMAJOR, 6, 0x30000},
      {"suite name, bits 18-20", 0, VER_SUITENAME, 7, 0x1C0000},
      {"product type, bits 21-23", 0, VER_PRODUCT_TYPE, 1, 0x200000},
      {"keeps the other fields", 0x3, VER_MAJORVERSION, 3, 0x1B},
      {"keeps bits above the known fields", 0x8000000000000000, VER_MINORVERSION, 1,
       0x8000000000000001},
      {"condition 0 changes nothing", 0xABC, VER_MAJORVERSION, 0, 0xABC},
      {"only the low three bits of the condition count", 0, VER_MAJORVERSION, 0x0B, 0x18},
      {"all condition bits set gives 7", 0, VER_MINORVERSION, 0xFF, 0x7},
      {"a condition whose low bits are 0 changes nothing", 0x5, VER_MAJORVERSION, 0x08, 0x5},
      {"no type flag changes nothing", 0x7, 0, 3, 0x7},
      {"an unknown type flag changes nothing", 0, 0x100, 3, 0},
      {"several flags: the highest is set", 0, VER_MAJORVERSION | VER_MINORVERSION, 3, 0x18},
      {"several flags: service-pack major wins", 0,
       VER_MAJORVERSION | VER_MINORVERSION | VER_SERVICEPACKMAJOR, 3, 0x18000},
      {"unknown flags beside a known one are ignored", 0, 0x100 | VER_MINORVERSION, 3, 0x3},
      {"a second condition for one flag is added to the first", 0x18, VER_MAJORVERSION, VER_LESS,
       0x38},
  };
  for (const Case& row : kCases) {
    SCOPED_TRACE(row.what);
    EXPECT_EQ(VerSetConditionMask(row.mask, row.type, row.condition), row.expected);
  }
}

TEST_F(ConditionMaskTest, ChainedCallsBuildTheUsualAtLeastMask) {
  ULONGLONG mask = VerSetConditionMask(0, VER_MAJORVERSION, VER_GREATER_EQUAL);
  mask = VerSetConditionMask(mask, VER_MINORVERSION, VER_GREATER_EQUAL);
  mask = VerSetConditionMask(mask, VER_SERVICEPACKMAJOR, VER_GREATER_EQUAL);
  EXPECT_EQ(mask, ULONGLONG{0x1801B});
}

// The fields of a request; everything else in the record stays zero.
// Fields left out of an initializer are zero.
struct Request {
  DWORD major = 0;
  DWORD minor = 0;
  WORD service_pack_major = 0;
  WORD service_pack_minor = 0;
  DWORD build = 0;
  DWORD platform = 0;
  BYTE product = 0;
  WORD suite = 0;
};

OSVERSIONINFOEXW MakeRecord(const Request& request) {
  OSVERSIONINFOEXW record;
  std::memset(&record, 0, sizeof(record));
  record.dwOSVersionInfoSize = sizeof(record);
  record.dwMajorVersion = request.major;
  record.dwMinorVersion = request.minor;
  record.wServicePackMajor = request.service_pack_major;
  record.wServicePackMinor = request.service_pack_minor;
  record.dwBuildNumber = request.build;
  record.dwPlatformId = request.platform;
  record.wProductType = request.product;
  record.wSuiteMask = request.suite;
  return record;
}

// A flag of 0 marks an unused slot.
struct FlagCondition {
  DWORD flag = 0;
  BYTE condition = 0;
};

// Asks the stand-in about request under the listed conditions, the way a caller builds the
// masks: one VerSetConditionMask per named field. Rows with fewer conditions end in {0, 0}.
template <size_t N>
BOOL Verify(const Request& request, const FlagCondition (&conditions)[N]) {
  OSVERSIONINFOEXW record = MakeRecord(request);
  DWORD type_mask = 0;
  ULONGLONG condition_mask = 0;
  for (const FlagCondition& entry : conditions) {
    if (entry.flag != 0) {
      type_mask |= entry.flag;
      condition_mask = VerSetConditionMask(condition_mask, entry.flag, entry.condition);
    }
  }
  return VerifyVersionInfoW(&record, type_mask, condition_mask);
}

constexpr DWORD kMaj = VER_MAJORVERSION;
constexpr DWORD kMin = VER_MINORVERSION;
constexpr DWORD kSpMaj = VER_SERVICEPACKMAJOR;
constexpr DWORD kSpMin = VER_SERVICEPACKMINOR;
constexpr BYTE kGe = VER_GREATER_EQUAL;

constexpr VelmoranWindowsVersion kWin10 = {10, 0, 19045, 0, 0};
constexpr VelmoranWindowsVersion kWin81 = {6, 3, 9600, 0, 0};
constexpr VelmoranWindowsVersion kWin8 = {6, 2, 9200, 0, 0};
constexpr VelmoranWindowsVersion kWin7Sp1 = {6, 1, 7601, 1, 0};
constexpr VelmoranWindowsVersion kVistaSp2 = {6, 0, 6002, 2, 0};
constexpr VelmoranWindowsVersion kXpSp3 = {5, 1, 2600, 3, 0};
constexpr VelmoranWindowsVersion kWin7Sp1Point2 = {6, 1, 7601, 1, 2};

TEST_F(VerifyVersionInfoTest, ComparesTheVersionFieldsAsOneNumber) {
  struct Case {
    const char* what;
    VelmoranWindowsVersion system;
    Request request;
    FlagCondition conditions[4];
    BOOL expected;
  };
  static constexpr Case kCases[] = {
      {"10.0 is at least 6.3 although its minor is lower",
       kWin10,
       {6, 3, 0, 0},
       {{kMaj, kGe}, {kMin, kGe}, {kSpMaj, kGe}},
       1},
      {"10.0 is at least 10.0",
       kWin10,
       {10, 0, 0, 0},
       {{kMaj, kGe}, {kMin, kGe}, {kSpMaj, kGe}},
       1},
      {"10.0 is not at least 10.1",
       kWin10,
       {10, 1, 0, 0},
       {{kMaj, kGe}, {kMin, kGe}, {kSpMaj, kGe}},
       0},
      {"10.0 is not at least 11.0",
       kWin10,
       {11, 0, 0, 0},
       {{kMaj, kGe}, {kMin, kGe}, {kSpMaj, kGe}},
       0},
      {"10.0 SP0 is at least 6.2 SP1",
       kWin10,
       {6, 2, 1, 0},
       {{kMaj, kGe}, {kMin, kGe}, {kSpMaj, kGe}},
       1},
      {"6.3 is not at least 10.0",
       kWin81,
       {10, 0, 0, 0},
       {{kMaj, kGe}, {kMin, kGe}, {kSpMaj, kGe}},
       0},
      {"6.3 is at least 6.2", kWin81, {6, 2, 0, 0}, {{kMaj, kGe}, {kMin, kGe}, {kSpMaj, kGe}}, 1},
      {"6.1 SP1 is at least 6.1 SP1",
       kWin7Sp1,
       {6, 1, 1, 0},
       {{kMaj, kGe}, {kMin, kGe}, {kSpMaj, kGe}},
       1},
      {"6.1 SP1 is not at least 6.1 SP2",
       kWin7Sp1,
       {6, 1, 2, 0},
       {{kMaj, kGe}, {kMin, kGe}, {kSpMaj, kGe}},
       0},
      {"6.0 SP2 is not at least 6.1 SP0",
       kVistaSp2,
       {6, 1, 0, 0},
       {{kMaj, kGe}, {kMin, kGe}, {kSpMaj, kGe}},
       0},
      {"5.1 SP3 is not at least 6.1",
       kXpSp3,
       {6, 1, 0, 0},
       {{kMaj, kGe}, {kMin, kGe}, {kSpMaj, kGe}},
       0},
      {"service-pack minor counts last: 6.1 SP1.2 is not at least SP1.3",
       kWin7Sp1Point2,
       {6, 1, 1, 3},
       {{kMaj, kGe}, {kMin, kGe}, {kSpMaj, kGe}, {kSpMin, kGe}},
       0},
      {"service-pack minor counts last: 6.1 SP1.2 is at least SP1.1",
       kWin7Sp1Point2,
       {6, 1, 1, 1},
       {{kMaj, kGe}, {kMin, kGe}, {kSpMaj, kGe}, {kSpMin, kGe}},
       1},
      {"major alone: 10 is at least 6", kWin10, {6, 9, 9, 9}, {{kMaj, kGe}}, 1},
      {"minor alone is compared alone: 0 is not at least 3",
       kWin10,
       {0, 3, 0, 0},
       {{kMin, kGe}},
       0},
      {"the highest field's condition decides: major >=, minor >",
       kWin10,
       {6, 3, 0, 0},
       {{kMaj, kGe}, {kMin, VER_GREATER}},
       1},
      {"the highest field's condition decides: all equal but SP >",
       kWin7Sp1,
       {6, 1, 0, 0},
       {{kMaj, VER_EQUAL}, {kMin, VER_EQUAL}, {kSpMaj, VER_GREATER}},
       0},
      {"without major, minor is the highest field",
       kWin7Sp1,
       {0, 2, 5, 0},
       {{kMin, VER_LESS}, {kSpMaj, kGe}},
       1},
      {"6.2 is greater than 6.1",
       kWin8,
       {6, 1, 0, 0},
       {{kMaj, VER_GREATER}, {kMin, VER_GREATER}},
       1},
      {"6.2 is not greater than 6.2",
       kWin8,
       {6, 2, 0, 0},
       {{kMaj, VER_GREATER}, {kMin, VER_GREATER}},
       0},
      {"6.2 is less than 6.3", kWin8, {6, 3, 0, 0}, {{kMaj, VER_LESS}, {kMin, VER_LESS}}, 1},
      {"6.2 is not less than 6.2", kWin8, {6, 2, 0, 0}, {{kMaj, VER_LESS}, {kMin, VER_LESS}}, 0},
      {"6.2 is at most 6.2",
       kWin8,
       {6, 2, 0, 0},
       {{kMaj, VER_LESS_EQUAL}, {kMin, VER_LESS_EQUAL}},
       1},
      {"6.2 is at most 10.0",
       kWin8,
       {10, 0, 0, 0},
       {{kMaj, VER_LESS_EQUAL}, {kMin, VER_LESS_EQUAL}},
       1},
      {"6.2 is not at most 6.1",
       kWin8,
       {6, 1, 0, 0},
       {{kMaj, VER_LESS_EQUAL}, {kMin, VER_LESS_EQUAL}},
       0},
      {"6.2 equals 6.2", kWin8, {6, 2, 0, 0}, {{kMaj, VER_EQUAL}, {kMin, VER_EQUAL}}, 1},
      {"6.2 does not equal 6.3", kWin8, {6, 3, 0, 0}, {{kMaj, VER_EQUAL}, {kMin, VER_EQUAL}}, 0},
  };
  for (const Case& row : kCases) {
    SCOPED_TRACE(row.what);
    VelmoranSetEmulatedWindowsVersion(&row.system);
    EXPECT_EQ(Verify(row.request, row.conditions), row.expected);
  }
}

TEST_F(VerifyVersionInfoTest, ComparesOtherFieldsOneByOne) {
  struct Case {
    const char* what;
    Request request;
    FlagCondition conditions[3];
    BOOL expected;
  };
  // The emulated system: 10.0.19045, platform 2, workstation (1), no suites.
  static constexpr Case kCases[] = {
      {"build 19045 is at least 19041", {0, 0, 0, 0, 19041}, {{VER_BUILDNUMBER, kGe}}, 1},
      {"build 19045 is not at least 22000", {0, 0, 0, 0, 22000}, {{VER_BUILDNUMBER, kGe}}, 0},
      {"build 19045 equals 19045", {0, 0, 0, 0, 19045}, {{VER_BUILDNUMBER, VER_EQUAL}}, 1},
      {"build 19045 is not less than 19045", {0, 0, 0, 0, 19045}, {{VER_BUILDNUMBER, VER_LESS}}, 0},
      {"the build is not part of the version number",
       {10, 0, 0, 0, 22000},
       {{kMaj, kGe}, {kMin, kGe}, {VER_BUILDNUMBER, kGe}},
       0},
      {"version and build both hold",
       {10, 0, 0, 0, 100},
       {{kMaj, kGe}, {kMin, kGe}, {VER_BUILDNUMBER, kGe}},
       1},
      {"platform 2 equals 2", {0, 0, 0, 0, 0, 2}, {{VER_PLATFORMID, VER_EQUAL}}, 1},
      {"platform 2 does not equal 1", {0, 0, 0, 0, 0, 1}, {{VER_PLATFORMID, VER_EQUAL}}, 0},
      {"platform 2 is greater than 1", {0, 0, 0, 0, 0, 1}, {{VER_PLATFORMID, VER_GREATER}}, 1},
      {"workstation equals 1", {0, 0, 0, 0, 0, 0, 1}, {{VER_PRODUCT_TYPE, VER_EQUAL}}, 1},
      {"workstation is not a server (3)",
       {0, 0, 0, 0, 0, 0, 3},
       {{VER_PRODUCT_TYPE, VER_EQUAL}},
       0},
      {"all of no suites are present", {0, 0, 0, 0, 0, 0, 0, 0}, {{VER_SUITENAME, VER_AND}}, 1},
      {"a requested suite is missing (and)",
       {0, 0, 0, 0, 0, 0, 0, 0x10},
       {{VER_SUITENAME, VER_AND}},
       0},
      {"no requested suite is present (or)",
       {0, 0, 0, 0, 0, 0, 0, 0x10},
       {{VER_SUITENAME, VER_OR}},
       0},
  };
  for (const Case& row : kCases) {
    SCOPED_TRACE(row.what);
    EXPECT_EQ(Verify(row.request, row.conditions), row.expected);
  }
}

TEST_F(VerifyVersionInfoTest, RejectsInvalidRequests) {
  struct Case {
    const char* what;
    DWORD type_mask;
    DWORDLONG condition_mask;
  };
  // Each request asks about 6.0.0 at build 1, platform 2, product 1, no suites: a question that
  // a well-formed check on the default system answers with yes, so only the rejection can
  // make it fail.
  static constexpr Case kCases[] = {
      {"no type flag", 0, 0x1801B},
      {"only unknown type flags", 0x100, 0x1801B | (ULONGLONG{3} << 24)},
      {"no conditions at all", VER_MAJORVERSION, 0},
      {"service-pack major named without a condition", 0x23, 0x1B},
      {"minor named without a condition", VER_MAJORVERSION | VER_MINORVERSION, 0x18},
      {"build named with a condition only for major", VER_BUILDNUMBER, 0x18},
      {"major compared with and", VER_MAJORVERSION, ULONGLONG{VER_AND} << 3},
      {"build compared with or", VER_BUILDNUMBER, ULONGLONG{VER_OR} << 6},
      {"platform compared with and", VER_PLATFORMID, ULONGLONG{VER_AND} << 9},
      {"suites compared with equal", VER_SUITENAME, ULONGLONG{VER_EQUAL} << 18},
      {"suites compared with at least", VER_SUITENAME, ULONGLONG{VER_GREATER_EQUAL} << 18},
  };
  OSVERSIONINFOEXW record = MakeRecord({6, 0, 0, 0, 1, 2, 1, 0});
  for (const Case& row : kCases) {
    SCOPED_TRACE(row.what);
    EXPECT_EQ(VerifyVersionInfoW(&record, row.type_mask, row.condition_mask), 0);
  }
  // The same record is accepted by a well-formed request, so the rows above fail for their
  // form alone.
  EXPECT_NE(VerifyVersionInfoW(&record, 0x23, 0x1801B), 0);
  EXPECT_NE(VerifyVersionInfoW(&record, VER_BUILDNUMBER | VER_PLATFORMID | VER_PRODUCT_TYPE,
                               (ULONGLONG{3} << 6) | (ULONGLONG{1} << 9) | (ULONGLONG{1} << 21)),
            0);
  EXPECT_NE(VerifyVersionInfoW(&record, VER_SUITENAME, ULONGLONG{VER_AND} << 18), 0);
}

TEST_F(VerifyVersionInfoTest, RejectsANullRecord) {
  EXPECT_EQ(VerifyVersionInfoW(nullptr, 0x23, 0x1801B), 0);
}

TEST_F(VerifyVersionInfoTest, LeavesTheRecordUntouched) {
  OSVERSIONINFOEXW record = MakeRecord({6, 1, 0, 0, 7601, 2, 1, 0});
  record.szCSDVersion[0] = u'S';
  OSVERSIONINFOEXW before;
  std::memcpy(&before, &record, sizeof(record));
  ASSERT_NE(VerifyVersionInfoW(&record, 0x23, 0x1801B), 0);
  EXPECT_EQ(std::memcmp(&before, &record, sizeof(record)), 0);
}

TEST_F(EmulationTest, StartsAsWindows10AndCanBeSetAndReset) {
  VelmoranWindowsVersion version = VelmoranGetEmulatedWindowsVersion();
  EXPECT_EQ(version.major_version, 10u);
  EXPECT_EQ(version.minor_version, 0u);
  EXPECT_EQ(version.build_number, 19045u);
  EXPECT_EQ(version.service_pack_major, 0u);
  EXPECT_EQ(version.service_pack_minor, 0u);

  VelmoranSetEmulatedWindowsVersion(&kWin7Sp1Point2);
  version = VelmoranGetEmulatedWindowsVersion();
  EXPECT_EQ(version.major_version, 6u);
  EXPECT_EQ(version.minor_version, 1u);
  EXPECT_EQ(version.build_number, 7601u);
  EXPECT_EQ(version.service_pack_major, 1u);
  EXPECT_EQ(version.service_pack_minor, 2u);

  VelmoranSetEmulatedWindowsVersion(nullptr);
  EXPECT_EQ(VelmoranGetEmulatedWindowsVersion().build_number, 7601u);

  VelmoranEmulateWindowsVersion(6, 3, 4);
  version = VelmoranGetEmulatedWindowsVersion();
  EXPECT_EQ(version.major_version, 6u);
  EXPECT_EQ(version.minor_version, 3u);
  EXPECT_EQ(version.service_pack_major, 4u);
  EXPECT_EQ(version.service_pack_minor, 0u);
  EXPECT_EQ(version.build_number, 0u);

  VelmoranResetEmulatedWindowsVersion();
  version = VelmoranGetEmulatedWindowsVersion();
  EXPECT_EQ(version.major_version, 10u);
  EXPECT_EQ(version.build_number, 19045u);
  EXPECT_EQ(version.service_pack_major, 0u);
}

TEST_F(EmulationTest, ChecksFollowTheEmulatedVersion) {
  OSVERSIONINFOEXW record = MakeRecord({10, 0, 0, 0});
  EXPECT_NE(VerifyVersionInfoW(&record, 0x23, 0x1801B), 0);
  VelmoranEmulateWindowsVersion(6, 3, 0);
  EXPECT_EQ(VerifyVersionInfoW(&record, 0x23, 0x1801B), 0);
  VelmoranEmulateWindowsVersion(10, 0, 0);
  EXPECT_NE(VerifyVersionInfoW(&record, 0x23, 0x1801B), 0);
}

struct ObservedCheck {
  const OSVERSIONINFOEXW* record;
  DWORD type_mask;
  DWORDLONG condition_mask;
  BOOL result;
  DWORD emulated_major_seen_from_inside;
};

void RecordCheck(void* user_data, const OSVERSIONINFOEXW* record, DWORD type_mask,
                 DWORDLONG condition_mask, BOOL result) {
  // Calling back into the library from the observer must not deadlock.
  const DWORD major = VelmoranGetEmulatedWindowsVersion().major_version;
  static_cast<std::vector<ObservedCheck>*>(user_data)->push_back(
      {record, type_mask, condition_mask, result, major});
}

TEST_F(EmulationTest, TheObserverIsToldEveryCheckUntilRemoved) {
  std::vector<ObservedCheck> checks;
  VelmoranSetVersionCheckObserver(&RecordCheck, &checks);

  OSVERSIONINFOEXW first = MakeRecord({10, 0, 0, 0});
  OSVERSIONINFOEXW second = MakeRecord({11, 0, 0, 0});
  EXPECT_NE(VerifyVersionInfoW(&first, 0x23, 0x1801B), 0);
  EXPECT_EQ(VerifyVersionInfoW(&second, 0x2, 0x18), 0);
  EXPECT_EQ(VerifyVersionInfoW(nullptr, 0, 0), 0);

  ASSERT_EQ(checks.size(), 3u);
  EXPECT_EQ(checks[0].record, &first);
  EXPECT_EQ(checks[0].type_mask, 0x23u);
  EXPECT_EQ(checks[0].condition_mask, 0x1801Bu);
  EXPECT_EQ(checks[0].result, 1);
  EXPECT_EQ(checks[0].emulated_major_seen_from_inside, 10u);
  EXPECT_EQ(checks[1].record, &second);
  EXPECT_EQ(checks[1].type_mask, 0x2u);
  EXPECT_EQ(checks[1].condition_mask, 0x18u);
  EXPECT_EQ(checks[1].result, 0);
  EXPECT_EQ(checks[2].record, nullptr);
  EXPECT_EQ(checks[2].result, 0);

  VelmoranSetVersionCheckObserver(nullptr, &checks);
  EXPECT_NE(VerifyVersionInfoW(&first, 0x23, 0x1801B), 0);
  EXPECT_EQ(checks.size(), 3u);
}

TEST_F(EmulationTest, ChecksSeeAWholeVersionWhileAnotherThreadChangesIt) {
  constexpr VelmoranWindowsVersion kNew = {10, 0, 19045, 0, 0};
  constexpr VelmoranWindowsVersion kOld = {6, 1, 7601, 1, 0};
  std::atomic<bool> stop{false};
  std::thread writer([&] {
    for (int i = 0; i < 20000 && !stop.load(); ++i) {
      VelmoranSetEmulatedWindowsVersion(i % 2 == 0 ? &kOld : &kNew);
    }
  });
  // A mix of the two versions, a new major with an old build or the reverse, must never show.
  OSVERSIONINFOEXW new_major_old_build = MakeRecord({10, 0, 0, 0, 7601});
  OSVERSIONINFOEXW old_major_new_build = MakeRecord({6, 1, 0, 0, 19045});
  const DWORD type_mask = VER_MAJORVERSION | VER_BUILDNUMBER;
  const ULONGLONG at_least_major_at_most_build =
      (ULONGLONG{VER_GREATER_EQUAL} << 3) | (ULONGLONG{VER_LESS_EQUAL} << 6);
  const ULONGLONG at_most_major_at_least_build =
      (ULONGLONG{VER_LESS_EQUAL} << 3) | (ULONGLONG{VER_GREATER_EQUAL} << 6);
  int mixed = 0;
  for (int i = 0; i < 20000; ++i) {
    mixed += VerifyVersionInfoW(&new_major_old_build, type_mask, at_least_major_at_most_build);
    mixed += VerifyVersionInfoW(&old_major_new_build, type_mask, at_most_major_at_least_build);
  }
  stop.store(true);
  writer.join();
  EXPECT_EQ(mixed, 0);
}

}  // namespace
