#include "capabilities/rcp_http_property_source.h"

namespace vantrel {

std::string CRcpHttpPropertySource::ReadString(uint16_t command, uint32_t num) {
  if (cancelled_) return {};
  return rcp_.GetRcpString(command, num);
}

uint32_t CRcpHttpPropertySource::ReadNumber(uint16_t command, bool& ok) {
  ok = false;
  if (cancelled_) return 0;
  return rcp_.GetRcpULong(command, &ok);
}

std::vector<uint8_t> CRcpHttpPropertySource::ReadBytes(uint16_t command, uint32_t num) {
  if (cancelled_) return {};
  return rcp_.GetRcpOctets(command, num);
}

std::vector<uint8_t> CRcpHttpPropertySource::Exchange(const std::string& payload, uint32_t num) {
  std::vector<uint8_t> reply;
  if (cancelled_) return reply;
  rcp_.ExchangeRcpData(payload, reply, num);
  return reply;
}

void CRcpHttpPropertySource::Cancel() {
  cancelled_ = true;
  rcp_.Abort();
}

}  // namespace vantrel
