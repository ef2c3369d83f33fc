#include "audio/base_rtp_audio_parser.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>

#include "core/driver_services.h"
#include "vantrel/ipcapture/audio_types.h"
#include "vantrel/ipcapture/host_objects.h"

namespace vantrel {

namespace {

constexpr const char* kParseACCData = "vantrel::CBaseRTPAudioParser::ParseACCData";
constexpr const char* kProcessAudioFrame = "vantrel::CBaseRTPAudioParser::ProcessAudioFrame";

uint16_t ReadU16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }

}  // namespace

AudioCaptureTime AudioCaptureTimeFromUnixMs(int64_t unixMs) {
  const int64_t msPerDay = 86400000;
  int64_t days = unixMs / msPerDay;
  int64_t rest = unixMs % msPerDay;
  if (rest < 0) {
    rest += msPerDay;
    --days;
  }
  // Civil date from days since 1970-01-01 (proleptic Gregorian), era-based without tables.
  const int64_t z = days + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int64_t day = doy - (153 * mp + 2) / 5 + 1;
  const int64_t month = mp < 10 ? mp + 3 : mp - 9;
  const int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
  AudioCaptureTime t{};
  t.year = static_cast<uint16_t>(year);
  t.month = static_cast<uint16_t>(month);
  t.day = static_cast<uint16_t>(day);
  t.dayOfWeek = static_cast<uint16_t>(((days % 7) + 11) % 7);  // 1970-01-01 was a Thursday (4)
  t.hour = static_cast<uint16_t>(rest / 3600000);
  t.minute = static_cast<uint16_t>(rest / 60000 % 60);
  t.second = static_cast<uint16_t>(rest / 1000 % 60);
  t.milliseconds = static_cast<uint16_t>(rest % 1000);
  return t;
}

CBaseRTPAudioParser::CBaseRTPAudioParser(IDriver* driver, uint32_t channel, IAudioParserClient* client)
    : driver_(driver), client_(client), channel_(channel) {}

void CBaseRTPAudioParser::SetFormat(const AudioFormatBlock& format) {
  format_ = format;
  threshold_ = format.bitRate / 16;
  // A zero rate would flush every payload on its own and give AAC no room at all.
  if (threshold_ == 0) threshold_ = kDefaultThreshold;
  samples_.clear();
  aac_.clear();
}

void CBaseRTPAudioParser::Reset() {
  ++resets_;
  firstPacket_ = true;
  samples_.clear();
  aac_.clear();
}

