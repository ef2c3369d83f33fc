#include "control/http_digest.h"

#include <cctype>
#include <cstdio>

#include "control/md5.h"

namespace Web {

namespace {

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Quotes and backslashes in a value would end the quoted string early.
std::string Quote(const std::string& value) {
  std::string out = "\"";
  for (char c : value) {
    if (c == '"' || c == '\\') out.push_back('\\');
    out.push_back(c);
  }
  out.push_back('"');
  return out;
}

}  // namespace

std::optional<DigestChallenge> ParseDigestChallenge(std::string_view header) {
  size_t pos = 0;
  while (pos < header.size() && IsBlank(header[pos])) ++pos;
  if (header.size() - pos < 6 || !EqualsNoCase(header.substr(pos, 6), "digest")) return std::nullopt;
  pos += 6;
  if (pos < header.size() && !IsBlank(header[pos])) return std::nullopt;

  DigestChallenge challenge;
  bool qopGiven = false;
  bool authIntOffered = false;
  while (pos < header.size()) {
    while (pos < header.size() && (IsBlank(header[pos]) || header[pos] == ',')) ++pos;
    size_t nameStart = pos;
    while (pos < header.size() && header[pos] != '=' && header[pos] != ',' && !IsBlank(header[pos])) ++pos;
    std::string_view name = header.substr(nameStart, pos - nameStart);
    while (pos < header.size() && IsBlank(header[pos])) ++pos;
    if (pos >= header.size() || header[pos] != '=') {
      if (name.empty()) break;
      continue;  // a bare token carries nothing we use
    }
    ++pos;
    while (pos < header.size() && IsBlank(header[pos])) ++pos;
    std::string value;
    if (pos < header.size() && header[pos] == '"') {
      ++pos;
      while (pos < header.size() && header[pos] != '"') {
        if (header[pos] == '\\' && pos + 1 < header.size()) ++pos;
        value.push_back(header[pos++]);
      }
      if (pos >= header.size()) return std::nullopt;  // unterminated quote: truncated header
      ++pos;
    } else {
      while (pos < header.size() && header[pos] != ',' && !IsBlank(header[pos]))
        value.push_back(header[pos++]);
    }
    if (EqualsNoCase(name, "realm")) {
      challenge.realm = value;
    } else if (EqualsNoCase(name, "nonce")) {
      challenge.nonce = value;
    } else if (EqualsNoCase(name, "opaque")) {
      challenge.opaque = value;
    } else if (EqualsNoCase(name, "algorithm")) {
      challenge.algorithm = value;
    } else if (EqualsNoCase(name, "stale")) {
      challenge.stale = EqualsNoCase(value, "true");
    } else if (EqualsNoCase(name, "qop")) {
      qopGiven = true;
      size_t start = 0;
      while (start <= value.size()) {
        size_t comma = value.find(',', start);
        std::string_view option = std::string_view(value).substr(
            start, comma == std::string::npos ? std::string::npos : comma - start);
        while (!option.empty() && IsBlank(option.front())) option.remove_prefix(1);
        while (!option.empty() && IsBlank(option.back())) option.remove_suffix(1);
        if (EqualsNoCase(option, "auth")) challenge.qopAuth = true;
        if (EqualsNoCase(option, "auth-int")) authIntOffered = true;
        if (comma == std::string::npos) break;
        start = comma + 1;
      }
    }
  }
  if (challenge.nonce.empty()) return std::nullopt;
  if (qopGiven && !challenge.qopAuth) {
    if (!authIntOffered) return std::nullopt;
    challenge.qopAuthInt = true;
  }
  if (!challenge.algorithm.empty() && !EqualsNoCase(challenge.algorithm, "MD5") &&
      !EqualsNoCase(challenge.algorithm, "MD5-sess")) {
    return std::nullopt;
  }
  return challenge;
}

std::string BuildDigestAuthorization(const DigestChallenge& challenge, const std::string& user,
                                     const std::string& password, const std::string& method,
                                     const std::string& uri, uint32_t nonceCount, const std::string& cnonce,
                                     std::string_view body) {
  std::string ha1 = vantrel::Md5Hex(user + ":" + challenge.realm + ":" + password);
  if (EqualsNoCase(challenge.algorithm, "MD5-sess"))
    ha1 = vantrel::Md5Hex(ha1 + ":" + challenge.nonce + ":" + cnonce);
  const std::string ha2 = challenge.qopAuthInt
                              ? vantrel::Md5Hex(method + ":" + uri + ":" + vantrel::Md5Hex(std::string(body)))
                              : vantrel::Md5Hex(method + ":" + uri);
  char nc[9];
  std::snprintf(nc, sizeof(nc), "%08x", nonceCount);

  std::string header = "Digest username=" + Quote(user) + ", realm=" + Quote(challenge.realm) +
                       ", nonce=" + Quote(challenge.nonce) + ", uri=" + Quote(uri);
  if (challenge.qopAuth || challenge.qopAuthInt) {
    const std::string qop = challenge.qopAuth ? "auth" : "auth-int";
    const std::string response =
        vantrel::Md5Hex(ha1 + ":" + challenge.nonce + ":" + nc + ":" + cnonce + ":" + qop + ":" + ha2);
    header += ", qop=" + qop + ", nc=" + std::string(nc) + ", cnonce=" + Quote(cnonce) +
              ", response=" + Quote(response);
  } else {
    header += ", response=" + Quote(vantrel::Md5Hex(ha1 + ":" + challenge.nonce + ":" + ha2));
  }
  if (!challenge.algorithm.empty()) header += ", algorithm=" + challenge.algorithm;
  if (!challenge.opaque.empty()) header += ", opaque=" + Quote(challenge.opaque);
  return header;
}

}  // namespace Web
