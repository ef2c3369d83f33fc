#include <cstddef>
#include <cstdint>

#include "streaming/jpeg_media_parser.h"
#include "streaming_fuzz_support.h"

// An HTTP Motion JPEG body, fed whole and in chunks (size from the first byte); both must cut
// out the same images.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const size_t chunk = data[0] + 1;
  vantrel::fuzzing::Harness wholeHarness, chunkHarness;
  vantrel::CJpegMediaParser whole(&wholeHarness.driver), chunked(&chunkHarness.driver);
  whole.SetClient(&wholeHarness.client);
  chunked.SetClient(&chunkHarness.client);
  whole.ProcessData(data + 1, size - 1);
  for (size_t at = 1; at < size; at += chunk)
    chunked.ProcessData(data + at, size - at < chunk ? size - at : chunk);
  if (wholeHarness.client.checksum != chunkHarness.client.checksum ||
      wholeHarness.allocator.allocations != chunkHarness.allocator.allocations)
    __builtin_trap();
  return 0;
}