uint64_t CBaseRTPAudioParser::NowMs() const {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

bool CBaseRTPAudioParser::CheckSequence(uint16_t sequenceNumber) {
  const bool inOrder = firstPacket_ || sequenceNumber == static_cast<uint16_t>(lastSequence_ + 1);
  lastSequence_ = sequenceNumber;
  firstPacket_ = false;
  return inOrder;
}

uint32_t CBaseRTPAudioParser::AacCapacity() const { return threshold_; }

void CBaseRTPAudioParser::ProcessData(const uint8_t* payload, uint32_t size, uint16_t sequenceNumber) {
  if (!CheckSequence(sequenceNumber)) Reset();
  if (!payload) return;
  try {
    if (format_.tag == kAudioTagAac) {
      ParseACCData(payload, size);
      return;
    }
    if (size < 2) return;
    samples_.insert(samples_.end(), payload, payload + size);
    if (samples_.size() >= threshold_) {
      std::vector<uint8_t> frame;
      frame.swap(samples_);
      ProcessAudioFrame(frame.data(), frame.size());
    }
  } catch (...) {
    // A failed allocation or a throwing host ends this payload only.
  }
}

void CBaseRTPAudioParser::ParseACCData(const uint8_t* payload, size_t size) {
  const size_t capacity = AacCapacity();
  size_t offset = 0;
  while (offset < size) {
    const size_t room = capacity > aac_.size() ? capacity - aac_.size() : 0;
    const size_t take = std::min(room, size - offset);
    aac_.insert(aac_.end(), payload + offset, payload + offset + take);
    offset += take;
    TakeAccessUnits();
    if (offset < size && aac_.size() >= capacity) {
      ReportOverflow();
      // The unit at the front is larger than the buffer and can never be taken out; keeping it
      // would drop every payload from now on.
      aac_.clear();
      return;
    }
  }
}

void CBaseRTPAudioParser::TakeAccessUnits() {
  size_t used = 0;
  const uint32_t resets = resets_;
  while (aac_.size() - used >= kAuHeaderBytes) {
    const uint8_t* head = aac_.data() + used;
    if (ReadU16(head) != kSingleAuHeaderBits) break;
    const size_t unitSize = ReadU16(head + 2) >> 3;
    if (aac_.size() - used < kAuHeaderBytes + unitSize) break;
    ProcessAudioFrame(head + kAuHeaderBytes, unitSize);
    // A refused frame resets the parser: the buffer is already empty.
    if (resets_ != resets) return;
    used += kAuHeaderBytes + unitSize;
  }
  aac_.erase(aac_.begin(), aac_.begin() + static_cast<std::ptrdiff_t>(used));
  // A front that is not a single 16-bit AU header never becomes one; waiting would block the
  // stream for good.
  if (aac_.size() >= 2 && ReadU16(aac_.data()) != kSingleAuHeaderBits) aac_.clear();
}

void CBaseRTPAudioParser::ReportOverflow() {
  const uint64_t now = NowMs();
  const uint64_t interval = 10ull * (driver_ ? driver_->GetDeviceInfo().timeout : 5000);
  if (overflowLogged_ && now - lastOverflowLogMs_ < interval) return;
  overflowLogged_ = true;
  lastOverflowLogMs_ = now;
  if (driver_)
    driver_->Log(kLogError, "%s: Audio buffer overflow max=%u mAudioBuffer=%u", kParseACCData,
                 static_cast<unsigned>(AacCapacity()), static_cast<unsigned>(aac_.size()));
}

void CBaseRTPAudioParser::ProcessAudioFrame(const uint8_t* bytes, size_t size) {
  if (!driver_ || !bytes || size == 0) return;
  ipcapture::IIPFrameAllocator* allocator = driver_->GetFrameAllocator();
  if (!allocator) return;
  const std::string owner = driver_->GetDeviceAddress();
  auto* frame = static_cast<ipcapture::IIPAudioFrame*>(
      allocator->AllocateAudio(format_.tag, static_cast<uint32_t>(size), owner.c_str()));
  if (!frame) {
    driver_->Log(kLogError, "%s: Unable to allocate  memory for audio frame!", kProcessAudioFrame);
    return;
  }
  uint8_t* data = frame->GetData();
  if (!data) {
    driver_->Log(kLogError, "%s: Unable to allocate  memory for audio frame!", kProcessAudioFrame);
    allocator->Release(frame);
    return;
  }
  bool delivered = false;
  try {
    std::memcpy(data, bytes, size);
    frame->SetDataSize(static_cast<uint32_t>(size));
    if (format_.tag == kAudioTagAac) {
      if (!decoderConfig_.empty() && decoderConfig_.size() < kMaxDecoderConfig) {
        frame->SetDecoderConfig(decoderConfig_.data(), static_cast<uint32_t>(decoderConfig_.size()));
      } else if (auto config = BuildAacLcConfig(format_.sampleRate, format_.channels)) {
        frame->SetDecoderConfig(config->data(), static_cast<uint32_t>(config->size()));
      }
    }
    frame->SetFormat(format_.sampleRate, format_.bitsPerSample, format_.channels == 2);
    frame->SetBitRate(format_.bitRate);
    frame->SetChannel(channel_);
    const auto unixMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::system_clock::now().time_since_epoch())
                            .count();
    const AudioCaptureTime t = AudioCaptureTimeFromUnixMs(unixMs);
    SYSTEMTIME now{t.year, t.month, t.dayOfWeek, t.day, t.hour, t.minute, t.second, t.milliseconds};
    frame->SetTime(&now);
    delivered = client_ && client_->DeliverFrame(frame);
  } catch (...) {
    delivered = false;
  }
  // Asked after the refusal: a stop that began meanwhile makes it no error.
  if (!delivered && (!client_ || client_->IsTakingFrames())) {
    const DEVICE_INFO& device = driver_->GetDeviceInfo();
    driver_->Log(kLogError, "%s: Audio-frame processing error, camera %s:%u", kProcessAudioFrame,
                 device.address.c_str(), static_cast<unsigned>(device.port));
    Reset();
  }
  allocator->Release(frame);
}

}  // namespace vantrel
