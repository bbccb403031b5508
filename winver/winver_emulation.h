#ifndef VELMORAN_WINVER_WINVER_EMULATION_H_
#define VELMORAN_WINVER_WINVER_EMULATION_H_

// Control of the stand-in for the Windows version check (winver.h) on hosts other than
// Windows: which Windows version it reports, and a way to watch every check made against it.
// The state lives once per process in the shared velmoran_winver library, so a host program
// and the plugin it loads see the same emulated system. All functions are safe to call from
// any thread.

#ifdef _WIN32
#error "winver_emulation.h exists only where the Windows version check is emulated"
#endif

#include "winver/winver.h"

#ifdef __cplusplus
extern "C" {
#endif

// The part of the emulated system that can be chosen. The rest is fixed: platform id 2 (NT),
// product type 1 (workstation), no suites.
typedef struct VelmoranWindowsVersion {
  DWORD major_version;
  DWORD minor_version;
  DWORD build_number;
  WORD service_pack_major;
  WORD service_pack_minor;
} VelmoranWindowsVersion;

// Reports major.minor with the given service-pack major from now on; service-pack minor and
// build number become 0.
VELMORAN_WINVER_EXPORT void VelmoranEmulateWindowsVersion(DWORD major_version, DWORD minor_version,
                                                          WORD service_pack_major);

// Reports *version from now on. A null pointer changes nothing.
VELMORAN_WINVER_EXPORT void VelmoranSetEmulatedWindowsVersion(
    const VelmoranWindowsVersion* version);

// The version reported now.
VELMORAN_WINVER_EXPORT VelmoranWindowsVersion VelmoranGetEmulatedWindowsVersion(void);

// Back to the version reported at start: 10.0, build 19045, no service pack.
VELMORAN_WINVER_EXPORT void VelmoranResetEmulatedWindowsVersion(void);

// Told of each VerifyVersionInfoW call once it is decided: the record as the caller passed it
// (null if the caller passed null; valid only during the call), the type mask, the condition
// mask and the answer returned. Runs on the caller's thread, with no lock held, so it may call
// into this library.
typedef void (*VelmoranVersionCheckObserver)(void* user_data,
                                             const OSVERSIONINFOEXW* version_information,
                                             DWORD type_mask, DWORDLONG condition_mask,
                                             BOOL result);

// Installs the observer, replacing any previous one; null removes it. user_data is passed back
// unchanged and stays the caller's. A check already under way on another thread may still
// report to the observer being replaced.
VELMORAN_WINVER_EXPORT void VelmoranSetVersionCheckObserver(VelmoranVersionCheckObserver observer,
                                                            void* user_data);

#ifdef __cplusplus
}  // extern "C"
#endif

#endif  // VELMORAN_WINVER_WINVER_EMULATION_H_
