// The device connection record every camera-talking object keeps its own copy of.
#pragma once

#include <cstdint>
#include <string>

namespace vantrel {

struct DEVICE_INFO {
  virtual ~DEVICE_INFO() = default;

  uint32_t timeout = 5000;        // ms: HTTP request time-out, first-frame wait; doubled for thread stops
  uint32_t signalTimeout = 5000;  // ms: nothing received this long means signal loss
  std::string address;            // host name or dotted IPv4 address
  uint32_t port = 80;
  std::string user;
  std::string password;
  std::string model;
};

}  // namespace vantrel
