// Encoder profile pairs a camera line offers (reply of RCP+ 0x0AF9): 12-byte records, of which
// only two bytes are ours to read:
//
//   byte  0 .. 6   (camera's own)
//   byte  7        first value  (recording-stream encoder code)
//   byte  8 .. 10  (camera's own)
//   byte 11        second value (live-stream encoder code)
//
// A trailing piece shorter than a record is ignored, and no more than kMaxProfileRecords are
// taken: a camera never offers that many, so a longer reply is garbage and must not grow the
// host's parameter text without bound.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace vantrel {

struct EncoderProfileRecords {
  std::vector<std::pair<uint8_t, uint8_t>> pairs;
  bool zeroFirst = false;   // some pair has first value 0
  bool zeroSecond = false;  // some pair has second value 0
  bool truncated = false;   // bytes were left over or records were dropped
};

constexpr size_t kProfileRecordSize = 12;
constexpr size_t kMaxProfileRecords = 64;

EncoderProfileRecords ParseEncoderProfileRecords(std::span<const uint8_t> bytes);

// The pairs as the host keeps them (open parameter 7): "a,b" joined by ":".
std::string EncoderCapabilityText(const EncoderProfileRecords& records);

}  // namespace vantrel
