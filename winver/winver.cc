// The stand-in for the Windows version check on hosts other than Windows.

#include <mutex>

#include "winver/winver.h"
#include "winver/winver_emulation.h"

namespace {

constexpr VelmoranWindowsVersion kDefaultVersion = {10, 0, 19045, 0, 0};
constexpr DWORD kPlatformId = 2;  // VER_PLATFORM_WIN32_NT
constexpr BYTE kProductType = 1;  // VER_NT_WORKSTATION
constexpr WORD kSuiteMask = 0;

// Type flags occupy bits 0 to 7; each owns three bits of a condition mask.
constexpr int kTypeFlagCount = 8;
constexpr int kBitsPerCondition = 3;
constexpr BYTE kConditionBits = 0x7;

// std::mutex is constant-initialised, so loading the library runs no code.
std::mutex g_mutex;
VelmoranWindowsVersion g_version = kDefaultVersion;
VelmoranVersionCheckObserver g_observer = nullptr;
void* g_observer_user_data = nullptr;

VelmoranWindowsVersion CurrentVersion() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_version;
}

BYTE ConditionOf(DWORDLONG condition_mask, DWORD type_flag) {
  for (int index = 0; index < kTypeFlagCount; ++index) {
    if (type_flag == (DWORD{1} << index)) {
      return static_cast<BYTE>((condition_mask >> (kBitsPerCondition * index)) & kConditionBits);
    }
  }
  return 0;
}

// Whether a three-way comparison of the system's value with the requested one (negative,
// zero, positive) satisfies a numeric condition. Sets *valid to false for a condition that is
// not a numeric one.
bool Satisfies(int system_vs_requested, BYTE condition, bool* valid) {
  switch (condition) {
    case VER_EQUAL:
      return system_vs_requested == 0;
    case VER_GREATER:
      return system_vs_requested > 0;
    case VER_GREATER_EQUAL:
      return system_vs_requested >= 0;
    case VER_LESS:
      return system_vs_requested < 0;
    case VER_LESS_EQUAL:
      return system_vs_requested <= 0;
    default:
      *valid = false;
      return false;
  }
}

int ThreeWay(DWORDLONG system, DWORDLONG requested) {
  return system < requested ? -1 : (system > requested ? 1 : 0);
}

// Compares one field on its own. Returns false, with *valid cleared, when the field has no
// usable condition.
bool CheckSingleField(DWORDLONG system, DWORDLONG requested, DWORDLONG condition_mask,
                      DWORD type_flag, bool* valid) {
  const BYTE condition = ConditionOf(condition_mask, type_flag);
  if (condition == 0) {
    *valid = false;
    return false;
  }
  return Satisfies(ThreeWay(system, requested), condition, valid);
}

// Major, minor, service-pack major and service-pack minor form one version number, compared
// from the highest-order field named downwards under the condition of that highest field; a
// condition per field would wrongly fail "at least 6.3" on 10.0 because 0 < 3.
bool CheckVersionGroup(const VelmoranWindowsVersion& system, const OSVERSIONINFOEXW& requested,
                       DWORD type_mask, DWORDLONG condition_mask, bool* valid) {
  struct Field {
    DWORD type_flag;
    DWORDLONG system;
    DWORDLONG requested;
  };
  const Field fields[] = {
      {VER_MAJORVERSION, system.major_version, requested.dwMajorVersion},
      {VER_MINORVERSION, system.minor_version, requested.dwMinorVersion},
      {VER_SERVICEPACKMAJOR, system.service_pack_major, requested.wServicePackMajor},
      {VER_SERVICEPACKMINOR, system.service_pack_minor, requested.wServicePackMinor},
  };
  BYTE condition = 0;
  int comparison = 0;
  bool any_named = false;
  for (const Field& field : fields) {
    if ((type_mask & field.type_flag) == 0) {
      continue;
    }
    const BYTE field_condition = ConditionOf(condition_mask, field.type_flag);
    if (field_condition == 0) {
      *valid = false;
      return false;
    }
    if (!any_named) {
      any_named = true;
      condition = field_condition;
    }
    if (comparison == 0) {
      comparison = ThreeWay(field.system, field.requested);
    }
  }
  return !any_named || Satisfies(comparison, condition, valid);
}

