#include <windows.h>

#include <vector>

#include "driver/host_version.h"

namespace vantrel {

HostVersion ReadHostCoreVersion(const char* fileName) {
  HostVersion version;
  // A bare name is searched like a library load (the host executable's directory first), which
  // is where the host keeps its core library.
  const char* name = fileName ? fileName : "pellith.dll";
  DWORD handle = 0;
  const DWORD size = GetFileVersionInfoSizeA(name, &handle);
  if (size == 0) return version;
  std::vector<unsigned char> block(size);
  if (!GetFileVersionInfoA(name, 0, size, block.data())) return version;
  VS_FIXEDFILEINFO* info = nullptr;
  UINT infoSize = 0;
  if (!VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&info), &infoSize) || !info ||
      infoSize < sizeof(VS_FIXEDFILEINFO)) {
    return version;
  }
  version.major = HIWORD(info->dwProductVersionMS);
  version.minor = LOWORD(info->dwProductVersionMS);
  version.build = HIWORD(info->dwProductVersionLS);
  version.revision = LOWORD(info->dwProductVersionLS);
  return version;
}

}  // namespace vantrel
