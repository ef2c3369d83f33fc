// Reads the picture size from an H.264 sequence parameter set (ITU-T H.264 7.3.2.1.1).
//
// The reader is an MSB-first bit reader whose reads past the end yield 1 bits: a truncated SPS
// then decodes as small Exp-Golomb values instead of looping, and the "passed the end" flag
// rejects the result. That rule is about values only: no byte beyond the input is ever touched.
// Emulation-prevention bytes (00 00 03) are removed first, so an SPS whose early fields contain
// such a sequence still yields its true size. Absurd values (more than 255 reference frames in
// the picture-order cycle, pictures above 16384 pixels, cropping that eats the picture) fail.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vantrel {

class CH264SpsReader {
 public:
  // Finds the first 00 00 01 followed by a NAL header of type 7 in `data` and reads the SPS
  // after it. False when there is none or it does not yield a non-zero size.
  static bool FindAndParse(const uint8_t* data, size_t size, uint32_t& width, uint32_t& height);
  // Reads an SPS NAL unit that starts with its NAL header byte.
  static bool ParseNalUnit(const uint8_t* nal, size_t size, uint32_t& width, uint32_t& height);
};

}  // namespace vantrel
