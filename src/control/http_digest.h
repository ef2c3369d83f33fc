// HTTP Digest authentication (RFC 2617, MD5 and MD5-sess, qop "auth" or none), done by the
// sender itself: not every WinHTTP build answers Digest challenges, and cameras need it.
// Portable: parses challenge text that comes straight from the camera.
//
// Leniencies: scheme and parameter names in any case; quoted or bare values, quoted ones with
// commas and backslash escapes; blanks around "=" and ","; a qop list in which "auth" is one
// of several. "auth-int" is used only when it is the sole offer, since it makes every request
// hash its body. Rejected: any algorithm other than MD5 and MD5-sess, a qop list naming
// neither, a challenge without nonce.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace Web {

struct DigestChallenge {
  std::string realm;
  std::string nonce;
  std::string opaque;
  std::string algorithm;    // as the camera spelled it; empty means MD5
  bool qopAuth = false;     // the camera offered qop "auth"
  bool qopAuthInt = false;  // the camera offered only qop "auth-int"
  bool stale = false;
};

// One WWW-Authenticate value; nullopt when it is not a usable Digest challenge.
std::optional<DigestChallenge> ParseDigestChallenge(std::string_view header);

// The value for an Authorization header (starting with "Digest ").
std::string BuildDigestAuthorization(const DigestChallenge& challenge, const std::string& user,
                                     const std::string& password, const std::string& method,
                                     const std::string& uri, uint32_t nonceCount, const std::string& cnonce,
                                     std::string_view body = {});

}  // namespace Web
