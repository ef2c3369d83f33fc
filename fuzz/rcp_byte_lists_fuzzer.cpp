// Capability list (0xFF10) and record list (0x0C00) parsers over camera bytes.
#include <cstddef>
#include <cstdint>
#include <span>

#include "control/rcp_capability_list.h"
#include "control/rcp_record_list.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> bytes(data, size);
  vantrel::RcpCapabilityMasks masks;
  vantrel::ParseRcpCapabilityList(bytes, masks);
  vantrel::RcpRecordMap records;
  if (vantrel::ParseRcpRecordList(bytes, records) && records.size() > size / 16 + 1) __builtin_trap();
  return 0;
}
