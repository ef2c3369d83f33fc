// How a media description's control attribute becomes the URL a SETUP names. Portable, so the
// resolution is tested natively and fuzzed.
#pragma once

#include <string>

namespace vantrel {

// `base` is the request URL (the Content-Base when the camera sent one). A control holding
// "://" is used unchanged; "*" names the aggregate, the base itself; one starting with '/' is an
// absolute path that replaces the base's path (RFC 3986 5.2.2); any other is appended to the
// base after one '/', as RTSP cameras expect of a base without a trailing slash too.
std::string ResolveControlUrl(const std::string& base, const std::string& control);

}  // namespace vantrel
