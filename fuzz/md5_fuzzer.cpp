// Feeds the input whole and in two pieces split by its first byte; both digests must agree.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "control/md5.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::span<const uint8_t> input(data, size);
  const vantrel::Md5Digest whole = vantrel::Md5(input);
  const size_t split = size ? data[0] % (size + 1) : 0;
  vantrel::CMd5 md5;
  md5.Update(input.first(split));
  md5.Update(input.subspan(split));
  if (md5.Final() != whole) std::abort();
  if (vantrel::ToHex(whole).size() != 32) std::abort();
  return 0;
}
