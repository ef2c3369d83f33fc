// Camera bytes of the replay: the recordings list and the access units scanned for key frames.
#include <cstddef>
#include <cstdint>
#include <span>

#include "edgestorage/replay_frame_filter.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> bytes(data, size);
  const auto list = vantrel::ParseRecordingList(bytes);
  if (list.size() > size / 16) __builtin_trap();
  for (size_t i = 0; i < list.size(); ++i) {
    if (list[i].end <= list[i].start) __builtin_trap();
    if (i > 0 && list[i - 1].start > list[i].start) __builtin_trap();
  }
  vantrel::IsH264KeyFrame(bytes);
  return 0;
}
