#ifndef VELMORAN_WINVER_WINVER_H_
#define VELMORAN_WINVER_WINVER_H_

// The Windows version check that the plugin uses: VerSetConditionMask, VerifyVersionInfoW and
// the record OSVERSIONINFOEXW. On Windows this is the system's own <windows.h>. Elsewhere it
// declares the same names, with the same types, layout and constants, implemented by the
// velmoran_winver library, which stands in for the operating system so that the plugin can be
// built and exercised on any host (see winver_emulation.h to choose the version it reports).

#ifdef _WIN32

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#else  // !_WIN32

#include <stddef.h>
#include <stdint.h>

// The stand-in library is built with hidden symbols; only these functions leave it.
#if defined(__GNUC__) || defined(__clang__)
#define VELMORAN_WINVER_EXPORT __attribute__((visibility("default")))
#else
#define VELMORAN_WINVER_EXPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef uint64_t DWORDLONG;
typedef uint64_t ULONGLONG;
typedef int BOOL;
#ifdef __cplusplus
typedef char16_t WCHAR;
#else
typedef uint_least16_t WCHAR;
#endif

// The extended version record, byte for byte as Windows lays it out (284 bytes, no padding).
typedef struct OSVERSIONINFOEXW {
  DWORD dwOSVersionInfoSize;
  DWORD dwMajorVersion;
  DWORD dwMinorVersion;
  DWORD dwBuildNumber;
  DWORD dwPlatformId;
  WCHAR szCSDVersion[128];
  WORD wServicePackMajor;
  WORD wServicePackMinor;
  WORD wSuiteMask;
  BYTE wProductType;
  BYTE wReserved;
} OSVERSIONINFOEXW, *POSVERSIONINFOEXW, *LPOSVERSIONINFOEXW;

// Type flags: which fields of the record a check compares.
#define VER_MINORVERSION 0x0000001
#define VER_MAJORVERSION 0x0000002
#define VER_BUILDNUMBER 0x0000004
#define VER_PLATFORMID 0x0000008
#define VER_SERVICEPACKMINOR 0x0000010
#define VER_SERVICEPACKMAJOR 0x0000020
#define VER_SUITENAME 0x0000040
#define VER_PRODUCT_TYPE 0x0000080

// Conditions: how the system's field compares with the record's. VER_AND and VER_OR apply to
// the suite mask only.
#define VER_EQUAL 1
#define VER_GREATER 2
#define VER_GREATER_EQUAL 3
#define VER_LESS 4
#define VER_LESS_EQUAL 5
#define VER_AND 6
#define VER_OR 7

// Returns ConditionMask with Condition recorded for one type flag. Each flag owns three bits
// (flag bit i owns bits 3i to 3i+2); only the low three bits of Condition count and are added
// to those already there, so each flag should be set once. A condition of 0, or a TypeMask
// without a known flag, leaves the mask unchanged. When TypeMask has several flags, only the
// highest one is set, as on Windows.
VELMORAN_WINVER_EXPORT ULONGLONG VerSetConditionMask(ULONGLONG ConditionMask, DWORD TypeMask,
                                                     BYTE Condition);

// Compares the emulated system with the fields of *lpVersionInformation named by TypeMask,
// each under its condition from ConditionMask; nonzero when every comparison holds. Major,
// minor, service-pack major and service-pack minor, as far as they are named, compare together
// as one version (so 10.0 is at least 6.3) under the condition of the highest-order one named;
// build number, platform id and product type compare one by one; the suite mask needs all
// (VER_AND) or at least one (VER_OR) of the requested suites. Returns 0 as well for an invalid
// request: a null record, no known flag in TypeMask, a named field without a condition, or a
// condition that does not apply to its field. The record is only read.
VELMORAN_WINVER_EXPORT BOOL VerifyVersionInfoW(LPOSVERSIONINFOEXW lpVersionInformation,
                                               DWORD TypeMask, DWORDLONG ConditionMask);

#ifdef __cplusplus
}  // extern "C"

static_assert(sizeof(OSVERSIONINFOEXW) == 284, "OSVERSIONINFOEXW must match the Windows layout");
static_assert(offsetof(OSVERSIONINFOEXW, dwMajorVersion) == 4, "Windows layout");
static_assert(offsetof(OSVERSIONINFOEXW, dwMinorVersion) == 8, "Windows layout");
static_assert(offsetof(OSVERSIONINFOEXW, dwBuildNumber) == 12, "Windows layout");
static_assert(offsetof(OSVERSIONINFOEXW, dwPlatformId) == 16, "Windows layout");
static_assert(offsetof(OSVERSIONINFOEXW, szCSDVersion) == 20, "Windows layout");
static_assert(offsetof(OSVERSIONINFOEXW, wServicePackMajor) == 276, "Windows layout");
static_assert(offsetof(OSVERSIONINFOEXW, wServicePackMinor) == 278, "Windows layout");
static_assert(offsetof(OSVERSIONINFOEXW, wSuiteMask) == 280, "Windows layout");
static_assert(offsetof(OSVERSIONINFOEXW, wProductType) == 282, "Windows layout");
static_assert(offsetof(OSVERSIONINFOEXW, wReserved) == 283, "Windows layout");
#endif  // __cplusplus

#endif  // _WIN32

#endif  // VELMORAN_WINVER_WINVER_H_
