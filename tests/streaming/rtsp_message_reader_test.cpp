#include "streaming/rtsp_message_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "streaming/rtsp_url.h"

namespace vantrel {
namespace {

using Kind = RtspMessage::Kind;

std::vector<RtspMessage> ReadAll(const std::string& bytes, size_t chunk) {
  CRTSPMessageReader reader;
  std::vector<RtspMessage> out;
  for (size_t at = 0; at < bytes.size(); at += chunk) {
    reader.Append(bytes.data() + at, std::min(chunk, bytes.size() - at));
    while (auto message = reader.Next()) out.push_back(*message);
  }
  return out;
}

// One connection's worth of traffic, read whole and in every small split: the same messages
// must come out, with their header blocks normalised.
TEST(RtspMessageReaderTest, SplitsResponsesRequestsAndFramesInAnySplit) {
  const std::string bytes =
      std::string("$\x01\x00\x03xyz", 7) +                      // RTCP frame
      "RTSP/1.0 200 OK\nCSeq: 3\nContent-Length: 4\n\nv=0\n" +  // bare LF, body
      "junk line that is neither\r\n" +                         // noise
      "OPTIONS * RTSP/1.0\r\ncseq:  9\r\n\r\n" +                // server request
      "RTSP/1.0 200 OK\r\nCSeq: 4\r\nTransport: RTP/AVP/TCP;\r\n\tinterleaved=2-3\r\n\r\n" +  // folded
      std::string("$\x02\x00\x00", 4) + "\r\n" +  // empty frame, stray CR LF
      "RTSP/1.0 401 Unauthorized\r\nCSeq: 5\r\nContent-Length: 2\r\n\r\nab";
  for (size_t chunk : {bytes.size(), size_t{1}, size_t{2}, size_t{7}}) {
    SCOPED_TRACE(chunk);
    std::vector<RtspMessage> messages = ReadAll(bytes, chunk);
    ASSERT_EQ(messages.size(), 6u);
    EXPECT_EQ(messages[0].kind, Kind::kInterleaved);
    EXPECT_EQ(messages[0].channel, 1);
    EXPECT_EQ(messages[0].data, "xyz");
    EXPECT_EQ(messages[1].kind, Kind::kResponse);
    EXPECT_EQ(messages[1].cseq, 3u);
    EXPECT_EQ(messages[1].data, "RTSP/1.0 200 OK\r\nCSeq: 3\r\nContent-Length: 4\r\n\r\nv=0\n");
    EXPECT_EQ(messages[2].kind, Kind::kRequest);
    EXPECT_EQ(messages[2].method, "OPTIONS");
    EXPECT_EQ(messages[2].cseq, 9u);
    EXPECT_EQ(messages[3].data,
              "RTSP/1.0 200 OK\r\nCSeq: 4\r\nTransport: RTP/AVP/TCP; interleaved=2-3\r\n\r\n");
    EXPECT_EQ(RtspHeaderValue(messages[3].data, "TRANSPORT"), "RTP/AVP/TCP; interleaved=2-3");
    EXPECT_EQ(messages[4].kind, Kind::kInterleaved);
    EXPECT_TRUE(messages[4].data.empty());
    EXPECT_EQ(messages[5].cseq, 5u);
    EXPECT_EQ(messages[5].data.substr(messages[5].data.size() - 2), "ab");
  }
}

TEST(RtspMessageReaderTest, BoundsHoldAgainstHostilePeers) {
  CRTSPMessageReader reader;
  // A header block that never ends is given up, and what follows is still found.
  std::string endless = "RTSP/1.0 200 OK\r\n" + std::string(CRTSPMessageReader::kMaxHeaderBytes + 10, 'x');
  reader.Append(endless.data(), endless.size());
  EXPECT_FALSE(reader.Next());
  std::string frame("$\x00\x00\x01Z", 5);
  reader.Append(frame.data(), frame.size());
  auto message = reader.Next();
  ASSERT_TRUE(message);
  EXPECT_EQ(message->data, "Z");
  EXPECT_EQ(reader.Pending(), 0u);

  // A body past the limit is cut, and the rest of it is dropped rather than read as messages.
  const size_t length = CRTSPMessageReader::kMaxBodyBytes + 100;
  std::string big = "RTSP/1.0 200 OK\r\nCSeq: 1\r\nContent-Length: " + std::to_string(length) + "\r\n\r\n" +
                    std::string(length, 'R') + "RTSP/1.0 200 OK\r\nCSeq: 2\r\n\r\n";
  std::vector<RtspMessage> messages = ReadAll(big, 4096);
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[1].cseq, 2u);

  // Signs and garbage in Content-Length count as no body.
  messages = ReadAll("RTSP/1.0 200 OK\r\nContent-Length: -5\r\n\r\nRTSP/1.0 200 OK\r\nCSeq: 8\r\n\r\n", 3);
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_FALSE(messages[0].cseq);
  EXPECT_EQ(messages[1].cseq, 8u);
}

TEST(RtspUrlTest, ControlUrlsResolveAgainstTheBase) {
  struct Case {
    const char* base;
    const char* control;
    const char* expected;
  };
  const Case cases[] = {
      {"rtsp://h:554/live/", "trackID=1", "rtsp://h:554/live/trackID=1"},
      {"rtsp://h:554/live", "trackID=1", "rtsp://h:554/live/trackID=1"},
      {"rtsp://h:554/live/", "", "rtsp://h:554/live/"},
      {"rtsp://h:554/live/", "*", "rtsp://h:554/live/"},
      {"rtsp://h:554/live/main", "/media/v", "rtsp://h:554/media/v"},
      {"rtsp://h:554", "/media/v", "rtsp://h:554/media/v"},
      {"rtsp://h/a", "rtsp://other/b", "rtsp://other/b"},
      {"", "x", "/x"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ResolveControlUrl(c.base, c.control), c.expected) << c.base << " + " << c.control;
}

}  // namespace
}  // namespace vantrel
