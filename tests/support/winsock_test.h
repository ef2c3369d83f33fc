// Base fixture for tests whose code under test opens sockets outside a channel's own Winsock
// start-up (test peers, address resolution in constructors).
#pragma once

#include <gtest/gtest.h>
#include <winsock2.h>

namespace vantrel::testing {

class WinsockTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
  }
  static void TearDownTestSuite() { WSACleanup(); }
};

}  // namespace vantrel::testing
