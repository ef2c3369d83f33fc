// List of records of a camera line (reply of RCP+ 0x0C00): what sizes the camera's remote
// stream offers. Records of 20 bytes, big-endian, read until the data ends:
//
//   u16 (skipped) | u16 (skipped) | u32 value | u32 key 1 | u32 key 2 | u32 (skipped)
//
// A record whose two keys are both non-zero stores its value under (key 1, key 2), replacing
// an earlier record of the same pair. The final record may be cut short after its keys (it
// is still taken); a record cut before its keys ends the list.
//
// A camera lists a handful of sizes; at most kMaxRcpRecords records are read, so that a hostile
// reply of many megabytes costs neither memory nor time in the lists built from it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <span>
#include <utility>

namespace vantrel {

constexpr size_t kMaxRcpRecords = 64;

using RcpRecordMap = std::map<std::pair<uint32_t, uint32_t>, uint32_t>;

// True when at least one record was stored; `out` is cleared first.
bool ParseRcpRecordList(std::span<const uint8_t> bytes, RcpRecordMap& out);

}  // namespace vantrel
