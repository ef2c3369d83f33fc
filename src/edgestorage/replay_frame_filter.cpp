#include "edgestorage/replay_frame_filter.h"

#include <algorithm>

#include "foundation/byte_reader.h"
#include "foundation/filetime_math.h"

namespace vantrel {

namespace {
constexpr size_t kRecordingRecordBytes = 16;
constexpr uint8_t kNalTypeIdr = 5;
}  // namespace

std::vector<RecordedInterval> ParseRecordingList(std::span<const uint8_t> bytes) {
  std::vector<RecordedInterval> out;
  ByteReader reader(bytes);
  while (reader.Remaining() >= kRecordingRecordBytes) {
    uint32_t start = 0, end = 0;
    std::span<const uint8_t> unused;
    reader.ReadU32(start);
    reader.ReadU32(end);
    reader.ReadBytes(kRecordingRecordBytes - 8, unused);
    if (end <= start) continue;
    out.push_back({SecondsSince2000ToFileTime(start), SecondsSince2000ToFileTime(end)});
  }
  std::stable_sort(out.begin(), out.end(),
                   [](const RecordedInterval& a, const RecordedInterval& b) { return a.start < b.start; });
  return out;
}

bool IsH264KeyFrame(std::span<const uint8_t> au) {
  for (size_t i = 0; i + 3 < au.size(); ++i) {
    if (au[i] == 0 && au[i + 1] == 0 && au[i + 2] == 1) {
      if ((au[i + 3] & 0x1F) == kNalTypeIdr) return true;
      i += 2;
    }
  }
  return false;
}

void CReplayTimeBase::Start(uint64_t recordingStart) {
  std::lock_guard guard(lock_);
  base_ = recordingStart;
  lastTimestamp_ = 0;
  haveTimestamp_ = false;
}

void CReplayTimeBase::Clear() { Start(0); }

bool CReplayTimeBase::FrameTime(uint32_t ts, uint64_t& time) {
  std::lock_guard guard(lock_);
  if (base_ == 0) return false;
  if (!haveTimestamp_) {
    lastTimestamp_ = ts;
    haveTimestamp_ = true;
  } else if (static_cast<int32_t>(ts - lastTimestamp_) > 0) {
    base_ += static_cast<uint64_t>(ts - lastTimestamp_) * 1000 / 9;
    lastTimestamp_ = ts;
  }
  time = base_;
  return true;
}

void CReplayFrameFilter::SetItem(uint64_t begin, uint64_t end) {
  std::lock_guard guard(lock_);
  position_ = begin;
  begin_ = begin;
  end_ = end;
  skipUntilKeyFrame_ = true;
  frames_ = 0;
}

void CReplayFrameFilter::StartRecording() {
  std::lock_guard guard(lock_);
  skipUntilKeyFrame_ = true;
}

CReplayFrameFilter::Verdict CReplayFrameFilter::Take(uint64_t time, bool keyFrame) {
  std::lock_guard guard(lock_);
  if (time <= position_ + (position_ == begin_ ? kSamePictureTicks : 0)) return Verdict::kOld;
  if (keyFrame) skipUntilKeyFrame_ = false;
  ++frames_;
  position_ = time;
  // The end is the first frame the host got live again: that one it already has.
  if (skipUntilKeyFrame_ || time + kSamePictureTicks >= end_) return Verdict::kHeld;
  return Verdict::kDeliver;
}

uint64_t CReplayFrameFilter::GetPosition() {
  std::lock_guard guard(lock_);
  return position_;
}

uint64_t CReplayFrameFilter::GetEnd() {
  std::lock_guard guard(lock_);
  return end_;
}

uint32_t CReplayFrameFilter::GetFrameCount() {
  std::lock_guard guard(lock_);
  return frames_;
}

}  // namespace vantrel
