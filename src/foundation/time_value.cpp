#include "foundation/time_value.h"

#include <windows.h>

#include <cstdio>

namespace vantrel {

uint64_t GetCurrentFileTime() {
  SYSTEMTIME now;
  GetSystemTime(&now);
  return SystemTimeToFileTimeValue(now);
}

uint32_t ElapsedMsSince(uint64_t start) {
  uint64_t now = GetCurrentFileTime();
  if (start >= now) return 0;
  uint64_t ms = (now - start) / kFileTimeTicksPerMs;
  return ms > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32_t>(ms);
}

uint64_t SystemTimeToFileTimeValue(const SYSTEMTIME& systemTime) {
  FILETIME ft;
  if (!SystemTimeToFileTime(&systemTime, &ft)) return 0;
  return FileTimeToValue(ft);
}

bool FileTimeToSystemTimeValue(uint64_t fileTime, SYSTEMTIME& systemTime) {
  FILETIME ft = ValueToFileTime(fileTime);
  return FileTimeToSystemTime(&ft, &systemTime) != FALSE;
}

std::string FormatLocalTime(uint64_t fileTime) {
  if (fileTime == 0) return {};
  SYSTEMTIME utc, local;
  if (!FileTimeToSystemTimeValue(fileTime, utc)) return {};
  if (!SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local)) return {};
  char text[64];
  int n =
      std::snprintf(text, sizeof(text), "%.4hu/%.2hu/%.2hu %.2hu:%.2hu:%.2hu.%.3hu", local.wYear,
                    local.wMonth, local.wDay, local.wHour, local.wMinute, local.wSecond, local.wMilliseconds);
  if (n <= 0 || static_cast<size_t>(n) >= sizeof(text)) return {};
  return std::string(text, static_cast<size_t>(n));
}

}  // namespace vantrel
