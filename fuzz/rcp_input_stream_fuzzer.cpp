// Drives RcpInputStream with a read sequence taken from the input itself, checking that every
// read either consumes exactly its width or throws and consumes nothing.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "rcpplus/rcp_input_stream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // The first bytes choose the operations; the whole input is also the stream's data.
  const size_t opCount = data[0] % 32;
  rcpplus::RcpInputStream in(data, size);
  std::vector<char> buffer(256);
  for (size_t i = 0; i < opCount; ++i) {
    const uint8_t op = data[(i + 1) % size];
    const size_t before = in.available();
    size_t width = 0;
    try {
      switch (op % 6) {
        case 0:
          width = 1;
          in.readOctet();
          break;
        case 1:
          width = 2;
          in.readUShort();
          break;
        case 2:
          width = 4;
          in.readULong();
          break;
        case 3:
          width = op % 64;
          in.readString(buffer.data(), width);
          break;
        case 4:
          width = op / 6;
          (void)in.readString(width);
          break;
        case 5:
          width = op % 16;
          in.skip(width);
          break;
      }
      if (in.available() != before - width) std::abort();
    } catch (const rcpplus::RcpStreamEnd&) {
      if (in.available() != before || before >= width) std::abort();
    }
  }
  return 0;
}
