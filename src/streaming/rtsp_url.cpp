#include "streaming/rtsp_url.h"

namespace vantrel {

std::string ResolveControlUrl(const std::string& base, const std::string& control) {
  if (control.empty() || control == "*") return base;
  if (control.find("://") != std::string::npos) return control;
  if (control.front() == '/') {
    const size_t authority = base.find("://");
    const size_t path = authority == std::string::npos ? std::string::npos : base.find('/', authority + 3);
    return (path == std::string::npos ? base : base.substr(0, path)) + control;
  }
  std::string url = base;
  if (!url.empty() && url.back() == '/') url.pop_back();
  return url + '/' + control;
}

}  // namespace vantrel
