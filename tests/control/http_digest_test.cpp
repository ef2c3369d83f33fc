#include "control/http_digest.h"

#include <gtest/gtest.h>

#include <string>

namespace Web {
namespace {

TEST(HttpDigestTest, ParsesWhatCamerasSend) {
  struct Case {
    const char* header;
    bool usable;
    const char* realm;
    const char* nonce;
    bool qopAuth;
    bool stale;
  };
  const Case cases[] = {
      {"Digest realm=\"camera\", qop=\"auth\", nonce=\"abc\", algorithm=MD5", true, "camera", "abc", true,
       false},
      {"digest REALM = \"a, b\" ,NONCE=n1,qop=\"auth-int, auth\",stale=TRUE", true, "a, b", "n1", true, true},
      {"Digest realm=\"r\", nonce=\"n\"", true, "r", "n", false, false},
      {"Digest realm=\"esc\\\"aped\", nonce=\"n\"", true, "esc\"aped", "n", false, false},
      {"Digest realm=\"r\", nonce=\"n\", qop=\"auth-int\"", false, "", "", false, false},
      {"Digest realm=\"r\", nonce=\"n\", algorithm=SHA-256", false, "", "", false, false},
      {"Digest realm=\"r\"", false, "", "", false, false},
      {"Digest realm=\"r\", nonce=\"unterminated", false, "", "", false, false},
      {"Basic realm=\"r\"", false, "", "", false, false},
      {"DigestX nonce=\"n\"", false, "", "", false, false},
      {"", false, "", "", false, false},
      {"Digest ,,,==,\"", false, "", "", false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.header);
    auto challenge = ParseDigestChallenge(c.header);
    ASSERT_EQ(challenge.has_value(), c.usable);
    if (!challenge) continue;
    EXPECT_EQ(challenge->realm, c.realm);
    EXPECT_EQ(challenge->nonce, c.nonce);
    EXPECT_EQ(challenge->qopAuth, c.qopAuth);
    EXPECT_EQ(challenge->stale, c.stale);
  }
}

// The worked example of RFC 2617 section 3.5.
TEST(HttpDigestTest, AuthorizationMatchesTheRfcExample) {
  auto challenge = ParseDigestChallenge(
      "Digest realm=\"testrealm@host.com\", qop=\"auth,auth-int\", "
      "nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\", "
      "opaque=\"5ccc069c403ebaf9f0171e9517f40e41\"");
  ASSERT_TRUE(challenge);
  const std::string header = BuildDigestAuthorization(*challenge, "Mufasa", "Circle Of Life", "GET",
                                                      "/dir/index.html", 1, "0a4f113b");
  EXPECT_EQ(header,
            "Digest username=\"Mufasa\", realm=\"testrealm@host.com\", "
            "nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\", "
            "uri=\"/dir/index.html\", qop=auth, nc=00000001, cnonce=\"0a4f113b\", "
            "response=\"6629fae49393a05397450978507c4ef1\", opaque=\"5ccc069c403ebaf9f0171e9517f40e41\"");
}

TEST(HttpDigestTest, QuotesInCredentialsCannotBreakTheHeader) {
  DigestChallenge challenge;
  challenge.realm = "r";
  challenge.nonce = "n";
  const std::string header = BuildDigestAuthorization(challenge, "a\"b", "p", "GET", "/", 1, "c");
  EXPECT_NE(header.find("username=\"a\\\"b\""), std::string::npos);
  EXPECT_EQ(header.find("qop="), std::string::npos);  // no qop offered: the RFC 2069 form
}

}  // namespace
}  // namespace Web
