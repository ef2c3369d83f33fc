// FILETIME values as plain 64-bit numbers (100 ns units since 1601-01-01 UTC), and the camera's
// epoch of 2000-01-01 UTC. Portable: used by parsers and by the Win32 time helpers alike.
#pragma once

#include <cstdint>

#include "vantrel/platform_types.h"

namespace vantrel {

inline constexpr uint64_t kFileTimeTicksPerMs = 10000;
inline constexpr uint64_t kFileTimeTicksPerSecond = 10000000;
// 2000-01-01 00:00:00 UTC: 145731 days after 1601-01-01.
inline constexpr uint64_t kFileTimeOf2000 = 145731ull * 86400ull * kFileTimeTicksPerSecond;
// 1970-01-01 00:00:00 UTC.
inline constexpr uint64_t kFileTimeOf1970 = 134774ull * 86400ull * kFileTimeTicksPerSecond;

inline uint64_t FileTimeToValue(const FILETIME& ft) {
  return (uint64_t{ft.dwHighDateTime} << 32) | ft.dwLowDateTime;
}

inline FILETIME ValueToFileTime(uint64_t value) {
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(value & 0xFFFFFFFFu);
  ft.dwHighDateTime = static_cast<DWORD>(value >> 32);
  return ft;
}

inline uint64_t SecondsSince2000ToFileTime(uint32_t seconds) {
  return kFileTimeOf2000 + uint64_t{seconds} * kFileTimeTicksPerSecond;
}

// 0 for times before 2000; saturates past the 32-bit range.
inline uint32_t FileTimeToSecondsSince2000(uint64_t fileTime) {
  if (fileTime <= kFileTimeOf2000) return 0;
  uint64_t seconds = (fileTime - kFileTimeOf2000) / kFileTimeTicksPerSecond;
  return seconds > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32_t>(seconds);
}

static_assert(kFileTimeOf2000 == 125911584000000000ull);
static_assert(kFileTimeOf1970 == 116444736000000000ull);

}  // namespace vantrel
