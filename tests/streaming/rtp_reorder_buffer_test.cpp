#include "streaming/rtp_reorder_buffer.h"

#include <gtest/gtest.h>

#include <vector>

namespace vantrel {
namespace {

struct Arrival {
  uint16_t sequence;
  uint64_t ms;
};

std::vector<uint16_t> Reorder(const std::vector<Arrival>& arrivals, bool flush = false) {
  CRtpReorderBuffer buffer;
  std::vector<uint16_t> out;
  auto deliver = [&](const CRTPPacket& p) { out.push_back(p.GetSequenceNumber()); };
  for (const Arrival& a : arrivals) {
    CRTPPacket packet;
    packet.SetSequenceNumber(a.sequence);
    buffer.Push(packet, a.ms, deliver);
  }
  if (flush) buffer.Flush(deliver);
  return out;
}

TEST(RtpReorderBufferTest, DeliversInOrderWithinItsBounds) {
  struct Case {
    const char* name;
    std::vector<Arrival> arrivals;
    std::vector<uint16_t> delivered;
    bool flush;
  };
  const Case cases[] = {
      {"in order", {{1, 0}, {2, 0}, {3, 0}}, {1, 2, 3}, false},
      {"one swapped pair", {{1, 0}, {3, 1}, {2, 2}, {4, 3}}, {1, 2, 3, 4}, false},
      {"two apart", {{1, 0}, {4, 1}, {3, 2}, {2, 3}, {5, 4}}, {1, 2, 3, 4, 5}, false},
      {"duplicates dropped", {{1, 0}, {2, 0}, {2, 0}, {4, 0}, {4, 0}, {3, 0}, {1, 0}}, {1, 2, 3, 4}, false},
      {"loss given up after the held limit",
       {{1, 0}, {3, 0}, {4, 0}, {5, 0}, {6, 0}, {7, 0}, {2, 0}},
       {1, 3, 4, 5, 6, 7},
       false},
      {"loss given up after the time limit",
       {{1, 0}, {3, 0}, {4, 49}, {5, 50}, {6, 51}},
       {1, 3, 4, 5, 6},
       false},
      {"held packets wait for the next arrival or a flush", {{1, 0}, {3, 0}}, {1, 3}, true},
      {"sequence wrap", {{65534, 0}, {65535, 0}, {1, 0}, {0, 0}, {2, 0}}, {65534, 65535, 0, 1, 2}, false},
      {"a stream that restarts far back",
       {{5000, 0}, {5001, 0}, {10, 0}, {11, 0}},
       {5000, 5001, 10, 11},
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Reorder(c.arrivals, c.flush), c.delivered);
  }
}

}  // namespace
}  // namespace vantrel
