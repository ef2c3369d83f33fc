#include "streaming/sdp_response_parser.h"

#include <gtest/gtest.h>

#include "streaming/key_value.h"

namespace vantrel {
namespace {

TEST(SDPResponseParserTest, FirstDescriptionWithControlWinsPerKind) {
  CSDPResponseParser parser;
  ASSERT_TRUE(parser.Parse(
      "v=0\r\nc=IN IP4 239.0.0.1/16\r\n"
      "m=video 4000 RTP/AVP 96\r\na=rtpmap:96 H264/90000\r\na=control:first\r\n"
      "m=video 4002 RTP/AVP 97\r\na=rtpmap:97 JPEG/90000\r\na=control:second\r\nc=IN IP4 239.0.0.2\r\n"
      "m=application 0 RTP/AVP 107\r\na=rtpmap:107 vnd.onvif.metadata/90000\r\na=control:meta\r\n"
      "m=text 0 RTP/AVP 98\r\na=control:ignored\r\n"));
  const SdpInfo& info = parser.GetSdpInfo();
  EXPECT_EQ(info.video.control, "first");
  EXPECT_EQ(info.video.port, 4000);
  EXPECT_EQ(info.video.protocol, "RTP/AVP");
  EXPECT_EQ(info.video.payloadType, 96);
  EXPECT_EQ(info.video.encoding, "H264/90000");
  EXPECT_EQ(info.video.connectionAddress, "239.0.0.1") << "session-level c= applies";
  EXPECT_EQ(info.metadata.control, "meta");
  EXPECT_EQ(info.audio.control, "");
}

TEST(SDPResponseParserTest, SendonlyDropsTheDescriptionButNotTheSession) {
  CSDPResponseParser parser;
  ASSERT_TRUE(
      parser.Parse("m=video 0 RTP/AVP 96\r\na=control:v\r\n"
                   "m=audio 0 RTP/AVP 0\r\na=control:backchannel\r\na=sendonly\r\na=fmtp:0 x=1\r\n"));
  EXPECT_EQ(parser.GetSdpInfo().video.control, "v");
  EXPECT_EQ(parser.GetSdpInfo().audio.control, "");
}

TEST(SDPResponseParserTest, JpegDimensionsBeyondTheRtpHeader) {
  const struct {
    const char* line;
    uint32_t width, height;
  } cases[] = {
      {"a=x-dimensions:2592,1944", 2592, 1944},
      {"a=x-dimensions: 4000,3000", 4000, 3000},
      {"a=x-dimensions:0,1944", 0, 0},
      {"a=x-dimensions:70000,10", 0, 0},
      {"a=x-dimensions:abc", 0, 0},
  };
  for (const auto& c : cases) {
    CSDPResponseParser parser;
    ASSERT_TRUE(parser.Parse(std::string("m=video 0 RTP/AVP 26\r\na=control:v\r\n") + c.line + "\r\n"));
    EXPECT_EQ(parser.GetSdpInfo().video.width, c.width) << c.line;
    EXPECT_EQ(parser.GetSdpInfo().video.height, c.height) << c.line;
  }
}

TEST(SDPResponseParserTest, ParseVerdicts) {
  const struct {
    const char* name;
    const char* text;
    bool ok;
  } cases[] = {
      {"empty", "", false},
      {"fmtp before any media", "v=0\r\na=fmtp:96 x=1\r\n", false},
      {"fmtp in unknown media", "m=text 0 RTP/AVP 9\r\na=fmtp:9 x=1\r\n", false},
      {"fmtp in metadata", "m=application 0 RTP/AVP 9\r\na=fmtp:9 x=1\r\n", true},
      {"short m= line", "m=video\r\na=control:x\r\n", true},
      {"garbage lines", "hello\r\n\r\n\x01\x02\r\n", true},
  };
  for (const auto& c : cases) {
    CSDPResponseParser parser;
    EXPECT_EQ(parser.Parse(c.text), c.ok) << c.name;
  }
}

TEST(SDPResponseParserTest, VideoFormatParameters) {
  const struct {
    const char* name;
    const char* fmtp;
    size_t sps, pps, config;
  } cases[] = {
      {"two sets", "a=fmtp:96 packetization-mode=1; sprop-parameter-sets=Z0IAHpWoLQSZ,aM48gA==", 9, 4, 0},
      {"one set stores none", "a=fmtp:96 sprop-parameter-sets=Z0IAHpWoLQSZ", 0, 0, 0},
      {"bad base64 stores none", "a=fmtp:96 sprop-parameter-sets=Z0IAH!WoLQSZ,aM48gA==", 0, 0, 0},
      {"config in hex", "a=fmtp:96 profile-level-id=1;config=000001B001000001B5", 0, 0, 9},
      {"config in base64", "a=fmtp:96 config=AAABsAE=", 0, 0, 5},
      {"odd hex config", "a=fmtp:96 config=000", 0, 0, 0},
  };
  for (const auto& c : cases) {
    CSDPResponseParser parser;
    ASSERT_TRUE(parser.Parse(std::string("m=video 0 RTP/AVP 96\r\n") + c.fmtp + "\r\n")) << c.name;
    EXPECT_EQ(parser.GetSdpInfo().sequenceParameterSet.size(), c.sps) << c.name;
    EXPECT_EQ(parser.GetSdpInfo().pictureParameterSet.size(), c.pps) << c.name;
    EXPECT_EQ(parser.GetSdpInfo().configuration.size(), c.config) << c.name;
  }
}

TEST(SDPResponseParserTest, AudioCodecs) {
  const struct {
    const char* rtpmap;
    const char* tag;
    uint32_t rate, bitRate;
    uint8_t channels;
  } cases[] = {
      {"0 PCMU/8000", "711M", 8000, 0, 1},
      {"8 PCMA/8000", "711A", 8000, 0, 1},
      {"97 G726-32/8000", "7261", 8000, 32000, 1},
      {"96 mpeg4-generic/16000/2", nullptr, 16000, 0, 2},
      {"96 MPEG4-GENERIC/48000", nullptr, 48000, 0, 1},
  };
  for (const auto& c : cases) {
    CSDPResponseParser parser;
    ASSERT_TRUE(parser.Parse(std::string("m=audio 0 RTP/AVP 0\r\na=rtpmap:") + c.rtpmap + "\r\n"));
    const auto& codec = parser.GetAudioCodec();
    if (c.tag)
      EXPECT_EQ(codec.tag, uint32_t(uint8_t(c.tag[0])) | uint32_t(uint8_t(c.tag[1])) << 8 |
                               uint32_t(uint8_t(c.tag[2])) << 16 | uint32_t(uint8_t(c.tag[3])) << 24)
          << c.rtpmap;
    else
      EXPECT_EQ(codec.tag, SdpAudioCodec::kNone) << c.rtpmap;
    EXPECT_EQ(codec.sampleRate, c.rate) << c.rtpmap;
    EXPECT_EQ(codec.bitRate, c.bitRate) << c.rtpmap;
    EXPECT_EQ(codec.channels, c.channels) << c.rtpmap;
  }
}

TEST(SDPResponseParserTest, Mpeg4GenericAudioParameters) {
  CSDPResponseParser parser;
  ASSERT_TRUE(parser.Parse(
      "m=audio 0 RTP/AVP 96\r\na=rtpmap:96 mpeg4-generic/16000/1\r\n"
      "a=fmtp:96 streamtype=5; profile-level-id=15; mode=AAC-hbr; config=1408; SizeLength=13; IndexLength=3; "
      "indexDeltaLength=3; ctsdeltalength=0\r\n"));
  const auto& aac = parser.GetMpeg4Audio();
  EXPECT_EQ(aac.mode, "AAC-hbr");
  EXPECT_EQ(aac.streamType, "5");
  EXPECT_EQ(aac.profileLevelId, "15");
  EXPECT_EQ(aac.config, (std::vector<uint8_t>{0x14, 0x08}));
  EXPECT_EQ(aac.sizeLength, 13u);
  EXPECT_EQ(aac.indexLength, 3u);
}

TEST(KeyValueTest, ExtractValue) {
  const struct {
    const char* text;
    const char* key;
    char separator;
    const char* delimiters;
    const char* value;
  } cases[] = {
      {"RTP/AVP;client_port=1-2;port=5-6", "port", '=', ";", "5-6"},
      {"RTP/AVP;client_port=1-2", "port", '=', ";", ""},
      {"Session: 12;timeout=5", "Session:", ' ', ";", "12"},
      {"a=b; timeout = 7", "timeout", '=', ";", " 7"},
      {"interleaved=0-1", "interleaved", '=', ";-", "0"},
      {"keykey=1", "key", '=', ";", ""},
      {"", "key", '=', ";", ""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ExtractValue(c.text, c.key, c.separator, c.delimiters), c.value) << c.text << " / " << c.key;
}

}  // namespace
}  // namespace vantrel
