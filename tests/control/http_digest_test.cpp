#include "control/http_digest.h"

#include <gtest/gtest.h>

#include <string>

#include "control/md5.h"

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
      // auth-int alone is answered (with the body hash); beside "auth" it is never chosen.
      {"Digest realm=\"r\", nonce=\"n\", qop=\"auth-int\"", true, "r", "n", false, false},
      {"Digest realm=\"r\", nonce=\"n\", qop=\"auth-conf\"", false, "", "", false, false},
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

// auth-int and MD5-sess change what is hashed; each response is recomputed here by the RFC's
// formulas so a wrong order or a missing term shows.
TEST(HttpDigestTest, AuthIntAndSessionVariantsHashWhatTheRfcNames) {
  struct Case {
    const char* challenge;
    const char* body;
    const char* qop;
    bool sess;
  };
  const Case cases[] = {
      {"Digest realm=\"r\", nonce=\"n\", qop=\"auth-int\"", "", "auth-int", false},
      {"Digest realm=\"r\", nonce=\"n\", qop=\"auth-int\"", "v=0\r\n", "auth-int", false},
      {"Digest realm=\"r\", nonce=\"n\", qop=\"auth\", algorithm=MD5-sess", "", "auth", true},
      {"DIGEST Realm=\"r\", Nonce=\"n\", ALGORITHM=md5-SESS", "", "", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.challenge);
    auto challenge = ParseDigestChallenge(c.challenge);
    ASSERT_TRUE(challenge);
    const std::string header =
        BuildDigestAuthorization(*challenge, "u", "p", "DESCRIBE", "rtsp://h/", 2, "cn", c.body);
    std::string ha1 = vantrel::Md5Hex("u:r:p");
    if (c.sess) ha1 = vantrel::Md5Hex(ha1 + ":n:cn");
    std::string ha2 = std::string(c.qop) == "auth-int"
                          ? vantrel::Md5Hex("DESCRIBE:rtsp://h/:" + vantrel::Md5Hex(c.body))
                          : vantrel::Md5Hex("DESCRIBE:rtsp://h/");
    std::string response = *c.qop ? vantrel::Md5Hex(ha1 + ":n:00000002:cn:" + c.qop + ":" + ha2)
                                  : vantrel::Md5Hex(ha1 + ":n:" + ha2);
    EXPECT_NE(header.find("response=\"" + response + "\""), std::string::npos) << header;
    if (*c.qop) {
      EXPECT_NE(header.find(std::string(", qop=") + c.qop + ", nc=00000002, "), std::string::npos);
    }
  }
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