bool CheckSuite(WORD requested, DWORDLONG condition_mask, bool* valid) {
  switch (ConditionOf(condition_mask, VER_SUITENAME)) {
    case VER_AND:
      return (kSuiteMask & requested) == requested;
    case VER_OR:
      return (kSuiteMask & requested) != 0;
    default:
      *valid = false;
      return false;
  }
}

BOOL Verify(const OSVERSIONINFOEXW* requested, DWORD type_mask, DWORDLONG condition_mask) {
  constexpr DWORD kKnownTypeFlags = (DWORD{1} << kTypeFlagCount) - 1;
  if (requested == nullptr || (type_mask & kKnownTypeFlags) == 0) {
    return 0;
  }
  const VelmoranWindowsVersion system = CurrentVersion();
  bool valid = true;
  bool passed = CheckVersionGroup(system, *requested, type_mask, condition_mask, &valid);
  if ((type_mask & VER_BUILDNUMBER) != 0) {
    passed = CheckSingleField(system.build_number, requested->dwBuildNumber, condition_mask,
                              VER_BUILDNUMBER, &valid) &&
             passed;
  }
  if ((type_mask & VER_PLATFORMID) != 0) {
    passed = CheckSingleField(kPlatformId, requested->dwPlatformId, condition_mask, VER_PLATFORMID,
                              &valid) &&
             passed;
  }
  if ((type_mask & VER_PRODUCT_TYPE) != 0) {
    passed = CheckSingleField(kProductType, requested->wProductType, condition_mask,
                              VER_PRODUCT_TYPE, &valid) &&
             passed;
  }
  if ((type_mask & VER_SUITENAME) != 0) {
    passed = CheckSuite(requested->wSuiteMask, condition_mask, &valid) && passed;
  }
  return valid && passed ? 1 : 0;
}

}  // namespace

extern "C" {

ULONGLONG VerSetConditionMask(ULONGLONG ConditionMask, DWORD TypeMask, BYTE Condition) {
  const ULONGLONG condition = Condition & kConditionBits;
  if (condition == 0) {
    return ConditionMask;
  }
  for (int index = kTypeFlagCount - 1; index >= 0; --index) {
    if ((TypeMask & (DWORD{1} << index)) != 0) {
      return ConditionMask | (condition << (kBitsPerCondition * index));
    }
  }
  return ConditionMask;
}

BOOL VerifyVersionInfoW(LPOSVERSIONINFOEXW lpVersionInformation, DWORD TypeMask,
                        DWORDLONG ConditionMask) {
  const BOOL result = Verify(lpVersionInformation, TypeMask, ConditionMask);
  VelmoranVersionCheckObserver observer = nullptr;
  void* user_data = nullptr;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    observer = g_observer;
    user_data = g_observer_user_data;
  }
  if (observer != nullptr) {
    observer(user_data, lpVersionInformation, TypeMask, ConditionMask, result);
  }
  return result;
}

void VelmoranEmulateWindowsVersion(DWORD major_version, DWORD minor_version,
                                   WORD service_pack_major) {
  const VelmoranWindowsVersion version = {major_version, minor_version, 0, service_pack_major, 0};
  VelmoranSetEmulatedWindowsVersion(&version);
}

void VelmoranSetEmulatedWindowsVersion(const VelmoranWindowsVersion* version) {
  if (version == nullptr) {
    return;
  }
  std::lock_guard<std::mutex> lock(g_mutex);
  g_version = *version;
}

VelmoranWindowsVersion VelmoranGetEmulatedWindowsVersion(void) { return CurrentVersion(); }

void VelmoranResetEmulatedWindowsVersion(void) {
  VelmoranSetEmulatedWindowsVersion(&kDefaultVersion);
}

void VelmoranSetVersionCheckObserver(VelmoranVersionCheckObserver observer, void* user_data) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_observer = observer;
  g_observer_user_data = user_data;
}

}  // extern "C"
