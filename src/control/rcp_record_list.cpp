#include "control/rcp_record_list.h"

#include "rcpplus/rcp_input_stream.h"

namespace vantrel {

bool ParseRcpRecordList(std::span<const uint8_t> bytes, RcpRecordMap& out) {
  out.clear();
  rcpplus::RcpInputStream in(bytes);
  try {
    for (size_t read = 0; read < kMaxRcpRecords && in.available() > 0; ++read) {
      in.skip(4);
      const uint32_t value = in.readULong();
      const uint32_t first = in.readULong();
      const uint32_t second = in.readULong();
      if (first != 0 && second != 0) out[{first, second}] = value;
      in.skip(4);
    }
  } catch (...) {
    // End of the data: the reader reports it only this way.
  }
  return !out.empty();
}

}  // namespace vantrel
