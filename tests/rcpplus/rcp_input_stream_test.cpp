#include "rcpplus/rcp_input_stream.h"

#include <gtest/gtest.h>

#include <vector>

#include "rcpplus/rcpplus_system.h"

namespace {

using rcpplus::RcpInputStream;
using rcpplus::RcpStreamEnd;

TEST(RcpInputStream, ReadsValuesInNetworkByteOrder) {
  // clang-format off
  const std::vector<uint8_t> bytes = {
      0x7f,                    // octet
      0x12, 0x34,              // ushort 0x1234
      0xde, 0xad, 0xbe, 0xef,  // ulong 0xdeadbeef
      'a', 'b', 0x00, 'c',     // four raw bytes, one of them zero
      0xff, 0xff,              // skipped
      0x01,                    // octet
  };
  // clang-format on
  RcpInputStream in(bytes);
  EXPECT_TRUE(in.wait());
  EXPECT_EQ(in.readOctet(), 0x7f);
  EXPECT_EQ(in.readUShort(), 0x1234);
  EXPECT_EQ(in.readULong(), 0xdeadbeefu);
  EXPECT_EQ(in.readString(4), std::string("ab\0c", 4));
  in.skip(2);
  EXPECT_EQ(in.available(), 1u);
  EXPECT_EQ(in.readOctet(), 0x01);
  EXPECT_FALSE(in.wait());
  EXPECT_THROW(in.readOctet(), RcpStreamEnd);
}

// A read that does not fit throws and consumes nothing, whatever its width, so a caller that
// catches can still read what is left with a narrower read.
TEST(RcpInputStream, ShortReadThrowsAndKeepsPosition) {
  const std::vector<uint8_t> bytes = {1, 2, 3};
  struct Case {
    const char* what;
    void (*read)(RcpInputStream&);
  };
  const Case cases[] = {
      {"readULong", [](RcpInputStream& in) { in.readULong(); }},
      {"readString", [](RcpInputStream& in) { in.readString(4); }},
      {"readString(buffer)",
       [](RcpInputStream& in) {
         char b[8];
         in.readString(b, 4);
       }},
      {"skip", [](RcpInputStream& in) { in.skip(4); }},
      {"huge skip", [](RcpInputStream& in) { in.skip(SIZE_MAX); }},
  };
  for (const Case& c : cases) {
    RcpInputStream in(bytes);
    in.readOctet();
    EXPECT_THROW(c.read(in), RcpStreamEnd) << c.what;
    EXPECT_EQ(in.available(), 2u) << c.what;
    EXPECT_EQ(in.readUShort(), 0x0203) << c.what;
  }
  RcpInputStream odd(bytes.data(), 1);
  EXPECT_THROW(odd.readUShort(), RcpStreamEnd);
}

TEST(RcpInputStream, CatchableAsStandardException) {
  RcpInputStream empty;
  EXPECT_THROW(empty.readOctet(), std::exception);
  RcpInputStream null(nullptr, 16);  // a null buffer is empty, whatever size comes with it
  EXPECT_EQ(null.available(), 0u);
  EXPECT_THROW(null.readOctet(), RcpStreamEnd);
  // Zero-length reads succeed at the end.
  EXPECT_NO_THROW(null.skip(0));
  EXPECT_EQ(null.readString(0), "");
}

TEST(RcpInputStream, OwnsMovedBuffer) {
  std::vector<uint8_t> bytes = {0, 0, 1, 0};
  RcpInputStream in(std::move(bytes));
  bytes.assign(4, 0xEE);  // the caller's vector is reused: the stream must not see it
  EXPECT_EQ(in.readULong(), 0x100u);
}

TEST(RcpplusSystem, DispatchRunsPostedCallbacksInOrderAndTerminateTearsDownNewestFirst) {
  static std::vector<int> seen;
  seen.clear();
  auto record = [](void* ctx) { seen.push_back(static_cast<int>(reinterpret_cast<intptr_t>(ctx))); };
  const uint32_t dispatches = rcpplus::System::dispatchCount();
  const uint32_t terminations = rcpplus::System::terminateCount();

  rcpplus::System::postCallback(record, reinterpret_cast<void*>(1));
  rcpplus::System::postCallback(record, reinterpret_cast<void*>(2));
  rcpplus::System::registerShutdown(record, reinterpret_cast<void*>(10));
  rcpplus::System::registerShutdown(record, reinterpret_cast<void*>(11));
  rcpplus::System::registerShutdown(record, reinterpret_cast<void*>(12));
  rcpplus::System::unregisterShutdown(record, reinterpret_cast<void*>(11));

  rcpplus::System::dispatchCallback();
  EXPECT_EQ(seen, (std::vector<int>{1, 2}));
  rcpplus::System::terminate();
  EXPECT_EQ(seen, (std::vector<int>{1, 2, 12, 10}));
  rcpplus::System::terminate();  // nothing left to tear down
  EXPECT_EQ(seen.size(), 4u);
  EXPECT_EQ(rcpplus::System::dispatchCount(), dispatches + 1);
  EXPECT_EQ(rcpplus::System::terminateCount(), terminations + 2);
}

}  // namespace
