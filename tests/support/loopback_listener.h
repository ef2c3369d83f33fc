// Fake cameras of the unit tests and benchmarks listen on a free loopback port: no test depends on
// a fixed port being free.
#pragma once

#include <winsock2.h>

#include <cstdint>

namespace vantrel::testing {

// A listening TCP socket on a free loopback port, for the test's fake camera; `port` is set to it.
inline SOCKET ListenOnLoopback(int backlog, uint16_t& port) {
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(s, reinterpret_cast<sockaddr*>(&address), sizeof(address));
  int length = sizeof(address);
  getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
  port = ntohs(address.sin_port);
  listen(s, backlog);
  return s;
}

}  // namespace vantrel::testing
