#include "control/md5.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vantrel {
namespace {

struct Vector {
  const char* input;
  const char* digest;
};

// The test suite of RFC 1321, plus lengths around the 56- and 64-byte padding boundaries.
const Vector kVectors[] = {
    {"", "d41d8cd98f00b204e9800998ecf8427e"},
    {"a", "0cc175b9c0f1b6a831c399e269772661"},
    {"abc", "900150983cd24fb0d6963f7d28e17f72"},
    {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
    {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
    {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
    {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
     "57edf4a22be3c955ac49da2e2107b67a"},
    {"The quick brown fox jumps over the lazy dog", "9e107d9d372bb6826bd81d3542a419d6"},
};

TEST(Md5Test, MatchesReferenceVectors) {
  for (const Vector& v : kVectors) EXPECT_EQ(Md5Hex(v.input), v.digest) << "input \"" << v.input << "\"";
}

TEST(Md5Test, PieceByPieceEqualsWhole) {
  // Every split point of messages that straddle the block and padding boundaries.
  for (size_t length : {55u, 56u, 63u, 64u, 65u, 119u, 120u, 200u}) {
    std::string message;
    for (size_t i = 0; i < length; ++i) message.push_back(static_cast<char>('a' + i % 26));
    const Md5Digest whole = Md5(message);
    for (size_t split = 0; split <= length; ++split) {
      CMd5 md5;
      md5.Update(std::string_view(message).substr(0, split));
      md5.Update(std::string_view(message).substr(split));
      ASSERT_EQ(md5.Final(), whole) << "length " << length << " split " << split;
    }
  }
}

TEST(Md5Test, FinalStartsOver) {
  CMd5 md5;
  md5.Update("junk");
  md5.Final();
  md5.Update("abc");
  EXPECT_EQ(ToHex(md5.Final()), "900150983cd24fb0d6963f7d28e17f72");
}

TEST(Md5Test, BinaryInputAndHUtilsName) {
  const std::vector<uint8_t> zeros(3, 0);
  EXPECT_EQ(ToHex(Md5(zeros)), "693e9af84d3dfcc71e640e005bdc5e2e");
  EXPECT_EQ(HUtils::Md5Hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
}

// The worked Digest example of RFC 2617 section 3.5, as the RTSP and HTTP clients compute it.
TEST(Md5Test, DigestResponseExample) {
  const std::string ha1 = Md5Hex("Mufasa:testrealm@host.com:Circle Of Life");
  const std::string ha2 = Md5Hex("GET:/dir/index.html");
  const std::string response =
      Md5Hex(ha1 + ":dcd98b7102dd2f0e8b11d0f600bfb0c093:00000001:0a4f113b:auth:" + ha2);
  EXPECT_EQ(response, "6629fae49393a05397450978507c4ef1");
}

}  // namespace
}  // namespace vantrel
