// Camera properties read from a camera over RCP+ over HTTP.
#pragma once

#include <atomic>

#include "capabilities/rcp_property_source.h"
#include "control/rcp_http.h"

namespace vantrel {

class CRcpHttpPropertySource : public IRcpPropertySource {
 public:
  explicit CRcpHttpPropertySource(const DEVICE_INFO& device) : rcp_(device) {}

  std::string ReadString(uint16_t command, uint32_t num) override;
  uint32_t ReadNumber(uint16_t command, bool& ok) override;
  std::vector<uint8_t> ReadBytes(uint16_t command, uint32_t num) override;
  std::vector<uint8_t> Exchange(const std::string& payload, uint32_t num) override;
  uint32_t LastHttpStatus() const override { return rcp_.GetLastStatusCode(); }
  void Cancel() override;

 private:
  CRcpHttp rcp_;
  // The sender forgets an abort when its next request starts; this keeps later reads from
  // starting at all.
  std::atomic<bool> cancelled_{false};
};

}  // namespace vantrel
