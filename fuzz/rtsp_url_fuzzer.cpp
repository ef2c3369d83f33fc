// A media description's control attribute resolved against the request URL. Input: the base,
// a newline, the control.
#include <cstddef>
#include <cstdint>
#include <string>

#include "streaming/rtsp_url.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const size_t newline = input.find('\n');
  const std::string base = input.substr(0, newline);
  const std::string control = newline == std::string::npos ? std::string() : input.substr(newline + 1);
  const std::string url = vantrel::ResolveControlUrl(base, control);
  // Whatever the camera names, the track URL ends with it unless it names the aggregate.
  if (!control.empty() && control != "*" &&
      (url.size() < control.size() || url.compare(url.size() - control.size(), control.size(), control) != 0))
    __builtin_trap();
  return 0;
}
