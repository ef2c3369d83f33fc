#include "streaming/base64.h"

#include <gtest/gtest.h>

namespace vantrel {
namespace {

TEST(Base64Test, RoundTripsRfc4648Vectors) {
  const struct {
    const char* plain;
    const char* encoded;
  } cases[] = {{"", ""},
               {"f", "Zg=="},
               {"fo", "Zm8="},
               {"foo", "Zm9v"},
               {"foob", "Zm9vYg=="},
               {"fooba", "Zm9vYmE="},
               {"foobar", "Zm9vYmFy"},
               {"user:pass", "dXNlcjpwYXNz"}};
  for (const auto& c : cases) {
    EXPECT_EQ(Base64Encode(c.plain), c.encoded) << c.plain;
    std::vector<uint8_t> decoded;
    ASSERT_TRUE(Base64Decode(c.encoded, decoded)) << c.encoded;
    EXPECT_EQ(std::string(decoded.begin(), decoded.end()), c.plain);
  }
}

TEST(Base64Test, BreaksLinesEvery76CharactersWithoutTrailingBreak) {
  const std::string encoded = Base64Encode(std::string(57 * 2, 'a'));  // exactly two full lines
  ASSERT_EQ(encoded.size(), 76u * 2 + 2);
  EXPECT_EQ(encoded.substr(76, 2), "\r\n");
  EXPECT_NE(encoded.back(), '\n');
  std::vector<uint8_t> decoded;
  ASSERT_TRUE(Base64Decode(encoded, decoded));
  EXPECT_EQ(decoded.size(), 114u);
}

TEST(Base64Test, DecodesParameterSetsWithAndWithoutPadding) {
  std::vector<uint8_t> out;
  ASSERT_TRUE(Base64Decode("aMuMsg==", out));
  EXPECT_EQ(out, (std::vector<uint8_t>{0x68, 0xCB, 0x8C, 0xB2}));
  ASSERT_TRUE(Base64Decode("aMuMsg", out));
  EXPECT_EQ(out, (std::vector<uint8_t>{0x68, 0xCB, 0x8C, 0xB2}));
}

TEST(Base64Test, RejectsMalformedInput) {
  for (const char* bad : {"Zg=a", "Z===", "Zm9v!", "Z", "Zm9vY", "=Zm9", "Zg==Zg==", "Zm 9v", "Zg==="}) {
    std::vector<uint8_t> out = {1, 2, 3};
    EXPECT_FALSE(Base64Decode(bad, out)) << bad;
    EXPECT_TRUE(out.empty()) << bad;
  }
}

}  // namespace
}  // namespace vantrel
