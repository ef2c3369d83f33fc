// The pieces of recording replay that decide, frame by frame, what the host gets: the capture
// time of a replayed frame (from the recording's start and its RTP timestamps), which frames
// fill the gap, and the recordings list the camera answers with. Portable: no Win32 here, so the
// decisions are unit-tested under the sanitizers.
#pragma once

#include <cstdint>
#include <mutex>
#include <span>
#include <vector>

namespace vantrel {

// One recording on the camera's storage, as UTC FILETIME values.
struct RecordedInterval {
  uint64_t start = 0;
  uint64_t end = 0;
};

// Reply of the recordings request: 16-byte records, big-endian camera seconds.
//
//   +-------------------------------+-------------------------------+
//   | start (u32, s since 2000 UTC) | end (u32, s since 2000 UTC)   |
//   +-------------------------------+-------------------------------+
//   | 8 bytes the replay does not need                              |
//   +---------------------------------------------------------------+
//
// A trailing piece shorter than a record is ignored. A record whose end is not after its start
// cannot be played to its end and is left out rather than making the replay wait for frames
// that never come. The result is ordered by start.
std::vector<RecordedInterval> ParseRecordingList(std::span<const uint8_t> bytes);

// True when the Annex B access unit holds an IDR slice.
bool IsH264KeyFrame(std::span<const uint8_t> accessUnit);

// Capture times of a recording being replayed: the recording's start plus the 90 kHz RTP clock.
// The first timestamp after Start is the recording's start; timestamps that do not move forward
// (modulo 2^32, so a wrap is not a jump back) leave the time where it is.
class CReplayTimeBase {
 public:
  void Start(uint64_t recordingStart);
  void Clear();
  // False while no recording is being played; `time` is then untouched.
  bool FrameTime(uint32_t rtpTimestamp, uint64_t& time);

 private:
  std::mutex lock_;
  uint64_t base_ = 0;  // guarded by lock_
  uint32_t lastTimestamp_ = 0;
  bool haveTimestamp_ = false;
};

// Which replayed frames fill the host's gap (begin, end): only frames newer than the newest
// one handled so far, from the recording's first key frame on (a decoder cannot start on a
// difference frame), and before the first frame the host received live again.
class CReplayFrameFilter {
 public:
  enum class Verdict { kOld, kHeld, kDeliver };
  // The gap's edges are the camera's capture times of the host's last frame before it and its
  // first after it, mapped from the live stream's sender reports; the recorded copies of those
  // frames carry the same times up to rounding and the report's own precision. Times this close
  // are the same picture (less than half a frame interval at 60 frames per second).
  static constexpr uint64_t kSamePictureTicks = 80000;  // 8 ms

  // A new work item: the position starts at the last frame the host has.
  void SetItem(uint64_t begin, uint64_t end);
  // A new recording is played from its start: wait for its key frame again.
  void StartRecording();
  // Advances the position for every frame newer than it.
  Verdict Take(uint64_t time, bool keyFrame);

  uint64_t GetPosition();
  uint64_t GetEnd();
  uint32_t GetFrameCount();

 private:
  std::mutex lock_;
  uint64_t position_ = 0;  // guarded by lock_
  uint64_t begin_ = 0;     // the host's last frame before the gap
  uint64_t end_ = 0;
  bool skipUntilKeyFrame_ = true;
  uint32_t frames_ = 0;
};

}  // namespace vantrel
