// Where camera properties come from: the RCP+ reads a property load makes, behind an interface
// so that the load's rules run the same against a camera (CRcpHttp) and against scripted
// answers in native tests. Called on the load's thread; Cancel may come from any thread and
// makes the read in progress and every later one fail at once.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vantrel {

class IRcpPropertySource {
 public:
  virtual ~IRcpPropertySource() = default;

  // "P_STRING" read; empty on failure.
  virtual std::string ReadString(uint16_t command, uint32_t num) = 0;
  // "P_ULONG" read; `ok` tells whether the camera answered without an error.
  virtual uint32_t ReadNumber(uint16_t command, bool& ok) = 0;
  // "P_OCTET" read; empty on failure.
  virtual std::vector<uint8_t> ReadBytes(uint16_t command, uint32_t num) = 0;
  // Byte message to the camera (0x09A5); the reply bytes, empty on failure.
  virtual std::vector<uint8_t> Exchange(const std::string& payload, uint32_t num) = 0;
  // HTTP status of the last request; 0 when the camera did not answer at all.
  virtual uint32_t LastHttpStatus() const = 0;
  virtual void Cancel() = 0;
};

}  // namespace vantrel
